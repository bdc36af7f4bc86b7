// What the window keeps in reach, through the controller's scripted input and a recording target
// the size of an 800 x 500 window: every part of a 15-voice song from the legend, a tap on every
// control, the key overlay, tips and notes, the words of a song, and the songs beside it across
// two runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "app/player_controller.h"
#include "core/frame_timer.h"
#include "manual_output.h"
#include "platform/dialogs.h"
#include "platform/window.h"
#include "settings/settings.h"
#include "smf_builder.h"
#include "synth/background_render.h"
#include "synth/synth_renderer.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"
#include "view/recording_target.h"

namespace {

namespace fs = std::filesystem;
using platform::InputKind;
using viewtest::Call;

constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
// An 800 x 500 window draws at its smallest scale, 0.8: this many design units.
constexpr int kWidth = 1000, kHeight = 625;

int64_t fakeNow = 1000;
int64_t FakeFrequency() {
    return 1000;
}
int64_t FakeNow() {
    return fakeNow;
}

class Surface : public InputSurface {
  public:
    PointI ClientSize() const override { return {kWidth, kHeight}; }
    void SetCursor(int) override {}
};

// Fifteen voices, each on a track and channel of its own, and a drum track: a note a beat for a
// second and a half each. With `words`, a line of lyrics sung over the first two seconds.
smf::Bytes BandSong(bool words = false) {
    using namespace smf;
    Bytes out = Header(480, 1, 17);
    auto add = [&out](const Bytes& track) { out.insert(out.end(), track.begin(), track.end()); };
    Bytes meta = Tempo(0, 500000);
    const char* const syllables[] = {"Hel", "lo ", "wor", "ld\r"};
    for (int i = 0; words && i < 4; ++i) {
        const std::string text = syllables[i];
        Bytes lyric = {0xFF, 0x05, static_cast<uint8_t>(text.size())};
        lyric.insert(lyric.end(), text.begin(), text.end());
        meta = Cat({meta, Event(i == 0 ? 0 : 480, lyric)});  // a syllable a beat
    }
    add(Track({meta, EndOfTrack()}));
    for (int v = 0; v < 15; ++v) {
        const int channel = v < 9 ? v : v + 1;  // channel 10 is the drums'
        Bytes notes = Program(0, channel, v * 8);
        for (int i = 0; i < 3; ++i)
            notes = Cat({notes, On(0, channel, 48 + v + i % 3), Off(480, channel, 48 + v + i % 3)});
        add(Track({notes, EndOfTrack()}));
    }
    Bytes drums;
    for (int i = 0; i < 3; ++i) drums = Cat({drums, On(0, 9, 36), Off(480, 9, 36)});
    add(Track({drums, EndOfTrack()}));
    return out;
}

// One note: the least a song to step through needs, and quick to render.
smf::Bytes TinySong() {
    using namespace smf;
    return Song(480, {Chunk("MTrk", Cat({On(0, 0, 60), Off(240, 0, 60), EndOfTrack()}))});
}

// One note and another a minute later: its render takes far longer than the few frames a test
// draws before asking for the next song, so the window is surely still loading it then. A
// one-note song could finish rendering while a busy machine held the test's own thread back.
smf::Bytes SlowToLoadSong() {
    using namespace smf;
    return Song(480, {Chunk("MTrk", Cat({On(0, 0, 60), Off(240, 0, 60), On(480 * 120, 0, 62), Off(240, 0, 62),
                                         EndOfTrack()}))});
}

class AtHandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kSmallSoundFont)) GTEST_SKIP() << kSmallSoundFont << " is not installed";
        folder = fs::temp_directory_path() / ("dorvik-at-hand-" + std::to_string(::getpid()));
        fs::create_directories(folder / "Dorvik Midi Player");
        fs::create_directories(folder / "songs");
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        std::ofstream(folder / "Dorvik Midi Player" / "settings.ini")
            << "[Soundfont] = " << kSmallSoundFont << "\n";
        ShowFluidSynthMessages(false);
        device.target = &target;
        device.clientWidth = kWidth;
        device.clientHeight = kHeight;
        Start();
    }
    void TearDown() override {
        if (c) c->ReleaseObjects();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // A run of the program: a new controller on the same settings folder.
    void Start() {
        if (c) c->ReleaseObjects();
        c = std::make_unique<PlayerController>();
        c->device = &device;
        c->surface = &surface;
        c->shared.dialogs = &dialogs;
        c->Initialise(output, "file:///guide.html", std::chrono::milliseconds(0));
        c->transport.Clock().Init({&FakeFrequency, &FakeNow});
        Frames(1);
    }

    void Send(InputKind kind, PointI at, uint32_t key = 0, bool alt = false, bool ctrl = false,
              int wheel = 0) {
        platform::InputMessage m;
        m.kind = kind;
        m.point = at;
        m.keyCode = key;
        m.alt = alt;
        m.ctrl = ctrl;
        m.wheel = wheel;
        c->OnInput(m);
    }
    void Key(uint32_t key, bool alt = false, bool ctrl = false) {
        Send(InputKind::KeyDown, mouse, key, alt, ctrl);
        Send(InputKind::KeyUp, mouse, key, alt, ctrl);
    }
    void Frames(int n) {
        for (int i = 0; i < n; ++i) {
            target.calls.clear();
            c->Frame();
        }
    }
    void MoveTo(PointI at) {
        mouse = at;
        Send(InputKind::MouseMove, at);
    }
    // A press and release at `at`, a frame apart as a person's click is, or in one frame as a
    // touchpad's tap may be.
    void Click(PointI at, bool tap = false) {
        MoveTo(at);
        Send(InputKind::LeftButtonDown, at);
        if (!tap) Frames(1);
        Send(InputKind::LeftButtonUp, at);
        Frames(2);
    }
    static PointI Mid(float l, float t, float r, float b) {
        return {static_cast<int>((l + r) / 2), static_cast<int>((t + b) / 2)};
    }
    template <class W>
    static PointI Mid(const W& w) {
        return Mid(w.left, w.top, w.right, w.bottom);
    }
    std::string Write(const std::string& name, const smf::Bytes& bytes) {
        const fs::path path = folder / "songs" / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    void Load(const std::string& path, bool rendered = false) {
        ASSERT_TRUE(c->DropFile(path));
        if (rendered) Rendered();
        Frames(1);
    }
    void Rendered() {
        (void)c->backgroundRender->Wait();
        c->StepLoading();
    }
    bool Drawn(const std::string& text) const {
        return !target
                    .Where(
                        [&](const Call& call) { return call.op == viewtest::Op::Text && call.text == text; })
                    .empty();
    }
    bool DrawnContaining(const std::string& part) const {
        return !target
                    .Where([&](const Call& call) {
                        return call.op == viewtest::Op::Text && call.text.find(part) != std::string::npos;
                    })
                    .empty();
    }
    // The legend's row `row` brought into view by the wheel, and the middle of its button `b`
    // (0 mute, 1 solo, 2 play) as drawn.
    PointI LegendButton(int row, int b) {
        VoiceLegend& legend = c->controlPanel->legend;
        const RectF area = legend.rowsArea;
        const PointI over = Mid(area.left, area.top, area.right, area.bottom);
        for (int turns = 0;
             turns < 40 && (row < legend.firstRow || row >= legend.firstRow + legend.shownRows); ++turns) {
            MoveTo(over);
            Send(InputKind::Wheel, over, 0, false, false, row < legend.firstRow ? 1 : -1);
            Frames(1);
        }
        EXPECT_TRUE(row >= legend.firstRow && row < legend.firstRow + legend.shownRows) << "row " << row;
        auto mutes =
            target.Where([](const Call& call) { return call.op == viewtest::Op::Text && call.text == "M"; });
        std::sort(mutes.begin(), mutes.end(),
                  [](const Call& a, const Call& b) { return a.rect.top < b.rect.top; });
        const Call& m = mutes.at(static_cast<size_t>(row - legend.firstRow));
        constexpr float kButtonStep = 17.0f;  // the legend's buttons stand this far apart
        const PointI mid = Mid(m.rect.left, m.rect.top, m.rect.right, m.rect.bottom);
        return {mid.x + static_cast<int>(kButtonStep) * b, mid.y};
    }

    fs::path folder;
    viewtest::RecordingTarget target{kWidth, kHeight};
    GraphicsDevice device;
    Surface surface;
    platform::ScriptedDialogs dialogs;
    ManualOutput output;
    std::unique_ptr<PlayerController> c;
    PointI mouse{0, 0};
};

}  // namespace

TEST_F(AtHandTest, EveryPartOfAFifteenVoiceSongIsInReachOfTheLegend) {
    Load(Write("band.mid", BandSong()));
    ASSERT_EQ(c->shared.song->PartsInUse(), 15);
    VoiceLegend& legend = c->controlPanel->legend;
    ASSERT_EQ(legend.RowCount(), 16) << "15 voices and the drums";
    ASSERT_LT(legend.shownRows, legend.RowCount()) << "the rows scroll at this size";
    const PracticeChoice& choice = c->shared.practice.choice;
    for (int part = 0; part < 15; ++part) {
        SCOPED_TRACE("part " + std::to_string(part + 1));
        Click(LegendButton(part, 0));
        EXPECT_EQ(choice.parts[part], PartSound::Muted);
        Click(LegendButton(part, 0));
        EXPECT_EQ(choice.parts[part], PartSound::Heard);
        Click(LegendButton(part, 1));
        EXPECT_EQ(choice.parts[part], PartSound::Solo);
        Click(LegendButton(part, 1));
        EXPECT_EQ(choice.parts[part], PartSound::Heard);
    }
    // Played along from the first row, one scrolled to, and the last; a second part's button moves
    // the player over to it.
    for (const int part : {0, 9, 14}) {
        SCOPED_TRACE("play part " + std::to_string(part + 1));
        Click(LegendButton(part, 2));
        ASSERT_TRUE(c->shared.playAlong.On());
        EXPECT_EQ(choice.Mutes(15).parts, PlayedParts().set(static_cast<size_t>(part)))
            << "the player's part alone";
    }
    Click(LegendButton(14, 2));
    EXPECT_FALSE(c->shared.playAlong.On()) << "its button again ends playing along";
    c->shared.practice.choice.parts.fill(PartSound::Heard);
    // The drums' row mutes them and shows it; Alt with a digit reaches the parts past the ninth.
    Click(LegendButton(15, 0));
    EXPECT_TRUE(choice.drumsMuted);
    Frames(1);
    EXPECT_TRUE(DrawnContaining("Drums muted")) << "the toggle's note";
    Click(LegendButton(15, -4));  // on the row's text
    EXPECT_FALSE(choice.drumsMuted) << "the row itself is a button too";
    Key('4', true);
    EXPECT_EQ(choice.parts[12], PartSound::Muted) << "Alt+4 is the 13th part";
    EXPECT_EQ(choice.parts[3], PartSound::Heard);
    Key('0', true);
    EXPECT_EQ(choice.parts[14], PartSound::Heard) << "no 19th part: nothing to mute";
}

// A press and release that come in one frame are one click, on every control of the window.
TEST_F(AtHandTest, ATapCountsOnceOnEveryControl) {
    Write("a.mid", BandSong());
    Load(Write("b.mid", BandSong()), true);
    ASSERT_TRUE(c->shared.session.Ready());
    ControlPanel& p = *c->controlPanel;
    const PracticeChoice& choice = c->shared.practice.choice;
    struct Case {
        const char* control;
        std::function<PointI()> where;
        std::function<int()> count;  // how many times the control has acted
    };
    const std::vector<Case> cases = {
        {"Load SoundFont", [&] { return Mid(p.soundFontButton); },
         [&] {
             return static_cast<int>(std::count_if(dialogs.openRequests.begin(), dialogs.openRequests.end(),
                                                   [](const auto& r) { return r.patterns[0] == "*.sf2"; }));
         }},
        {"Load MIDI", [&] { return Mid(p.midiButton); },
         [&] {
             return static_cast<int>(std::count_if(dialogs.openRequests.begin(), dialogs.openRequests.end(),
                                                   [](const auto& r) { return r.patterns[0] == "*.mid"; }));
         }},
        {"Export audio", [&] { return Mid(p.exportButton); },
         [&] { return static_cast<int>(dialogs.saveRequests.size()); }},
        {"Export video", [&] { return Mid(p.videoButton); },
         [&] { return static_cast<int>(dialogs.saveRequests.size()); }},
        {"User guide", [&] { return Mid(p.link); },
         [&] { return static_cast<int>(dialogs.openedUrls.size()); }},
        {"legend mute", [&] { return LegendButton(0, 0); },
         [&] { return choice.parts[0] == PartSound::Muted ? 1 : 0; }},
        {"legend solo", [&] { return LegendButton(1, 1); },
         [&] { return choice.parts[1] == PartSound::Solo ? 1 : 0; }},
        {"speed",
         [&] {
             return PointI{static_cast<int>(p.speed.trackLeft + 2), Mid(p.speed).y};
         },
         [&] { return choice.speedPercent < 100 ? 1 : 0; }},
        {"song before", [&] { return Mid(c->atHand.songButtons[SongBefore]); },
         [&] { return c->shared.midiPath.ends_with("a.mid") ? 1 : 0; }},
        {"volume",
         [&] {
             return PointI{static_cast<int>(p.volume.trackLeft + 20), static_cast<int>(Mid(p.volume).y)};
         },
         [&] { return c->shared.volumePercent < 100 ? 1 : 0; }},
        {"play", [&] { return Mid(p.transportButtons[TransportPlayPause]); },
         [&] { return c->transport.State() == TransportState::CountingIn ? 1 : 0; }},
        {"view toggle",
         [&] {
             return PointI{static_cast<int>(c->notesView->right - 20), 20};
         },
         [&] { return c->controls.fullView ? 1 : 0; }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.control);
        Frames(1);
        const PointI at = k.where();
        const int before = k.count();
        Click(at, true);
        Frames(3);  // a large button's action waits for the mouse to have been up a while
        EXPECT_EQ(k.count() - before, 1);
    }
}

TEST_F(AtHandTest, TheKeyOverlayTipsAndNotesExplainTheWindow) {
    Key(platform::kKeyF1);
    Frames(1);
    EXPECT_TRUE(c->atHand.help.keysShown);
    EXPECT_TRUE(Drawn("F1 or ?")) << "the overlay lists the keys";
    Key(platform::kKeyEscape);
    Frames(1);
    EXPECT_FALSE(c->atHand.help.keysShown);
    EXPECT_FALSE(c->controls.fullView) << "Escape closed the list only";
    // A click closes it, and only closes it: the button under it does not act.
    Key('?');
    Frames(1);
    Click(Mid(c->controlPanel->soundFontButton));
    Frames(3);
    EXPECT_FALSE(c->atHand.help.keysShown);
    EXPECT_TRUE(dialogs.openRequests.empty());

    // A tip waits for the mouse to rest; a control that cannot act says why at once.
    MoveTo(Mid(c->controlPanel->midiButton));
    Frames(ControlPanel::kTipFrames - 2);
    EXPECT_FALSE(DrawnContaining("Ctrl+O"));
    Frames(2);
    EXPECT_TRUE(DrawnContaining("Ctrl+O"));
    MoveTo(Mid(c->controlPanel->exportButton));
    Frames(1);
    EXPECT_TRUE(DrawnContaining("Load a MIDI file first"));
    MoveTo(Mid(c->atHand.songButtons[SongAfter]));
    Frames(1);
    EXPECT_TRUE(DrawnContaining("Load a MIDI file first"));

    // A toggle leaves a note that goes after a while, or at the next key.
    Key('n');
    Frames(1);
    EXPECT_TRUE(Drawn("Names on the notes on"));
    Key('f');
    Frames(1);
    EXPECT_FALSE(Drawn("Names on the notes on"));
    EXPECT_TRUE(Drawn("Keyboard fitted to the song"));
    fakeNow += 3000;
    Frames(1);
    EXPECT_FALSE(Drawn("Keyboard fitted to the song"));
}

TEST_F(AtHandTest, ALargeFilesWordsAreReadAsideAndAreTheSame) {
    // Past a megabyte (a chunk no reader takes follows the tracks), the words are read on a thread
    // of their own and shown once read: the same words as the file's alone.
    Load(Write("words.kar", BandSong(true)), true);
    const std::string line = c->atHand.help.lyrics.Empty() ? "" : c->atHand.help.lyrics.LineText(0);
    ASSERT_FALSE(line.empty());
    const smf::Bytes pad(size_t{1} << 20, 0);
    Load(Write("large words.kar",
               smf::Cat({BandSong(true), {'X', 'J', 'N', 'K', 0x00, 0x10, 0x00, 0x00}, pad})),
         true);
    for (int i = 0; i < 2000 && c->atHand.help.lyrics.Empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Frames(1);
    }
    ASSERT_FALSE(c->atHand.help.lyrics.Empty());
    EXPECT_EQ(c->atHand.help.lyrics.LineText(0), line);
}

TEST_F(AtHandTest, TheWordsAreDrawnAboveTheKeyboardInStep) {
    Load(Write("words.kar", BandSong(true)), true);
    ASSERT_FALSE(c->atHand.help.lyrics.Empty());
    const float keyboardTop = c->notesView->top + c->notesView->notesHeight;
    auto words = [&] {
        return target.Where([&](const Call& call) {
            return call.op == viewtest::Op::Text && call.rect.bottom <= keyboardTop &&
                   call.rect.top > keyboardTop - 60 &&
                   (call.text.find("Hel") != std::string::npos || call.text.find("wor") != std::string::npos);
        });
    };
    ASSERT_FALSE(words().empty()) << "the first line before it is sung";
    c->SeekToSeconds(0.7);  // "Hel" and "lo " sung, "world" to come
    Frames(2);
    const auto drawn = words();
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[0].text, "Hello ");
    EXPECT_EQ(drawn[1].text, "world");
    EXPECT_NE(drawn[0].colour.r + drawn[0].colour.b, drawn[1].colour.r + drawn[1].colour.b)
        << "what is sung is lit";
}

// Ctrl+O, the songs beside the one playing, the recent list and the folders the dialogs reopen in,
// over two runs of the program on one settings folder.
TEST_F(AtHandTest, SongsAreAtHandAcrossTwoRuns) {
    const std::string first = Write("2 b.mid", SlowToLoadSong());
    Write("10 c.mid", TinySong());
    Write("1 a.mid", TinySong());
    dialogs.openAnswers.push_back(first);
    Key('o', false, true);
    Frames(3);
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    ASSERT_EQ(c->shared.midiPath, first);
    Frames(1);
    EXPECT_EQ(dialogs.recentFiles, std::vector<std::string>{first});
    Key(platform::kKeyPageDown);
    Frames(1);
    EXPECT_TRUE(Drawn("Still loading: try again in a moment"));
    Rendered();
    Key(platform::kKeyPageDown);
    EXPECT_EQ(fs::path(c->shared.midiPath).filename(), "10 c.mid") << "the names' numbers are in order";
    Rendered();
    Key(platform::kKeyPageDown);
    Frames(1);
    EXPECT_TRUE(Drawn("The last song in its folder"));
    for (int i = 0; i < 2; ++i) {
        Key(platform::kKeyPageUp);
        Rendered();
    }
    EXPECT_EQ(fs::path(c->shared.midiPath).filename(), "1 a.mid");
    Frames(1);
    EXPECT_EQ(dialogs.recentFiles.size(), 3u);

    // A take is proposed beside its song, named after it once.
    c->playAlong.Toggle();
    ASSERT_TRUE(c->shared.playAlong.On());
    c->playAlong.PlayerNote(60, true, 0.1);
    c->playAlong.PlayerNote(60, false, 0.3);
    platform::ScriptedDialogs::SaveScript take;
    take.answer.path = (folder / "takes" / "mine.mid").string();
    dialogs.saveScripts.push_back(take);
    fs::create_directories(folder / "takes");
    c->playAlong.End();
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].request.fileName, "1 a (my take).mid");
    EXPECT_EQ(dialogs.saveRequests[0].request.folder, (folder / "songs").string());

    // The next run opens each dialog where its kind was left.
    Start();
    Key('o', false, true);
    Frames(3);
    ASSERT_EQ(dialogs.openRequests.size(), 2u);
    EXPECT_EQ(dialogs.openRequests[1].folder, (folder / "songs").string());
    Load(first);
    c->playAlong.Toggle();
    c->playAlong.PlayerNote(62, true, 0.1);
    c->playAlong.PlayerNote(62, false, 0.2);
    c->playAlong.End();
    ASSERT_EQ(dialogs.saveRequests.size(), 2u);
    EXPECT_EQ(dialogs.saveRequests[1].request.folder, (folder / "takes").string());
}
