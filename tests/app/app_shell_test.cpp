// The shell's arithmetic and the stand-in frame, without a display: where the window goes, what
// its caption says, where the panels lie, and what the first frames show.
#include "app/app_shell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

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
    // 1000 x 500 with a 130-wide control panel and a 100-high time bar: a = 870, b = 400, g = 2.
    const PanelLayout normal = LayOutPanels(1000, 500, 130, 100, 2.0f, false);
    ExpectRect(normal.notesView, {0, 0, 868, 398}, "notes view");
    ExpectRect(normal.timeBar, {0, 402, 868, 499}, "time bar");
    ExpectRect(normal.controlPanel, {872, 0, 999, 499}, "control panel");
    ExpectRect(normal.horizontalSplitter, {0, 398, 870, 402}, "horizontal splitter");
    ExpectRect(normal.verticalSplitter, {868, 0, 872, 500}, "vertical splitter");

    const PanelLayout full = LayOutPanels(1000, 500, 130, 100, 2.0f, true);
    ExpectRect(full.notesView, {0, 0, 1000, 500}, "notes view in full view");
    EXPECT_EQ(full.timeBar.Width(), 0.0f);
    EXPECT_EQ(full.controlPanel.Width(), 0.0f);

    // Splitters dragged to the edges leave every panel its smallest share.
    const float g = kSplitterHalfWidth;
    const float narrowest = kReferenceWidth * kSmallestPanelShare - 1e-3f;
    const float lowest = kReferenceHeight * kSmallestPanelShare - 1e-3f;
    for (const float wanted : {0.0f, 1.0e6f}) {
        const PanelLayout l = LayOutPanels(1000, 500, wanted, wanted, g, false);
        EXPECT_GE(l.notesView.Width() + g, narrowest) << wanted;
        EXPECT_GE(l.notesView.Height() + g, lowest) << wanted;
        EXPECT_GE(1000 - (l.verticalSplitter.left + g), narrowest) << wanted;
        EXPECT_GE(500 - (l.horizontalSplitter.top + g), lowest) << wanted;
    }
}

// The window's pixel size gives a scale and a design size; the control panel and the time bar keep
// their design size, so their pixels grow with the scale, and the notes view takes the rest.
TEST(UiScaleFor, TheReferenceIsOneAndPanelsKeepTheirProportions) {
    const struct {
        int w, h;
    } sizes[] = {{800, 500},   {800, 1200},  {1024, 768},  {1536, 832}, {1536, 864},
                 {1920, 1080}, {2400, 1350}, {1080, 1920}, {3840, 2160}};
    const float smallText = GraphicsDevice{}.textSmall.size;
    for (const auto& a : sizes) {
        const float s = UiScaleFor(a.w, a.h);
        SCOPED_TRACE(std::to_string(a.w) + " x " + std::to_string(a.h) + " at " + std::to_string(s));
        EXPECT_GE(std::lround(smallText * s), 11) << "the smallest labels stay legible";
        for (const auto& b : sizes) {
            if (b.w >= a.w && b.h >= a.h) {
                EXPECT_LE(s, UiScaleFor(b.w, b.h)) << b.w << " x " << b.h;
            }
        }
        const float W = static_cast<float>(a.w) / s, H = static_cast<float>(a.h) / s;
        const PanelLayout l =
            LayOutPanels(W, H, kDefaultControlPanelWidth, kDefaultTimeBarHeight, kSplitterHalfWidth, false);
        const float g = kSplitterHalfWidth;
        EXPECT_NEAR((W - (l.verticalSplitter.left + g)) * s, kDefaultControlPanelWidth * s, 1e-3f);
        EXPECT_NEAR((H - (l.horizontalSplitter.top + g)) * s, kDefaultTimeBarHeight * s, 1e-3f);
    }
    // The reference size is drawn one pixel per design unit and laid out to the bit as the shares
    // lay it out, so frames drawn at that size do not change.
    EXPECT_EQ(UiScaleFor(static_cast<int>(kReferenceWidth), static_cast<int>(kReferenceHeight)), 1.0f);
    const PanelLayout r = LayOutPanels(kReferenceWidth, kReferenceHeight, kDefaultControlPanelWidth,
                                       kDefaultTimeBarHeight, kSplitterHalfWidth, false);
    EXPECT_EQ(r.verticalSplitter.left + kSplitterHalfWidth, kReferenceWidth * kDefaultSplitX);
    EXPECT_EQ(r.horizontalSplitter.top + kSplitterHalfWidth, kReferenceHeight * kDefaultSplitY);
}

TEST(ParseWindowSize, WidthByHeight) {
    const struct {
        const char* text;
        bool ok;
        int w, h;
    } cases[] = {{"800x500", true, 800, 500}, {"1080x1920", true, 1080, 1920}, {"800", false, 0, 0},
                 {"800x", false, 0, 0},       {"x500", false, 0, 0},           {"0x500", false, 0, 0},
                 {"800x500x", false, 0, 0},   {"-800x500", false, 0, 0},       {"999999x500", false, 0, 0},
                 {"800 x 500", false, 0, 0}};
    for (const auto& c : cases) {
        int w = 0, h = 0;
        EXPECT_EQ(ParseWindowSize(c.text, &w, &h), c.ok) << c.text;
        EXPECT_EQ(w * 10000 + h, c.w * 10000 + c.h) << c.text;
    }
}

}  // namespace
