#include "ui/widgets.h"

#include <gtest/gtest.h>

#include <array>

#include "core/palette.h"
#include "platform/dialogs.h"
#include "view/graphics_device.h"
#include "view/recording_target.h"

namespace {

using viewtest::Call;
using viewtest::Op;
using viewtest::RecordingTarget;

bool SameColour(ColourF a, ColourF b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

std::vector<Call> Fills(const RecordingTarget& t) {
    return t.Where([](const Call& c) { return c.op == Op::Fill; });
}

struct WidgetFixture : ::testing::Test {
    WidgetFixture() {
        for (int i = 0; i < 24; ++i) brushes[i] = PaletteColour(kDefaultPalette.colour[i]);
        device.target = &target;
        button.device = &device;
        button.brushes = brushes.data();
        button.offsetY = 250;
        button.text = "Load MIDI";
    }

    std::array<ColourF, 24> brushes{};
    RecordingTarget target;
    GraphicsDevice device;
    Button button;
};

// One frame of mouse input: where the pointer is and whether the left button is held.
struct MouseFrame {
    bool over;
    bool down;
    bool expectClick;
    int32_t expectState;
    bool pressed = false;  // the button went down since the last frame
};

TEST_F(WidgetFixture, ClickFiresOnThePressAndOncePerPress) {
    const PointI inside{100, 260}, outside{100, 100};
    const struct {
        const char* name;
        std::vector<MouseFrame> frames;
    } cases[] = {
        {"press and hold fires once",
         {{true, false, false, 1}, {true, true, true, 2}, {true, true, false, 1}, {true, true, false, 1}}},
        {"release and press again fires again",
         {{true, true, true, 2}, {true, false, false, 1}, {true, true, true, 2}}},
        {"a press dragged onto the button fires on arrival",
         {{false, true, false, 0}, {false, true, false, 0}, {true, true, true, 2}, {true, true, false, 1}}},
        {"a press that leaves and comes back without release does not fire again",
         {{true, true, true, 2}, {false, true, false, 0}, {true, true, false, 1}}},
        {"hovering with the button up never fires", {{true, false, false, 1}, {true, false, false, 1}}},
        // A touchpad tap: down and up between two frames, so the button is up when it looks.
        {"a tap within one frame fires once",
         {{true, false, false, 1}, {true, false, true, 2, true}, {true, false, false, 1}}},
        {"a tap while held from before fires again",
         {{true, true, true, 2}, {true, true, true, 2, true}, {true, true, false, 1}}},
        {"a tap beside the button does not fire", {{false, false, false, 0, true}}},
    };
    for (const auto& c : cases) {
        Button b = button;
        int frame = 0;
        for (const MouseFrame& f : c.frames) {
            const bool clicked = b.Update(0, 300, 0, f.over ? &inside : &outside, f.down, f.pressed);
            EXPECT_EQ(clicked, f.expectClick) << c.name << ", frame " << frame;
            EXPECT_EQ(b.state, f.expectState) << c.name << ", frame " << frame;
            ++frame;
        }
    }
}

TEST_F(WidgetFixture, LayoutAndHitTestIncludeTheEdges) {
    // The button spans the panel inset by 10 and is 30 high from its offset.
    const PointI corners[] = {{10, 250}, {290, 250}, {10, 280}, {290, 280}};
    for (const PointI& p : corners) {
        Button b = button;
        EXPECT_TRUE(b.Update(0, 300, 0, &p, true)) << "expected a click at " << p.x << "," << p.y;
        EXPECT_FLOAT_EQ(b.left, 10);
        EXPECT_FLOAT_EQ(b.right, 290);
        EXPECT_FLOAT_EQ(b.top, 250);
        EXPECT_FLOAT_EQ(b.bottom, 280);
    }
    const PointI misses[] = {{9, 260}, {291, 260}, {100, 249}, {100, 281}};
    for (const PointI& p : misses) {
        Button b = button;
        EXPECT_FALSE(b.Update(0, 300, 0, &p, true)) << "expected no click at " << p.x << "," << p.y;
    }
}

TEST_F(WidgetFixture, ButtonLeftOfTheWindowIsNeitherHitNorDrawn) {
    const PointI p{-15, 260};
    EXPECT_FALSE(button.Update(-40, 5, 0, &p, true));
    EXPECT_TRUE(Fills(target).empty());
    EXPECT_TRUE(target.Texts().empty());
    EXPECT_TRUE(button.armed) << "a skipped button keeps its click for later";
}

TEST_F(WidgetFixture, ProgressShowsInTheCaptionAndAsABar) {
    const PointI away{0, 0};
    button.showProgress = true;
    button.progress = 42.4f;
    button.Update(0, 300, 0, &away, false);
    ASSERT_EQ(target.Texts().size(), 1u);
    EXPECT_EQ(target.Texts()[0].text, "Load MIDI (42%)");
    ASSERT_EQ(Fills(target).size(), 3u) << "frame, fill and progress bar";
    const RectF bar = Fills(target)[2].rect;
    EXPECT_FLOAT_EQ(bar.left, 11);
    EXPECT_NEAR(bar.right, 10 + 0.424f * 280 - 1, 1e-3);
    EXPECT_TRUE(SameColour(Fills(target)[2].colour, brushes[11]));

    target.calls.clear();
    button.progress = -1.0f;
    button.Update(0, 300, 0, &away, false);
    ASSERT_EQ(target.Texts().size(), 1u);
    EXPECT_EQ(target.Texts()[0].text, "Load MIDI");
    EXPECT_EQ(Fills(target).size(), 2u) << "no bar without a progress value";

    target.calls.clear();
    button.showProgress = false;
    button.progress = 50;
    button.Update(0, 300, 0, &away, false);
    EXPECT_EQ(target.Texts()[0].text, "Load MIDI") << "progress is ignored unless the button shows it";
}

TEST_F(WidgetFixture, ColoursFollowTheStateAndTheCaptionDropsOnClick) {
    const PointI inside{100, 260}, outside{100, 0};
    const struct {
        const PointI* p;
        bool down;
        int fill, text;
        float textTop;
    } cases[] = {
        {&outside, false, 4, 8, 253},
        {&inside, false, 6, 9, 253},
        {&inside, true, 7, 10, 254},
    };
    for (const auto& c : cases) {
        Button b = button;
        target.calls.clear();
        b.Update(0, 300, 0, c.p, c.down);
        ASSERT_EQ(Fills(target).size(), 2u);
        EXPECT_TRUE(SameColour(Fills(target)[0].colour, brushes[5])) << "the frame";
        EXPECT_TRUE(SameColour(Fills(target)[1].colour, brushes[c.fill])) << "state " << b.state;
        ASSERT_EQ(target.Texts().size(), 1u);
        EXPECT_TRUE(SameColour(target.Texts()[0].colour, brushes[c.text])) << "state " << b.state;
        EXPECT_FLOAT_EQ(target.Texts()[0].rect.top, c.textTop) << "state " << b.state;
        EXPECT_FLOAT_EQ(target.Texts()[0].rect.bottom - target.Texts()[0].rect.top, 20);
    }
}

TEST_F(WidgetFixture, LinkAsksOncePerPress) {
    LinkButton link;
    link.device = &device;
    link.brushes = brushes.data();
    link.offsetY = 50;
    link.text = "User guide";
    link.url = "file:///usr/share/doc/guide.html";
    const PointI inside{0, 60};
    EXPECT_TRUE(link.Update(0, 200, 0, &inside, true));
    EXPECT_FALSE(link.Update(0, 200, 0, &inside, true)) << "held: the press asks only once";
    EXPECT_FLOAT_EQ(link.left, 0) << "links span the whole panel";
    EXPECT_FLOAT_EQ(link.right, 200);
    EXPECT_TRUE(SameColour(Fills(target).back().colour, brushes[23])) << "held over the link: hover fill";
    EXPECT_FALSE(link.Update(0, 200, 0, &inside, false));
    EXPECT_TRUE(link.Update(0, 200, 0, &inside, true)) << "a second press asks again";
}

TEST_F(WidgetFixture, LabelIsCentredAcrossThePanelInWholePixels) {
    Label label;
    label.device = &device;
    label.brushes = brushes.data();
    label.offsetY = 190;
    label.text = "FluidR3_GM";
    label.Draw(1336.5f, 1535.0f, 0);
    ASSERT_EQ(target.Texts().size(), 1u);
    const RectF r = target.Texts()[0].rect;
    EXPECT_FLOAT_EQ(r.left, 1336.5f);
    EXPECT_FLOAT_EQ(r.right, 1336.5f + 198) << "the width is whole pixels";
    EXPECT_FLOAT_EQ(r.top, 193);
    EXPECT_FLOAT_EQ(r.bottom, 203);
    EXPECT_TRUE(target.Texts()[0].format.ellipsis);
    EXPECT_EQ(target.Texts()[0].format.weight, 700);
    EXPECT_FLOAT_EQ(label.bottom - label.top, 20);
}

// The slider in a panel from x = 0 to 300 at y = 700: its track runs from 110 (0%) to 286 (100%).
struct SliderFixture : WidgetFixture {
    SliderFixture() {
        slider.device = &device;
        slider.brushes = brushes.data();
        slider.caption = "Volume";
    }
    Slider slider;
};

TEST_F(SliderFixture, DragsFromAPressOnTheTrackAndReportsTheRelease) {
    struct Step {
        int x, y;
        bool down;
        SliderChange change;
        float value;
        bool pressed = false;
    };
    using enum SliderChange;
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"a press jumps to the pointer, the drag follows it off the row, the release keeps it",
         {{198, 710, false, None, 40},
          {198, 710, true, Moved, 50},
          {250, 650, true, Moved, 80},
          {250, 650, false, Released, 80},
          {250, 650, false, None, 80}}},
        {"holding still asks nothing more", {{198, 710, true, Moved, 50}, {198, 712, true, None, 50}}},
        {"the drag stops at the ends",
         {{104, 700, true, Moved, 0},
          {400, 700, true, Moved, 100},
          {-50, 700, true, Moved, 0},
          {-50, 700, false, Released, 0}}},
        {"a press begun elsewhere does not take it",
         {{198, 600, true, None, 40}, {198, 710, true, None, 40}, {198, 710, false, None, 40}}},
        {"a press on the caption does not take it", {{50, 710, true, None, 40}, {50, 710, false, None, 40}}},
        // Down and up between two frames: the knob goes where the tap was, and stays.
        {"a tap on the track within one frame sets it",
         {{198, 710, false, Released, 50, true}, {198, 710, false, None, 50}}},
        {"a tap beside the track sets nothing", {{198, 600, false, None, 40, true}}},
    };
    for (const auto& c : cases) {
        Slider s = slider;
        float owner = 40;  // the owner plays at whatever the slider asks for
        int step = 0;
        for (const Step& f : c.steps) {
            const PointI p{f.x, f.y};
            const SliderChange change = s.Update(0, 300, 700, &p, f.down, owner, f.pressed);
            EXPECT_EQ(change, f.change) << c.name << ", step " << step;
            EXPECT_FLOAT_EQ(s.value, f.value) << c.name << ", step " << step;
            if (change != None) owner = s.value;
            ++step;
        }
    }
}

TEST_F(SliderFixture, ShowsTheValueWithItsCaptionWhereThereIsRoom) {
    const PointI away{0, 0};
    const struct {
        float panelRight;
        const char* text;
        bool track;
    } cases[] = {{300, "Volume 80%", true}, {120, "80%", true}, {80, "80%", false}};
    for (const auto& c : cases) {
        target.calls.clear();
        EXPECT_EQ(slider.Update(0, c.panelRight, 700, &away, false, 80.2f), SliderChange::None);
        ASSERT_EQ(target.Texts().size(), 1u) << c.panelRight;
        EXPECT_EQ(target.Texts()[0].text, c.text);
        EXPECT_LE(target.Texts()[0].rect.right, c.track ? slider.trackLeft : slider.right) << c.panelRight;
        const auto fills = Fills(target);
        ASSERT_EQ(fills.size(), c.track ? 3u : 0u) << "track, its filled part and the knob";
        if (c.track) {
            EXPECT_NEAR(fills[1].rect.right,
                        slider.trackLeft + 0.802f * (slider.trackRight - slider.trackLeft), 1e-3)
                << "filled up to the value";
            const PointI press{static_cast<int>(slider.trackLeft), 710};
            EXPECT_EQ(slider.Update(0, c.panelRight, 700, &press, true, 80), SliderChange::Moved);
            EXPECT_EQ(slider.Update(0, c.panelRight, 700, &press, false, 0), SliderChange::Released);
        }
    }
}

}  // namespace
