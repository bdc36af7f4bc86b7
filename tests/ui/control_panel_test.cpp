// The control panel as a drawing that answers presses: which typed request each control gives,
// and when it gives none.
#include "ui/control_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/palette.h"
#include "core/panel_layout.h"
#include "core/song_data.h"
#include "platform/graphics_sdl.h"
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
    // A press at (x, y) after a frame with the button up, so that the press is a fresh one. A tap
    // went down and up again before the frame, as a touchpad's can.
    PanelRequest PressAt(float x, float y) {
        panel.mouseDown = false;
        panel.pressed = false;
        (void)panel.Frame(shown);
        mouse = {static_cast<int>(x), static_cast<int>(y)};
        panel.mouseDown = !tap;
        panel.pressed = true;
        target.calls.clear();
        const PanelRequest request = panel.Frame(shown);
        panel.pressed = false;
        return request;
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
    bool tap = false;
};

TEST(ControlPanel, EachControlAsksForItsOwnIntentHeldOrTapped) {
    for (const bool tap : {false, true}) {
        SCOPED_TRACE(tap ? "tapped within a frame" : "held");
        PanelRig rig;
        rig.tap = tap;
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
        rig.shown.videoExportProgress = 0;  // a video export runs
        EXPECT_EQ(rig.PressButton(rig.panel.videoButton).intent, PanelIntent::CancelVideoExport);
        EXPECT_EQ(rig.PressAt(rig.panel.link.left + 20, rig.panel.link.top + 5).intent,
                  PanelIntent::OpenGuide);
    }
}

// The slider asks for each new value while it is dragged and for the last one when it is let go;
// it never changes the volume itself, and it is never held back, not even while the owner is busy.
TEST(ControlPanel, TheVolumeSliderAsksForWhatItIsDraggedTo) {
    PanelRig rig;
    rig.shown.song.busy = true;
    rig.shown.canStart = false;
    rig.shown.volumePercent = 80;
    (void)rig.panel.Frame(rig.shown);
    const Slider& s = rig.panel.volume;
    const float y = (s.top + s.bottom) / 2;
    const float middle = (s.trackLeft + s.trackRight) / 2;
    PanelRequest asked = rig.PressAt(middle, y);
    EXPECT_EQ(asked.intent, PanelIntent::SetVolume);
    EXPECT_FLOAT_EQ(asked.volume, 50);
    EXPECT_EQ(rig.target.Where([](const viewtest::Call& c) { return c.text == "Volume 50%"; }).size(), 1u)
        << "the value dragged to shows in the frame of the drag";
    EXPECT_FLOAT_EQ(rig.shown.volumePercent, 80) << "the panel only asks";

    rig.mouse = {static_cast<int>(s.trackRight) + 30, static_cast<int>(y)};
    asked = rig.panel.Frame(rig.shown);
    EXPECT_EQ(asked.intent, PanelIntent::SetVolume);
    EXPECT_FLOAT_EQ(asked.volume, 100);
    rig.panel.mouseDown = false;
    asked = rig.panel.Frame(rig.shown);
    EXPECT_EQ(asked.intent, PanelIntent::KeepVolume);
    EXPECT_FLOAT_EQ(asked.volume, 100);
    EXPECT_EQ(rig.panel.Frame(rig.shown).intent, PanelIntent::None);
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

// A band of six voices and drums, in a window of the given size at its default split.
void ShowBandInWindow(PanelRig& rig, int windowWidth, int windowHeight) {
    ASSERT_TRUE(rig.song.AllocateNotes(6));
    rig.song.reading = ReadingVoices;
    rig.song.partCount = 6;
    rig.song.percussionNotes = 1211;
    for (int p = 0; p < 6; ++p) {
        SongPart& part = rig.song.parts[p];
        part.notes = rig.song.noteStore.get() + p;
        part.noteCount = 1;
        part.channel = p;
        part.track = p + 1;
        part.program = 30;
        part.colour = p;
    }
    const float scale = UiScaleFor(windowWidth, windowHeight);
    const PanelLayout layout =
        LayOutPanels(static_cast<float>(windowWidth) / scale, static_cast<float>(windowHeight) / scale,
                     kDefaultControlPanelWidth, kDefaultTimeBarHeight, kSplitterHalfWidth, false);
    const RectF& r = layout.controlPanel;
    rig.panel.SetRect(r.left, r.top, r.right, r.bottom);
    rig.mouse = {0, 0};
}

TEST(ControlPanel, TheLegendKeepsRowsInTheSmallestWindowAndNothingOverlaps) {
    struct Case {
        int width, height;
        bool notice;
        int leastRows;
    };
    const Case cases[] = {
        {800, 500, false, 3},
        {1536, 864, false, 6},
        {1536, 864, true, 6},
        {1000, 600, false, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << (c.notice ? " with notice" : ""));
        PanelRig rig;
        ShowBandInWindow(rig, c.width, c.height);
        if (c.notice) rig.panel.ShowExportNotice("/tmp/song.flac");
        (void)rig.panel.Frame(rig.shown);
        ControlPanel& p = rig.panel;
        EXPECT_GE(p.legend.shownRows, c.leastRows);
        // Top to bottom, each control clear of the next.
        const std::vector<std::pair<float, float>> spans = {
            {p.link.top, p.link.bottom},
            {p.soundFontButton.top, p.soundFontButton.bottom},
            {p.soundFontLabel.top, p.soundFontLabel.bottom},
            {p.midiButton.top, p.midiButton.bottom},
            {p.midiLabel.top, p.midiLabel.bottom},
            {p.exportButton.top, p.exportButton.bottom},
            {p.videoButton.top, p.videoButton.bottom},
        };
        for (size_t i = 1; i < spans.size(); ++i)
            EXPECT_LE(spans[i - 1].second, spans[i].first) << "control " << i << " overlaps the one above";
        const auto heading = rig.target.Where([](const viewtest::Call& k) { return k.text == "6 voices"; });
        ASSERT_EQ(heading.size(), 1u);
        const float below = c.notice ? p.exportNotice.bottom : p.videoButton.bottom;
        EXPECT_LE(below, heading[0].rect.top);
        // Under the legend: the song time, its length, the speed and volume sliders and the transport.
        const auto length =
            rig.target.Where([](const viewtest::Call& k) { return k.text.rfind("/ ", 0) == 0; });
        ASSERT_EQ(length.size(), 1u);
        const auto time = rig.target.Where([](const viewtest::Call& k) { return k.format.size == 24.0f; });
        ASSERT_EQ(time.size(), 1u);
        for (const auto& row : rig.target.Where(
                 [&](const viewtest::Call& k) { return k.format.size == 13.0f && k.rect.top < p.speed.top; }))
            EXPECT_LE(row.rect.bottom, time[0].rect.top) << "legend row \"" << row.text << "\" over the time";
        EXPECT_LE(length[0].rect.bottom, p.speed.top);
        EXPECT_LE(p.speed.bottom, p.volume.top);
        EXPECT_GT(p.speed.trackRight - p.speed.trackLeft, 60) << "a track long enough to set a speed";
        EXPECT_LE(p.volume.bottom, p.transportButtons[TransportRewind].top);
        EXPECT_GT(p.volume.trackRight - p.volume.trackLeft, 60) << "a track long enough to set a volume";
        if (c.width == 1536) {
            EXPECT_FLOAT_EQ(p.soundFontButton.top, p.top + 150) << "the full-height layout";
        }
    }
}

// Records as usual, and wraps text as the program's own text layer does.
struct MeasuringTarget : viewtest::RecordingTarget {
    std::unique_ptr<platform::OffscreenRenderTarget> real =
        platform::OffscreenRenderTarget::Create(1536, 864).value;
    int WrappedLineCount(const std::string& text, const platform::TextFormat& format, float width) override {
        return real != nullptr ? real->WrappedLineCount(text, format, width) : 0;
    }
    float TextWidth(const std::string& text, const platform::TextFormat& format) override {
        return real != nullptr ? real->TextWidth(text, format) : 0;
    }
};

// The speed's caption is a tempo and a percent, longer than the volume's: at the window's sizes it
// shows whole, and the two sliders' tracks still line up.
TEST(ControlPanel, TheSpeedCaptionShowsWhole) {
    auto text = platform::OffscreenRenderTarget::Create(1536, 864).value;
    ASSERT_NE(text, nullptr);
    for (int w : {800, 1280, 1536}) {
        SCOPED_TRACE(w);
        PanelRig rig;
        MeasuringTarget measuring;
        rig.device.target = &measuring;
        ShowBandInWindow(rig, w, w * 9 / 16);
        rig.shown.beatsPerMinute = 240;
        PracticeChoice fastest;
        fastest.speedPercent = PracticeChoice::kMaxSpeed;
        rig.shown.song.practice = &fastest;
        (void)rig.panel.Frame(rig.shown);
        const auto caption = measuring.Where(
            [](const viewtest::Call& k) { return k.text.find(" BPM ") != std::string::npos; });
        ASSERT_EQ(caption.size(), 1u);
        EXPECT_EQ(caption[0].text, "240 BPM 200%");
        for (const std::string& line : text->TextLines(caption[0].text, caption[0].format, caption[0].rect))
            EXPECT_EQ(line.find("\xE2\x80\xA6"), std::string::npos) << line;
        EXPECT_FLOAT_EQ(rig.panel.speed.trackLeft, rig.panel.volume.trackLeft);
    }
}

TEST(ControlPanel, TheExportNoticeIsReadableWhole) {
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const std::string folders[] = {
        "/tmp",
        "/srv/media/Music/Exports from the player/December sessions/2026-12-08 evening",
        "/mnt/archive/a_folder_name_without_any_blanks_at_all_that_must_break_somewhere",
    };
    auto text = platform::OffscreenRenderTarget::Create(1536, 864).value;
    ASSERT_NE(text, nullptr);
    for (int w : {800, 1536}) {
        for (const std::string& folder : folders) {
            SCOPED_TRACE(folder + " at " + std::to_string(w));
            PanelRig rig;
            MeasuringTarget measuring;
            rig.device.target = &measuring;
            ShowBandInWindow(rig, w, w * 500 / 800);
            rig.panel.ShowExportNotice(folder + "/Nocturne in E flat.flac");
            (void)rig.panel.Frame(rig.shown);
            const auto notice =
                measuring.Where([](const viewtest::Call& k) { return k.text.rfind("Saved ", 0) == 0; });
            ASSERT_EQ(notice.size(), 1u);
            // What the real text layer makes of it in that rectangle: every word, nothing cut.
            const std::vector<std::string> lines =
                text->TextLines(notice[0].text, notice[0].format, notice[0].rect);
            std::string joined;
            for (const std::string& line : lines) {
                EXPECT_EQ(line.find("\xE2\x80\xA6"), std::string::npos) << line;
                joined += line;
            }
            const std::string tail = folder.substr(folder.rfind('/') + 1);
            EXPECT_NE(joined.find(tail.substr(tail.size() - std::min<size_t>(tail.size(), 6))),
                      std::string::npos)
                << joined;
        }
    }
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
