// The control panel as a drawing that answers presses: which typed request each control gives,
// and when it gives none.
#include "ui/control_panel.h"

#include <gtest/gtest.h>

#include "core/palette.h"
#include "view/recording_target.h"

namespace {

struct PanelRig {
    PanelRig() {
        device.target = &target;
        panel.palette = &kDefaultPalette;
        panel.background = 20;
        panel.Init(&device, &mouse);
        panel.CreateBrushes();
        panel.Build("file:///guide.html");
        panel.SetRect(1000, 0, 1300, 831);
        shown.song.songLoaded = shown.song.songReady = true;
        shown.song.song = &song;
        shown.soundFontLabel = "TimGM6mb";
        shown.midiLabel = "little song";
    }
    // A press at (x, y) after a frame with the button up, so that the press is a fresh one.
    PanelRequest PressAt(float x, float y) {
        panel.mouseDown = false;
        (void)panel.Frame(shown);
        mouse = {static_cast<int>(x), static_cast<int>(y)};
        panel.mouseDown = true;
        target.calls.clear();
        return panel.Frame(shown);
    }
    PanelRequest PressButton(const Button& b) {
        return PressAt((b.left + b.right) / 2, (b.top + b.bottom) / 2);
    }
    PanelRequest PressTransport(int which) {
        const RectF& r = panel.transportButtons[which];
        return PressAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }

    SongData song;
    viewtest::RecordingTarget target;
    GraphicsDevice device;
    PointI mouse;
    ControlPanel panel;
    PanelSnapshot shown;
};

TEST(ControlPanel, EachControlAsksForItsOwnIntent) {
    PanelRig rig;
    (void)rig.panel.Frame(rig.shown);  // lays the buttons out
    EXPECT_EQ(rig.PressButton(rig.panel.soundFontButton).intent, PanelIntent::ChooseSoundFont);
    EXPECT_EQ(rig.PressButton(rig.panel.midiButton).intent, PanelIntent::ChooseMidi);
    EXPECT_EQ(rig.PressButton(rig.panel.exportButton).intent, PanelIntent::ExportAudio);
    EXPECT_EQ(rig.PressButton(rig.panel.videoButton).intent, PanelIntent::ExportVideo);
    EXPECT_EQ(rig.PressTransport(TransportRewind).intent, PanelIntent::Rewind);
    EXPECT_EQ(rig.PressTransport(TransportPlayPause).intent, PanelIntent::Play);
    EXPECT_EQ(rig.PressTransport(TransportStop).intent, PanelIntent::Stop);
    rig.shown.song.play = PlayView::Playing;
    EXPECT_EQ(rig.PressTransport(TransportPlayPause).intent, PanelIntent::Pause);
    rig.panel.videoExportRunning = true;
    EXPECT_EQ(rig.PressButton(rig.panel.videoButton).intent, PanelIntent::CancelVideoExport);
}

TEST(ControlPanel, AsksForNothingWhenItMayNot) {
    struct Case {
        const char* name;
        bool canStart, ready, busy;
        bool largeAsk, transportAsk;
    };
    const Case cases[] = {
        {"free", true, true, false, true, true},
        {"large buttons held back", false, true, false, false, true},
        {"song not ready", true, false, false, true, false},
        {"owner busy", true, true, true, true, false},
    };
    for (const Case& k : cases) {
        PanelRig rig;
        rig.shown.canStart = k.canStart;
        rig.shown.song.songReady = k.ready;
        rig.shown.song.busy = k.busy;
        (void)rig.panel.Frame(rig.shown);
        EXPECT_EQ(rig.PressButton(rig.panel.midiButton).intent != PanelIntent::None, k.largeAsk) << k.name;
        EXPECT_EQ(rig.PressTransport(TransportStop).intent != PanelIntent::None, k.transportAsk) << k.name;
    }
}

TEST(ControlPanel, ExportButtonsThatMustWaitLookSoAndSayWhy) {
    PanelRig rig;
    rig.shown.exportBlocked = "still rendering";
    (void)rig.panel.Frame(rig.shown);
    for (Button* b : {&rig.panel.exportButton, &rig.panel.videoButton}) {
        EXPECT_TRUE(b->dimmed);
        EXPECT_EQ(rig.PressButton(*b).intent, PanelIntent::None) << b->text;
        const auto hint =
            rig.target.Where([](const viewtest::Call& c) { return c.text == "still rendering"; });
        EXPECT_EQ(hint.size(), 1u) << "the reason, while the mouse is over " << b->text;
    }
    rig.mouse = {0, 0};
    rig.panel.mouseDown = false;
    rig.target.calls.clear();
    (void)rig.panel.Frame(rig.shown);
    EXPECT_TRUE(rig.target.Where([](const viewtest::Call& c) { return c.text == "still rendering"; }).empty())
        << "and only then";

    rig.shown.exportBlocked = {};
    (void)rig.panel.Frame(rig.shown);
    EXPECT_FALSE(rig.panel.exportButton.dimmed);
    EXPECT_EQ(rig.PressButton(rig.panel.exportButton).intent, PanelIntent::ExportAudio);
}

TEST(ControlPanel, WithoutAMouseItOnlyDraws) {
    PanelRig rig;
    rig.panel.mousePoint = nullptr;
    rig.panel.mouseDown = true;
    rig.shown.renderProgress = 42;
    EXPECT_EQ(rig.panel.Frame(rig.shown).intent, PanelIntent::None);
    EXPECT_FALSE(rig.target.calls.empty());
    EXPECT_EQ(rig.panel.midiLabel.text, "little song");
    EXPECT_FLOAT_EQ(rig.panel.midiButton.progress, 42) << "the render's progress on \"Load MIDI\"";
}

}  // namespace
