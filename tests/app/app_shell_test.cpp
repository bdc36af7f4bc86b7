// The shell's arithmetic and the stand-in frame, without a display: where the window goes, what
// its caption says, where the panels lie, and what the first frames show.
#include "app/app_shell.h"

#include <gtest/gtest.h>

#include "core/panel_layout.h"
#include "platform/graphics_sdl.h"

namespace {

TEST(PlaceMainWindow, EightyPercentCentredOnTheUsableArea) {
    struct Case {
        platform::RectI usable;
        WindowPlacement want;
    };
    const Case cases[] = {
        {{0, 0, 1920, 1040}, {192, 104, 1536, 832}},
        {{0, 0, 1920, 1080}, {192, 108, 1536, 864}},
        // Odd sizes round the 80 % down and the half sizes down, each on its own.
        {{0, 0, 1366, 728}, {137, 73, 1092, 582}},
        {{0, 0, 1001, 601}, {100, 60, 800, 480}},
        // A task bar on the left or at the top moves the usable area's origin.
        {{64, 0, 1856, 1080}, {64 + 186, 108, 1484, 864}},
        {{0, 32, 2560, 1408}, {256, 32 + 141, 2048, 1126}},
    };
    for (const Case& c : cases) {
        const WindowPlacement got = PlaceMainWindow(c.usable);
        EXPECT_EQ(got.width, c.want.width) << c.usable.width << " x " << c.usable.height;
        EXPECT_EQ(got.height, c.want.height) << c.usable.width << " x " << c.usable.height;
        EXPECT_EQ(got.x, c.want.x) << c.usable.width << " x " << c.usable.height;
        EXPECT_EQ(got.y, c.want.y) << c.usable.width << " x " << c.usable.height;
    }
}

TEST(WindowCaption, TitleAndVersion) {
    EXPECT_EQ(WindowCaption("Dorvik Midi Player", kProgramVersion), "Dorvik Midi Player 1.0");
}

void ExpectRect(const RectF& got, const RectF& want, const char* what) {
    EXPECT_FLOAT_EQ(got.left, want.left) << what;
    EXPECT_FLOAT_EQ(got.top, want.top) << what;
    EXPECT_FLOAT_EQ(got.right, want.right) << what;
    EXPECT_FLOAT_EQ(got.bottom, want.bottom) << what;
}

TEST(LayOutPanels, SplitsAndFullView) {
    // 1000 x 500 at the starting ratios: a = 870, b = 400, g = 2.
    const PanelLayout normal = LayOutPanels(1000, 500, 0.87f, 0.8f, 2.0f, false);
    ExpectRect(normal.notesView, {0, 0, 868, 398}, "notes view");
    ExpectRect(normal.timeBar, {0, 402, 868, 499}, "time bar");
    ExpectRect(normal.controlPanel, {872, 0, 999, 499}, "control panel");
    ExpectRect(normal.horizontalSplitter, {0, 398, 870, 402}, "horizontal splitter");
    ExpectRect(normal.verticalSplitter, {868, 0, 872, 500}, "vertical splitter");

    const PanelLayout full = LayOutPanels(1000, 500, 0.87f, 0.8f, 2.0f, true);
    ExpectRect(full.notesView, {0, 0, 1000, 500}, "notes view in full view");
    EXPECT_EQ(full.timeBar.Width(), 0.0f);
    EXPECT_EQ(full.controlPanel.Width(), 0.0f);
}

}  // namespace
