// The drawing layer under the panels: the note sprite's three slices and their clipping, the
// empty bitmap, and a panel's colours and background.
#include <gtest/gtest.h>

#include <vector>

#include "tests/view/recording_target.h"
#include "view/bitmap.h"
#include "view/panel.h"

namespace {

using viewtest::Call;
using viewtest::FakeImages;
using viewtest::Op;
using viewtest::RecordingTarget;

void ExpectRect(const RectF& got, const RectF& want, const char* what) {
    EXPECT_FLOAT_EQ(got.left, want.left) << what;
    EXPECT_FLOAT_EQ(got.top, want.top) << what;
    EXPECT_FLOAT_EQ(got.right, want.right) << what;
    EXPECT_FLOAT_EQ(got.bottom, want.bottom) << what;
}

struct Piece {
    RectF dest, source;
};

struct SpriteCase {
    const char* name;
    RectF given;
    float clipHeight;
    RectF widened;
    std::vector<Piece> pieces;  // top cap, middle, bottom cap, as far as drawn
};

TEST(NoteSprite, SlicesAndClipping) {
    const SpriteCase cases[] = {
        {"long note entering at the top and crossing the clip height: only the middle",
         {100, -50, 120, 300},
         260,
         {80, -50, 140, 300},
         {{{80, 0, 140, 260}, {0, 36, 96, 60}}}},
        {"short sprite near the top: top cap, and the bottom cap cut at y = 0",
         {100, 10, 120, 20},
         260,
         {80, 10, 140, 20},
         {{{80, 10, 140, 45}, {0, 0, 96, 35}}, {{80, 0, 140, 20}, {0, 76, 96, 96}}}},
        {"whole sprite inside the band",
         {100, 50, 120, 200},
         260,
         {80, 50, 140, 200},
         {{{80, 50, 140, 85}, {0, 0, 96, 35}},
          {{80, 85, 140, 165}, {0, 36, 96, 60}},
          {{80, 165, 140, 200}, {0, 61, 96, 96}}}},
        {"top cap partly above y = 0, bottom cap cut at the clip height",
         {100, -20, 120, 280},
         260,
         {80, -20, 140, 280},
         {{{80, 0, 140, 15}, {0, 20, 96, 35}},
          {{80, 15, 140, 245}, {0, 36, 96, 60}},
          {{80, 245, 140, 260}, {0, 61, 96, 76}}}},
        {"inverted rectangle: nothing", {100, 300, 120, 200}, 260, {80, 300, 140, 200}, {}},
        {"shorter than its two caps: caps only, no mirrored middle",
         {100, 100, 120, 160},
         260,
         {80, 100, 140, 160},
         {{{80, 100, 140, 135}, {0, 0, 96, 35}}, {{80, 125, 140, 160}, {0, 61, 96, 96}}}},
    };
    for (const SpriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingTarget target;
        GraphicsDevice device;
        device.target = &target;
        const Bitmap sprite = Bitmap::LoadPng(131, &device, &FakeImages);
        ASSERT_TRUE(sprite.Loaded());
        RectF r = c.given;
        sprite.DrawNoteSprite(r, c.clipHeight, 0.75f);
        ExpectRect(r, c.widened, "rectangle written back");
        ASSERT_EQ(target.calls.size(), c.pieces.size());
        for (size_t i = 0; i < c.pieces.size(); ++i) {
            const Call& call = target.calls[i];
            EXPECT_EQ(call.imageId, 131);
            EXPECT_FLOAT_EQ(call.opacity, 0.75f);
            ExpectRect(call.rect, c.pieces[i].dest, "destination");
            ExpectRect(call.source, c.pieces[i].source, "source");
        }
    }
}

TEST(Bitmap, MissingImageDrawsNothingButStillWidensTheSprite) {
    RecordingTarget target;
    GraphicsDevice device;
    device.target = &target;
    const Bitmap missing = Bitmap::LoadPng(999, &device, [](int) { return res::EmbeddedFile{}; });
    const Bitmap garbage = Bitmap::LoadPng(131, &device, [](int) {
        static const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        return res::EmbeddedFile{bytes, sizeof bytes};
    });
    for (const Bitmap* b : {&missing, &garbage}) {
        EXPECT_FALSE(b->Loaded());
        b->Draw(0, 0, 10, 10, 1.0f);
        b->DrawPart({0, 0, 10, 10}, {0, 0, 5, 5}, 1.0f);
        RectF r{100, 50, 120, 200};
        b->DrawNoteSprite(r, 260, 1.0f);
        ExpectRect(r, {80, 50, 140, 200}, "the caller's rectangle is widened all the same");
    }
    EXPECT_TRUE(target.calls.empty());
}

TEST(Bitmap, DrawsWholeImageAndKeepsOpacityInRange) {
    RecordingTarget target;
    GraphicsDevice device;
    device.target = &target;
    const Bitmap octave = Bitmap::LoadPng(142, &device, &FakeImages);
    octave.Draw(40, 700, 180, 831, 1.0f);
    octave.DrawPart({0, 0, 1, 1}, {0, 0, 1, 1}, -0.05f);  // a spark faded a step below zero
    octave.DrawPart({0, 0, 1, 1}, {0, 0, 1, 1}, 1.5f);
    ASSERT_EQ(target.calls.size(), 3u);
    ExpectRect(target.calls[0].source, {0, 0, 609, 492}, "whole image");
    ExpectRect(target.calls[0].rect, {40, 700, 180, 831}, "destination");
    EXPECT_FLOAT_EQ(target.calls[1].opacity, 0.0f);
    EXPECT_FLOAT_EQ(target.calls[2].opacity, 1.0f);
}

TEST(Panel, BrushesFollowThePaletteAndTheBackgroundFollowsTheRectangle) {
    RecordingTarget target;
    GraphicsDevice device;
    device.target = &target;
    PointI mouse;
    Panel panel;
    panel.palette = &kDefaultPalette;
    panel.background = PalTimeBar;
    panel.mouseDown = true;
    panel.Init(&device, &mouse);
    panel.CreateBrushes();
    EXPECT_FALSE(panel.mouseDown);
    EXPECT_FLOAT_EQ(panel.brushes[12].r, 0x97 / 255.0f);
    EXPECT_FLOAT_EQ(panel.brushes[23].b, 0x80 / 255.0f);

    panel.SetRect(0, 669, 1332, 831);
    panel.DrawBackground();
    panel.SetRect(0, 500, 1000, 831);  // a splitter moved
    panel.DrawBackground();
    ASSERT_EQ(target.calls.size(), 2u);
    EXPECT_EQ(panel.width, 1000.0f);
    EXPECT_EQ(panel.height, 331.0f);
    ExpectRect(target.calls[0].rect, {0, 669, 1332, 831}, "first frame");
    ExpectRect(target.calls[1].rect, {0, 500, 1000, 831}, "after the move");
    EXPECT_FLOAT_EQ(target.calls[1].colour.b, 0x20 / 255.0f);
}

}  // namespace
