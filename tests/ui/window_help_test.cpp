// What the window says about itself: the key overlay, the tips, and the words of a song, as drawn
// into a recording target.
#include "ui/window_help.h"

#include <gtest/gtest.h>

#include "core/song_data.h"
#include "platform/window.h"
#include "smf_builder.h"
#include "ui/control_panel.h"
#include "ui/key_list.h"
#include "view/help_overlay.h"
#include "view/lyrics_view.h"
#include "view/recording_target.h"

namespace {

using viewtest::Call;

bool Inside(const RectF& inner, const RectF& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

TEST(WindowHelp, TheKeyOverlayListsEveryKeyInsideTheSmallestScene) {
    size_t count = 0;
    const KeyHelp* keys = WindowKeys(count);
    ASSERT_GT(count, 15u);
    // 800 x 500 pixels at the smallest scale, and the portrait window.
    for (const RectF scene : {RectF{0, 0, 1000, 625}, RectF{0, 0, 700, 1100}, RectF{0, 0, 1920, 1080}}) {
        SCOPED_TRACE(testing::Message() << scene.right << " x " << scene.bottom);
        viewtest::RecordingTarget target;
        DrawKeyOverlay(target, scene, keys, count);
        size_t found = 0;
        for (size_t i = 0; i < count; ++i) {
            const auto drawn = target.Where([&](const Call& c) { return c.text == keys[i].keys; });
            ASSERT_EQ(drawn.size(), 1u) << keys[i].keys;
            EXPECT_TRUE(Inside(drawn[0].rect, scene)) << keys[i].keys;
            EXPECT_GE(drawn[0].format.size, 11.0f) << "readable";
            found += target.Where([&](const Call& c) { return c.text == keys[i].what; }).size();
        }
        EXPECT_EQ(found, count);
    }
}

TEST(WindowHelp, ATipStaysInsideItsBounds) {
    const RectF bounds{0, 0, 1000, 625};
    for (const PointI at : {PointI{990, 610}, PointI{5, 5}, PointI{820, 300}}) {
        viewtest::RecordingTarget target;
        const RectF box =
            DrawTooltip(target, "Open a MIDI file (Ctrl+O)\nand a second line that wraps", at, bounds);
        EXPECT_TRUE(Inside(box, bounds)) << at.x << "," << at.y;
        EXPECT_GT(box.bottom - box.top, 2 * 17.0f) << "room for both lines";
    }
}

// The panel's controls each have a tip once the mouse rests on them; one that cannot act says why
// at once.
TEST(WindowHelp, EveryControlExplainsItselfWhenTheMouseRests) {
    viewtest::RecordingTarget target;
    GraphicsDevice device;
    device.target = &target;
    ControlPanel panel;
    PointI mouse{0, 0};
    panel.palette = &kDefaultPalette;
    panel.background = 20;
    panel.Init(&device, &mouse);
    panel.CreateBrushes();
    panel.Build("file:///guide.html");
    panel.SetRect(800, 0, 1000, 625);
    SongData song;
    PanelSnapshot shown;
    shown.song.song = &song;
    shown.song.songLoaded = shown.song.songReady = true;
    (void)panel.Frame(shown);
    auto centre = [](float l, float t, float r, float b) {
        return PointI{static_cast<int>((l + r) / 2), static_cast<int>((t + b) / 2)};
    };
    auto at = [&](const Button& b) { return centre(b.left, b.top, b.right, b.bottom); };
    auto rt = [&](const RectF& r) { return centre(r.left, r.top, r.right, r.bottom); };
    const struct {
        const char* what;
        PointI point;
        const char* says;
    } cases[] = {
        {"Load MIDI", at(panel.midiButton), "Ctrl+O"},
        {"Load SoundFont", at(panel.soundFontButton), "SoundFont"},
        {"Export audio", at(panel.exportButton), "MP3"},
        {"volume", {950, static_cast<int>(panel.volume.top + 10)}, "(+ and -)"},
        {"speed", {950, static_cast<int>(panel.speed.top + 10)}, "[ and ]"},
        {"play", rt(panel.transportButtons[TransportPlayPause]), "Space"},
        {"guide", {900, static_cast<int>(panel.link.top + 5)}, "F1"},
    };
    for (const auto& c : cases) {
        mouse = c.point;
        (void)panel.Frame(shown);
        EXPECT_TRUE(panel.tip.empty()) << c.what << ": a passing mouse shows no tip";
        for (int i = 0; i < ControlPanel::kTipFrames; ++i) (void)panel.Frame(shown);
        EXPECT_NE(panel.tip.find(c.says), std::string::npos) << c.what << ": \"" << panel.tip << "\"";
    }
    // Without a SoundFont, "Load MIDI" cannot act: it looks it, says why at once and asks nothing.
    shown.soundFontLoaded = false;
    mouse = at(panel.midiButton);
    panel.pressed = true;
    EXPECT_EQ(panel.Frame(shown).intent, PanelIntent::None);
    panel.pressed = false;
    EXPECT_TRUE(panel.midiButton.dimmed);
    EXPECT_NE(panel.tip.find("SoundFont first"), std::string::npos) << panel.tip;
    // Without a song the export buttons cannot act either.
    shown.soundFontLoaded = true;
    shown.song.songLoaded = shown.song.songReady = false;
    (void)panel.Frame(shown);
    EXPECT_TRUE(panel.exportButton.dimmed);
    EXPECT_TRUE(panel.videoButton.dimmed);
}

TEST(WindowHelp, TheExportNoticeGoesAtTheNextPressOrAfterAWhile) {
    viewtest::RecordingTarget target;
    GraphicsDevice device;
    device.target = &target;
    ControlPanel panel;
    PointI mouse{0, 0};
    panel.palette = &kDefaultPalette;
    panel.Init(&device, &mouse);
    panel.CreateBrushes();
    panel.Build("file:///guide.html");
    panel.SetRect(800, 0, 1000, 625);
    PanelSnapshot shown;
    panel.ShowExportNotice("/tmp/song.flac");
    (void)panel.Frame(shown);
    ASSERT_FALSE(panel.exportNotice.text.empty());
    panel.pressed = true;  // somewhere else
    (void)panel.Frame(shown);
    panel.pressed = false;
    EXPECT_TRUE(panel.exportNotice.text.empty());

    panel.ShowExportNotice("/tmp/song.flac");
    for (int i = 0; i <= ControlPanel::kNoticeFrames; ++i) (void)panel.Frame(shown);
    EXPECT_TRUE(panel.exportNotice.text.empty());
}

TEST(WindowHelp, TheSungPartOfTheLineIsLit) {
    using smf::Bytes;
    auto lyric = [](uint32_t delta, const std::string& text) {
        Bytes body{0xFF, 0x05, static_cast<uint8_t>(text.size())};
        body.insert(body.end(), text.begin(), text.end());
        return smf::Event(delta, body);
    };
    const Bytes file = smf::Song(
        480, {smf::Track({lyric(0, "Twin"), lyric(480, "kle "), lyric(480, "star"), smf::EndOfTrack()})});
    const SongLyrics words = ReadLyrics(file.data(), file.size());
    const LyricsColours colours;
    const RectF band{0, 400, 800, 430};
    const struct {
        double at;
        const char *sung, *coming;
    } cases[] = {{-1.0, "", "Twinkle star"}, {0.6, "Twinkle ", "star"}, {5.0, "Twinkle star", ""}};
    for (const auto& c : cases) {
        viewtest::RecordingTarget target;
        DrawLyrics(target, words, c.at, band, colours);
        std::string sung, coming;
        for (const Call& t : target.Texts()) {
            EXPECT_TRUE(Inside(t.rect, {band.left, band.top, band.right + 2, band.bottom})) << t.text;
            (t.colour.r == colours.sung.r && t.colour.b == colours.sung.b ? sung : coming) += t.text;
        }
        EXPECT_EQ(sung, c.sung) << "at " << c.at;
        EXPECT_EQ(coming, c.coming) << "at " << c.at;
    }
}

// The part keys reach the first nineteen parts; F1 and ? bring up the overlay and take it down
// again, Escape takes it down first.
TEST(WindowHelp, KeysReachNineteenPartsAndTheOverlay) {
    auto key = [](uint32_t code, bool alt = false) {
        platform::InputMessage m;
        m.kind = platform::InputKind::KeyDown;
        m.keyCode = code;
        m.alt = alt;
        return m;
    };
    const struct {
        uint32_t code;
        bool alt;
        int part;
    } cases[] = {{'1', false, 0}, {'9', false, 8}, {'0', false, -1}, {'1', true, 9},
                 {'9', true, 17}, {'0', true, 18}, {'a', true, -1}};
    for (const auto& c : cases) EXPECT_EQ(PartForKey(key(c.code, c.alt)), c.part) << char(c.code) << c.alt;

    WindowHelp help;
    help.note.Show("Drums muted", 0);
    EXPECT_TRUE(help.OnKeyDown(key(platform::kKeyF1)));
    EXPECT_TRUE(help.keysShown);
    EXPECT_FALSE(help.note.Visible(0.1)) << "a key ends the note";
    EXPECT_TRUE(help.OnKeyDown(key(platform::kKeyEscape)));
    EXPECT_FALSE(help.keysShown);
    EXPECT_FALSE(help.OnKeyDown(key(platform::kKeyEscape))) << "then Escape is the window's again";
    EXPECT_TRUE(help.OnKeyDown(key('?')));
    EXPECT_TRUE(help.OnKeyDown(key('?')));
    EXPECT_FALSE(help.keysShown);
}

}  // namespace
