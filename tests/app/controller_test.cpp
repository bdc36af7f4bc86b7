// The whole controller driven headless: scripted dialogs, a recording render target, a sound ring
// the test moves and a counter the test sets, so every step is exact and nothing waits on time.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "core/frame_timer.h"
#include "export/export_fixture.h"
#include "export/export_format.h"
#include "export/video_export.h"
#include "manual_output.h"
#include "midi/hand_split.h"
#include "platform/dialogs.h"
#include "platform/midi_output.h"
#include "platform/window.h"
#include "settings/settings.h"
#include "settings/song_hands.h"
#include "smf_builder.h"
#include "synth/synth_renderer.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"
#include "view/recording_target.h"
#include "view/score_strip.h"
#include "view/time_bar.h"

namespace {

namespace fs = std::filesystem;
using platform::InputKind;
using std::chrono::milliseconds;

constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kRate = 44100;

// The test's counter: a thousand ticks a second, moved by hand.
int64_t fakeNow = 1000;
int64_t FakeFrequency() {
    return 1000;
}
int64_t FakeNow() {
    return fakeNow;
}

class FakeSurface : public InputSurface {
  public:
    PointI ClientSize() const override { return size; }
    void SetCursor(int kind) override { cursors.push_back(kind); }
    PointI size{1536, 832};
    std::vector<int> cursors;
};

// What a controller is given around it when a test starts one of its own: a drawing target, a
// device of the window's size, the input surface, scripted dialogs and a sound output.
struct Surroundings {
    viewtest::RecordingTarget target;
    GraphicsDevice device;
    FakeSurface surface;
    platform::ScriptedDialogs dialogs;
    ManualOutput output;

    void Wire(PlayerController& c) {
        device.target = &target;
        device.clientWidth = surface.size.x;
        device.clientHeight = surface.size.y;
        c.device = &device;
        c.surface = &surface;
        c.shared.dialogs = &dialogs;
    }
};

// A saved SoundFont path naming a pipe once held the player for ever before its window opened, and
// every start after it, since the path stayed saved. The start goes on without a SoundFont. Run in
// a child with an alarm, so a regression fails rather than hangs.
TEST(ControllerStart, ASavedSoundFontThatIsAPipeDoesNotHoldTheStart) {
    const fs::path folder = fs::temp_directory_path() / ("dorvik-fifo-start-" + std::to_string(::getpid()));
    fs::create_directories(folder / "Dorvik Midi Player");
    const fs::path fifo = folder / "font.sf2";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(folder / "Dorvik Midi Player" / "settings.ini")
        << "[Soundfont] = " << fifo.string() << "\n";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
        Surroundings around;
        PlayerController c;
        around.Wire(c);
        c.Initialise(around.output, "file:///guide.html", milliseconds(0));
        const bool refused = !c.shared.soundFontLoaded && c.shared.soundFontPath == fifo.string();
        c.ReleaseObjects();
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    EXPECT_TRUE(WIFEXITED(status)) << "the start hung on the pipe (status " << status << ")";
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
}

// A settings file that names a MIDI instrument and no SoundFont: a song still needs one (it keeps
// time by its render), and the box says so in the instrument's terms, not only that none is loaded.
TEST(ControllerStart, WithoutASoundFontTheInstrumentChosenIsToldWhatToChoose) {
    const fs::path folder = fs::temp_directory_path() / ("dorvik-no-font-" + std::to_string(::getpid()));
    fs::create_directories(folder / "Dorvik Midi Player");
    std::ofstream(folder / "Dorvik Midi Player" / "settings.ini") << "[Sound output] = Stage piano\n";
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
    Surroundings around;
    PlayerController c;
    around.Wire(c);
    const platform::ScriptedDialogs& dialogs = around.dialogs;
    auto instruments = std::make_unique<platform::ScriptedMidiOutput>();
    instruments->Plug("Stage piano:sound");
    c.midiPlayback.UseOutput(std::move(instruments));
    c.Initialise(around.output, "file:///guide.html", milliseconds(0));
    ASSERT_EQ(c.midiPlayback.SoundingOn(), "Stage piano:sound");
    const fs::path song = folder / "song.mid";
    {
        using namespace smf;
        const Bytes bytes = Cat(
            {Header(480, 0, 1), Track({Tempo(0, 500000), On(0, 0, 60, 90), Off(480, 0, 60), EndOfTrack()})});
        std::ofstream(song, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    EXPECT_FALSE(c.DropFile(song.string()));
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    const std::string& told = dialogs.errorBoxes[0].text;
    EXPECT_NE(told.find("Stage piano"), std::string::npos) << told;
    EXPECT_NE(told.find("Load SoundFont"), std::string::npos) << told;
    // Back on the window's own sound, the box is the plain one.
    c.midiPlayback.Choose(0);
    EXPECT_FALSE(c.DropFile(song.string()));
    ASSERT_EQ(dialogs.errorBoxes.size(), 2u);
    EXPECT_EQ(dialogs.errorBoxes[1].text, "no SoundFont loaded");
    c.ReleaseObjects();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

class ControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kSmallSoundFont)) GTEST_SKIP() << kSmallSoundFont << " is not installed";
        folder = fs::temp_directory_path() / ("dorvik-controller-" + std::to_string(::getpid()));
        fs::create_directories(folder / "Dorvik Midi Player");
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
        std::ofstream(folder / "Dorvik Midi Player" / "settings.ini")
            << "[Soundfont] = " << kSmallSoundFont << "\n";
        ShowFluidSynthMessages(false);

        device.target = &target;
        device.clientWidth = 1536;
        device.clientHeight = 832;
        c.device = &device;
        c.surface = &surface;
        c.shared.dialogs = &dialogs;
        c.Initialise(output, "file:///guide.html", milliseconds(0));
        c.transport.Clock().Init({&FakeFrequency, &FakeNow});
    }
    void TearDown() override {
        c.ReleaseObjects();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    void Send(InputKind kind, int x, int y, uint32_t key = 0) {
        platform::InputMessage m;
        m.kind = kind;
        m.point = {x, y};
        m.keyCode = key;
        c.OnInput(m);
    }
    void Key(uint32_t key) {
        Send(InputKind::KeyDown, 0, 0, key);
        Send(InputKind::KeyUp, 0, 0, key);
    }
    void Frames(int n) {
        for (int i = 0; i < n; ++i) {
            target.calls.clear();
            c.Frame();
        }
    }
    // A press and release at (x, y), with the frames a person's click spans.
    void Click(float x, float y) {
        const int ix = static_cast<int>(x), iy = static_cast<int>(y);
        Send(InputKind::MouseMove, ix, iy);
        Send(InputKind::LeftButtonDown, ix, iy);
        Frames(1);
        Send(InputKind::LeftButtonUp, ix, iy);
        Frames(1);
    }
    // Plays `frames` sample frames: the device takes them and the refill timer runs.
    void Play(uint32_t frames) {
        while (frames > 0) {
            const uint32_t step = std::min<uint32_t>(frames, 4410);
            output.ring->Advance(step * 4);
            c.transport.Player()->OnTimer();
            frames -= step;
        }
    }
    // The frame a click at x lands on: the mouse is in whole design units, the bar's width is not.
    uint32_t SeekFrameAt(float x) const {
        return static_cast<uint32_t>(double(c.transport.TotalFrames()) * std::floor(x) /
                                     double(c.timeBar->width));
    }
    RectF Transport(int button) const { return c.controlPanel->transportButtons[button]; }
    static float MidX(const RectF& r) { return (r.left + r.right) / 2; }
    static float MidY(const RectF& r) { return (r.top + r.bottom) / 2; }

    // Four seconds of music for both hands.
    std::string WriteSong() {
        using namespace smf;
        const Bytes bytes = Cat(
            {Header(480, 1, 3), Track({Tempo(0, 500000), EndOfTrack()}),
             Track({On(0, 0, 72, 90), Off(960, 0, 72), On(0, 0, 76, 90), Off(960, 0, 76), On(0, 0, 79, 90),
                    Off(1920, 0, 79), EndOfTrack()}),
             Track({On(0, 1, 48, 80), Off(1920, 1, 48), On(0, 1, 43, 80), Off(1920, 1, 43), EndOfTrack()})});
        const fs::path path = folder / "little song.mid";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // Loads and renders the song through the control panel, as a person does.
    void LoadSong() {
        Frames(1);  // lays the panel out
        dialogs.openAnswers.push_back(WriteSong());
        const RectF midi{c.controlPanel->midiButton.left, c.controlPanel->midiButton.top,
                         c.controlPanel->midiButton.right, c.controlPanel->midiButton.bottom};
        Click(MidX(midi), MidY(midi));
        Frames(2);  // the dialog opens in the third frame after the release
        ASSERT_EQ(dialogs.openRequests.size(), 1u);
        // The render started; on a busy machine the window thread may lose the processor long
        // enough for this short song's render to finish within the frame that started it.
        ASSERT_TRUE(c.loading.rendering || c.shared.session.Ready());
        int frames = 0;
        // The render runs on its own thread; the frames go on meanwhile.
        while (c.loading.rendering && frames++ < 20000) {
            Frames(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (const auto& call : target.Texts()) {
                if (call.text.rfind("Load MIDI (", 0) == 0) captions.push_back(call.text);
            }
        }
        ASSERT_FALSE(c.loading.rendering);
        ASSERT_EQ(c.shared.command, Command::None) << "it has been playable since the render began";
        Frames(1);
        ASSERT_GT(c.transport.TotalFrames(), 0);
    }
    void ClickButton(const Button& b) { Click((b.left + b.right) / 2, (b.top + b.bottom) / 2); }
    // "Export video" pressed with the save dialog answering `path`: the command posts in the third
    // frame after the release and runs at the start of the fourth.
    void StartVideoExport(const std::string& path) {
        platform::ScriptedDialogs::SaveScript script;
        script.answer.path = path;
        script.answer.choice = QualityHigh;
        dialogs.saveScripts.push_back(script);
        ClickButton(c.controlPanel->videoButton);
        Frames(3);
    }
    // Frames until the video export has ended, with the captions its button showed meanwhile.
    std::vector<std::string> FramesUntilTheVideoEnds() {
        std::vector<std::string> shown;
        for (int i = 0; c.exports.VideoJob() && i < 100000; ++i) {
            Frames(1);
            for (const auto& call : target.Texts()) {
                if (call.text.rfind("Export video (", 0) == 0) shown.push_back(call.text);
            }
            std::this_thread::sleep_for(milliseconds(1));  // the job's thread wants the processor
        }
        return shown;
    }
    // What a failed or stopped export might leave in the folder: a video or its temporary files.
    std::vector<std::string> VideoLeftovers() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.find(".mp4") != std::string::npos || name.find(".dorvik") != std::string::npos)
                found.push_back(name);
        }
        return found;
    }

    // Starts playing through the count-in.
    void StartFromTheTop() {
        c.Post(Command::Play);
        Frames(1);
        ASSERT_EQ(c.transport.State(), TransportState::CountingIn);
        // A bar of the song's meter at its tempo.
        fakeNow += static_cast<int64_t>(std::ceil(c.transport.CountInSeconds() * 1000));
        Frames(1);
        ASSERT_EQ(c.shared.command, Command::None);
        ASSERT_NE(c.transport.State(), TransportState::CountingIn);
        ASSERT_EQ(c.transport.Coarse(), PlayState::Playing);
    }

    fs::path folder;
    viewtest::RecordingTarget target;
    GraphicsDevice device;
    FakeSurface surface;
    platform::ScriptedDialogs dialogs;
    ManualOutput output;
    PlayerController c;
    std::vector<std::string> captions;
};

TEST_F(ControllerTest, LoadRenderAndPlayASong) {
    EXPECT_TRUE(c.shared.soundFontLoaded);
    EXPECT_EQ(c.loading.soundFontLabel, "TimGM6mb");
    Frames(1);
    LoadSong();

    // The button showed the render's rising percentages, and the label names the song.
    ASSERT_GE(captions.size(), 3u);
    int last = -1;
    for (const std::string& caption : captions) {
        const int percent = std::atoi(caption.c_str() + std::strlen("Load MIDI ("));
        EXPECT_GE(percent, last) << caption;
        last = percent;
    }
    EXPECT_EQ(c.loading.midiLabel, "little song");
    EXPECT_TRUE(c.shared.session.Ready());

    // Play: a bar of count-in at the song's tempo (4/4 at 120: two seconds) up to 0, then the audio.
    c.Post(Command::Play);
    Frames(1);
    EXPECT_EQ(c.transport.State(), TransportState::CountingIn);
    EXPECT_NEAR(c.transport.CountInSeconds(), 2.0, 1e-9);
    fakeNow += 250;
    Frames(1);
    EXPECT_NEAR(c.transport.SongTime(), -1.75, 1e-3);
    EXPECT_FALSE(c.Post(Command::Stop)) << "nothing can be posted during the count-in";
    fakeNow += 1750;
    Frames(1);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Playing);

    // The song time follows the frames heard.
    const double duration = c.shared.song->duration;
    Play(kRate);
    Frames(1);
    EXPECT_NEAR(c.transport.SongTime(), 1.0 * duration * kRate / c.transport.TotalFrames() + 1.0 / 30, 0.03);
    EXPECT_FLOAT_EQ(c.shownTime, static_cast<float>(c.transport.SongTime()));

    // Space pauses; the time stands still.
    Key(platform::kKeySpace);
    Frames(1);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Paused);
    const double paused = c.transport.SongTime();
    Frames(3);
    EXPECT_DOUBLE_EQ(c.transport.SongTime(), paused);

    // A click in the middle of the time bar while paused moves there and stays paused.
    const float barY = c.timeBar->top + 10;
    Click(c.timeBar->width / 2, barY);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Paused);
    EXPECT_EQ(c.transport.SeekOffset(), SeekFrameAt(c.timeBar->width / 2));
    Frames(1);
    EXPECT_NEAR(c.transport.SongTime(), duration / 2 + 1.0 / 30, 0.01);

    // Space again plays at once, without a count-in, from the new place.
    Key(platform::kKeySpace);
    Frames(1);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Playing);
    EXPECT_EQ(c.shared.command, Command::None);

    // A click while playing keeps playing from the clicked place.
    Click(c.timeBar->width / 4, barY);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Playing);
    EXPECT_EQ(c.transport.SeekOffset(), SeekFrameAt(c.timeBar->width / 4));

    // Back to start keeps playing from frame 0.
    Click(MidX(Transport(TransportRewind)), MidY(Transport(TransportRewind)));
    Frames(1);
    EXPECT_EQ(c.transport.SeekOffset(), 0u);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Playing);

    // Stop: the time reads -1 and the next play counts in again.
    Click(MidX(Transport(TransportStop)), MidY(Transport(TransportStop)));
    Frames(1);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Stopped);
    EXPECT_DOUBLE_EQ(c.transport.SongTime(), -1.0);
    c.Post(Command::Play);
    Frames(1);
    EXPECT_EQ(c.transport.State(), TransportState::CountingIn);
}

// Without a song, Tab starts free play: the keys light, the chord held is named over the keyboard,
// and Tab ends it, offering what was played as a MIDI file.
TEST_F(ControllerTest, FreePlayLightsNamesAndKeepsWhatIsPlayed) {
    Frames(1);
    Key('\t');
    for (const uint32_t key : {'a', 'd', 'g'}) Send(InputKind::KeyDown, 0, 0, key);  // C, E, G
    Frames(1);
    ASSERT_EQ(c.shared.playAlong.mode, PlayAlongMode::Free);
    EXPECT_EQ(c.viewOptions.playerKeys.count(), 3u);
    EXPECT_EQ(c.viewOptions.chordName, "C");
    Send(InputKind::KeyUp, 0, 0, 'a');
    Frames(1);
    EXPECT_EQ(c.viewOptions.chordName, "") << "E and G alone are no chord of the kinds named";
    platform::ScriptedDialogs::SaveScript script;
    script.answer.path = (folder / "free.mid").string();
    dialogs.saveScripts.push_back(script);
    Key('\t');
    EXPECT_FALSE(c.shared.playAlong.On());
    std::ifstream take(script.answer.path, std::ios::binary);
    std::string head(4, '\0');
    ASSERT_TRUE(take.read(head.data(), 4)) << "the take was not saved";
    EXPECT_EQ(head, "MThd");
}

TEST_F(ControllerTest, TheSongStopsOneSecondAfterItsEnd) {
    LoadSong();
    StartFromTheTop();
    const double duration = c.shared.song->duration;
    Play(static_cast<uint32_t>(c.transport.TotalFrames()));
    Frames(1);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Playing) << "the last second of grace is still to come";
    // The player counts on through the silence after the song.
    Play(static_cast<uint32_t>(1.2 * kRate));
    Frames(1);
    EXPECT_GT(c.transport.SongTime(), duration + 1.0) << "that frame still shows the last time";
    EXPECT_EQ(c.transport.Coarse(), PlayState::Stopped);
    Frames(1);
    EXPECT_DOUBLE_EQ(c.transport.SongTime(), -1.0);
}

// The hand editor by mouse, through the window's own event handling: with Ctrl, a click on a
// falling note moves it to the other hand and a drag over several moves each of them; without
// Ctrl, a click moves nothing. The view shows the song as mended and the hands are kept for it.
TEST_F(ControllerTest, CtrlClickAndDragMoveNotesBetweenTheHands) {
    ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    LoadSong();
    Frames(1);
    const NotesView& v = *c.notesView;
    ASSERT_TRUE(v.indexBuilt);
    // Where the note of `key` is drawn at song time `t`, in the window.
    const auto at = [&](int key, float t, float dx = 0) {
        const RectF& r = v.keys[key - kLowestKey].rect;
        const float y = (v.topTime - t) * v.notesHeight / v.lookAhead;
        EXPECT_GT(y, 0.0f) << "the note is on screen";
        EXPECT_LT(y, v.notesHeight);
        return PointI{static_cast<int32_t>(v.left + (r.left + r.right) / 2 + dx),
                      static_cast<int32_t>(v.top + y)};
    };
    const auto press = [&](InputKind kind, PointI p, bool ctrl) {
        platform::InputMessage m;
        m.kind = kind;
        m.point = p;
        m.ctrl = ctrl;
        c.OnInput(m);
    };
    const auto keysOf = [&](int part) {
        std::vector<int> keys;
        const SongPart& p = c.shared.song->parts[part];
        for (int i = 0; i < p.noteCount; ++i) keys.push_back(p.notes[i].key);
        std::sort(keys.begin(), keys.end());
        return keys;
    };
    ASSERT_EQ(keysOf(0), std::vector<int>({72, 76, 79}));
    ASSERT_EQ(keysOf(1), std::vector<int>({43, 48}));

    // A click without Ctrl is the view's own: no note changes hands.
    press(InputKind::MouseMove, at(72, 0.5f), false);
    press(InputKind::LeftButtonDown, at(72, 0.5f), false);
    press(InputKind::LeftButtonUp, at(72, 0.5f), false);
    Frames(1);
    EXPECT_EQ(keysOf(0), std::vector<int>({72, 76, 79}));

    press(InputKind::LeftButtonDown, at(72, 0.5f), true);
    press(InputKind::LeftButtonUp, at(72, 0.5f), true);
    Frames(1);
    EXPECT_EQ(keysOf(0), std::vector<int>({76, 79}));
    EXPECT_EQ(keysOf(1), std::vector<int>({43, 48, 72}));
    EXPECT_EQ(c.notesView->song, c.shared.song.get());
    EXPECT_TRUE(c.notesView->indexBuilt) << "the view is shown the mended song";

    // A drag from left of the C of the left hand to right of the E, over the second second: both
    // change hands, and the C above that ended before it stays where it was.
    const PointI from = at(48, 1.3f, -30), to = at(76, 1.7f, 30);
    press(InputKind::LeftButtonDown, from, true);
    press(InputKind::MouseMove, {(from.x + to.x) / 2, (from.y + to.y) / 2}, false);
    Frames(1);
    press(InputKind::MouseMove, to, false);
    press(InputKind::LeftButtonUp, to, false);  // Ctrl may be let go before the button
    Frames(1);
    EXPECT_EQ(keysOf(0), std::vector<int>({48, 79}));
    EXPECT_EQ(keysOf(1), std::vector<int>({43, 72, 76}));
    const HandEdits kept = ReadHandEdits(c.shared.practice.Key());
    EXPECT_EQ(kept.HandOf(72, 0.0f), LeftHand);
    EXPECT_EQ(kept.HandOf(76, 1.0f), LeftHand);
    EXPECT_EQ(kept.HandOf(48, 0.0f), RightHand);
    EXPECT_EQ(kept.HandOf(79, 2.0f), -1) << "a note out of the box is not named";
}

TEST_F(ControllerTest, SplittersDragWithinLimitsAndMovePanels) {
    Frames(1);
    const RectF v = c.verticalSplitterRect;
    Send(InputKind::MouseMove, static_cast<int>(MidX(v)), 300);
    EXPECT_EQ(c.input.wantedCursor, CursorResizeWE);
    EXPECT_EQ(surface.cursors.back(), CursorResizeWE);
    Send(InputKind::LeftButtonDown, static_cast<int>(MidX(v)), 300);
    EXPECT_TRUE(c.input.draggingVerticalSplitter);
    // The control panel's width follows the mouse, from the right edge, within its limits.
    const float smallest = kReferenceWidth * kSmallestPanelShare;
    const struct {
        int x;
        float width;
    } moves[] = {{768, 768}, {10, 1536 - smallest}, {1535, smallest}, {1152, 384}};
    for (const auto& m : moves) {
        Send(InputKind::MouseMove, m.x, 300);
        EXPECT_NEAR(c.controlPanelWidth, m.width, 1e-3) << "x " << m.x;
    }
    Send(InputKind::LeftButtonUp, 1152, 300);
    EXPECT_FALSE(c.input.draggingVerticalSplitter);
    EXPECT_EQ(surface.cursors.back(), CursorArrow);
    Frames(1);
    EXPECT_FLOAT_EQ(c.notesView->right, 1152 - kSplitterHalfWidth);
    EXPECT_FLOAT_EQ(c.controlPanel->left, 1152 + kSplitterHalfWidth);
    EXPECT_FLOAT_EQ(c.verticalSplitterRect.left, 1152 - kSplitterHalfWidth);

    // The horizontal splitter, with the window at twice its size: the mouse maps to design units.
    surface.size = {3072, 1664};
    const RectF h = c.horizontalSplitterRect;
    Send(InputKind::MouseMove, 400, static_cast<int>(MidY(h) * 2));
    EXPECT_EQ(c.mousePoint.x, 200);
    EXPECT_EQ(c.input.wantedCursor, CursorResizeNS);
    Send(InputKind::LeftButtonDown, 400, static_cast<int>(MidY(h) * 2));
    Send(InputKind::MouseMove, 400, 0);
    EXPECT_FLOAT_EQ(c.timeBarHeight, 832 - kReferenceHeight * kSmallestPanelShare);
    Send(InputKind::LeftButtonUp, 400, 0);
    EXPECT_FALSE(c.input.draggingHorizontalSplitter);

    // A smaller scene: the control panel keeps its width and the notes view gives up the room.
    device.clientWidth = 1000;
    device.clientHeight = 625;
    Frames(1);
    EXPECT_FLOAT_EQ(c.controlPanel->left, 1000 - 384 + kSplitterHalfWidth);
    EXPECT_FLOAT_EQ(c.controlPanel->bottom, 624);
    EXPECT_FLOAT_EQ(c.notesView->right, 1000 - 384 - kSplitterHalfWidth);
}

TEST_F(ControllerTest, EscapeAndTheFullViewOverlay) {
    LoadSong();
    Frames(1);
    Key(platform::kKeyEscape);
    EXPECT_TRUE(c.controls.fullView);
    Frames(1);
    EXPECT_FLOAT_EQ(c.notesView->right, 1536);
    EXPECT_FLOAT_EQ(c.notesView->bottom, 832);

    // A mouse movement shows the overlay; a press on its play button posts play on release.
    Send(InputKind::MouseMove, 5, 5);
    EXPECT_TRUE(c.controls.overlayActive);
    Frames(1);
    const RectF play = c.controls.overlayButtons[1];
    Send(InputKind::MouseMove, static_cast<int>(MidX(play)), static_cast<int>(MidY(play)));
    Send(InputKind::LeftButtonDown, static_cast<int>(MidX(play)), static_cast<int>(MidY(play)));
    Frames(1);
    EXPECT_EQ(c.controls.pendingIntent, PanelIntent::Play);
    Send(InputKind::LeftButtonUp, 5, 5);  // released elsewhere: still posted
    EXPECT_EQ(c.shared.command, Command::Play);
    Frames(1);
    EXPECT_EQ(c.transport.State(), TransportState::CountingIn);

    // A press on the overlay's progress bar seeks to the place under it; the song waits there.
    Send(InputKind::LeftButtonUp, 5, 5);
    c.shared.command = Command::None;
    c.transport.Pause();  // the count-in holds every press; paused, the song waits where it is sent
    const RectF bar = c.controls.overlayProgress;
    const int barX = static_cast<int>(bar.left + (bar.right - bar.left) * 0.75f);
    Send(InputKind::MouseMove, barX, static_cast<int>(MidY(bar)));
    Send(InputKind::LeftButtonDown, barX, static_cast<int>(MidY(bar)));
    Frames(1);
    Send(InputKind::LeftButtonUp, barX, static_cast<int>(MidY(bar)));
    EXPECT_NEAR(static_cast<double>(c.transport.Frame()) / c.transport.TotalFrames(), 0.75, 0.02);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Paused);

    // After a second without movement the overlay goes.
    fakeNow += 1500;
    Frames(2);
    EXPECT_FALSE(c.controls.overlayActive);

    // Holding Space and tapping Escape: the Escape release toggles, Space waits for its own.
    Send(InputKind::KeyDown, 0, 0, platform::kKeyEscape);
    Send(InputKind::KeyUp, 0, 0, platform::kKeyEscape);
    EXPECT_FALSE(c.controls.fullView);
}

// The name and speed keys change what the window's notes view draws from the next frame on.
TEST_F(ControllerTest, NameAndSpeedKeysReachTheNotesView) {
    LoadSong();
    Frames(1);
    const PlayState before = c.transport.Coarse();
    EXPECT_FLOAT_EQ(c.notesView->lookAhead, kLookAheadSeconds);
    Key('z');
    Key('n');
    Key('b');
    Frames(1);
    EXPECT_FLOAT_EQ(c.notesView->lookAhead, LookAheadAt(kUsualFallSpeed + 1));
    EXPECT_TRUE(c.notesView->options.labels.onNotes);
    EXPECT_TRUE(c.notesView->options.labels.flats);
    EXPECT_EQ(c.transport.Coarse(), before) << "the keys do not touch playback";
    EXPECT_EQ(c.shared.command, Command::None);
}

// S shows the score strip over the falling notes and hides it again, and the settings keep the
// choice; a click on its music goes to the moment the click stands for.
TEST_F(ControllerTest, SShowsTheScoreAndAClickOnItSeeks) {
    LoadSong();
    const auto musicCalls = [&] {
        return target.Where(
            [](const viewtest::Call& call) { return call.op == viewtest::Op::Text && call.format.music; });
    };
    Frames(1);
    EXPECT_TRUE(musicCalls().empty()) << "the strip starts hidden";
    Key('s');
    Frames(1);
    EXPECT_FALSE(musicCalls().empty());
    ASSERT_TRUE(ReadSettings().scoreShown.value_or(false)) << "the choice is kept for the next run";
    ASSERT_GT(c.scoreStrip->bottom, c.scoreStrip->top);

    const float y = (c.scoreStrip->top + c.scoreStrip->bottom) / 2;
    // The left hand's second note; the mouse is in whole units, and the two bars stand close
    // together on the line's left, as a song's last line does.
    const float x = std::ceil(c.scoreStrip->CursorX(2.0));
    // The song's time at the player's place: its frames scaled to the song's length.
    const auto songTime = [&] {
        return static_cast<double>(c.transport.SeekOffset()) * c.shared.song->duration /
               c.transport.TotalFrames();
    };
    Click(x, y);
    EXPECT_NEAR(songTime(), 2.0, 0.05);
    const double there = songTime();
    Click(c.scoreStrip->left + 1, y);  // the clef
    EXPECT_EQ(songTime(), there) << "a click beside the music goes nowhere";

    // The play-along score written over the notes stands below the strip, where it can be read.
    c.shared.playAlong.scoreText = "10 of 10 notes";
    const auto scoreTop = [&] {
        const auto calls = target.Where([&](const viewtest::Call& call) {
            return call.op == viewtest::Op::Text && call.text == c.shared.playAlong.scoreText;
        });
        return calls.empty() ? -1.0f : calls.back().rect.top;
    };
    Frames(1);
    const float underStrip = scoreTop();
    const float stripHeight = c.scoreStrip->bottom - c.scoreStrip->top;
    Key('S');
    Frames(1);
    EXPECT_TRUE(musicCalls().empty());
    const float clear = scoreTop();
    ASSERT_GE(clear, 0.0f) << "the score is written";
    EXPECT_GE(underStrip - clear, stripHeight) << "the score moves down by the strip";
    EXPECT_FALSE(ReadSettings().scoreShown.value_or(true));
}

TEST_F(ControllerTest, SpaceNeedsAPlayableSongAndAnIdleCommand) {
    Key(platform::kKeySpace);
    EXPECT_EQ(c.shared.command, Command::None) << "no song yet";
    LoadSong();
    Send(InputKind::KeyDown, 0, 0, platform::kKeySpace);
    Send(InputKind::KeyDown, 0, 0, platform::kKeySpace);  // auto-repeat
    Send(InputKind::KeyUp, 0, 0, 'A');                    // any key's release completes the press
    EXPECT_EQ(c.shared.command, Command::Play);
    Frames(1);
    Key(platform::kKeySpace);
    EXPECT_EQ(c.transport.State(), TransportState::CountingIn);
    EXPECT_EQ(c.shared.command, Command::None) << "a press during the count-in is dropped";
}

TEST_F(ControllerTest, TimeBarAndKeysSeekWhileStopped) {
    LoadSong();
    Frames(1);
    const double seconds = static_cast<double>(c.transport.TotalFrames()) / 44100.0;
    const int y = static_cast<int>(c.timeBar->top + 5);
    const int x = static_cast<int>(c.timeBar->width / 2);
    Send(InputKind::MouseMove, x, y);
    Send(InputKind::LeftButtonDown, x, y);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Paused) << "the click sets where play starts";
    EXPECT_NEAR(c.transport.SeekOffset(), c.transport.TotalFrames() / 2, 2000);
    Send(InputKind::MouseMove, x / 2, y);  // a drag scrubs
    EXPECT_NEAR(c.transport.SeekOffset(), c.transport.TotalFrames() / 4, 2000);
    Send(InputKind::LeftButtonUp, x / 2, y);
    Send(InputKind::MouseMove, x, y);  // the button is up: moving seeks no more
    EXPECT_NEAR(c.transport.SeekOffset(), c.transport.TotalFrames() / 4, 2000);

    struct Press {
        uint32_t key;
        bool shift;
        double expectedSeconds;  // -1: the song's last frame
    };
    const Press presses[] = {{platform::kKeyHome, false, 0.0},
                             {platform::kKeyRight, false, std::min(5.0, seconds)},
                             {platform::kKeyLeft, false, 0.0},
                             {platform::kKeyRight, true, -1}};
    for (const Press& p : presses) {
        platform::InputMessage m;
        m.kind = InputKind::KeyDown;
        m.keyCode = p.key;
        m.shift = p.shift;
        c.OnInput(m);
        const double expected =
            p.expectedSeconds < 0 ? c.transport.TotalFrames() - 1 : p.expectedSeconds * 44100.0;
        EXPECT_NEAR(c.transport.SeekOffset(), expected, 1.0)
            << "key " << p.key << (p.shift ? " with Shift" : "");
    }
    c.shared.command = Command::None;
    c.Post(Command::Play);
    Frames(1);
    EXPECT_EQ(c.transport.Coarse(), PlayState::Playing) << "play goes on from the place without a count-in";
}

// The + and - keys (with = and the keypad's) step the volume to the next multiple of five at once,
// and again while held; the setting is written once the key comes up, beside the SoundFont.
TEST_F(ControllerTest, VolumeKeysStepTheVolumeAndKeepItWhenLetGo) {
    const struct {
        int from;
        uint32_t key;
        int to;
    } cases[] = {
        {100, '-', 95},
        {100, '+', 100},
        {73, '+', 75},
        {73, '-', 70},
        {50, '=', 55},
        {50, platform::kKeyKeypadPlus, 55},
        {50, platform::kKeyKeypadMinus, 45},
        {3, '-', 0},
        {0, '-', 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.from << "% and key " << k.key);
        c.transport.SetVolume(static_cast<float>(k.from));
        c.transport.SaveVolume();
        Send(InputKind::KeyDown, 0, 0, k.key);
        EXPECT_EQ(c.shared.volumePercent, k.to);
        EXPECT_FLOAT_EQ(c.transport.Gain(), float(k.to * k.to) / 10000);
        EXPECT_EQ(ReadSettings("").volumePercent, k.from) << "written only when the key comes up";
        Send(InputKind::KeyUp, 0, 0, k.key);
        EXPECT_EQ(ReadSettings("").volumePercent, k.to);
    }
    platform::InputMessage held;
    held.kind = InputKind::KeyDown;
    held.keyCode = '-';
    for (int i = 0; i < 3; ++i) {
        c.OnInput(held);
        held.repeat = true;
    }
    Send(InputKind::KeyUp, 0, 0, '-');
    EXPECT_EQ(c.shared.volumePercent, 0) << "a held key goes on stepping";
    EXPECT_EQ(ReadSettings("").soundFontPath, kSmallSoundFont) << "the SoundFont stays saved";
}

// The slider plays at each step of a drag, and the settings keep the value it was let go at; the
// next start plays at that volume.
TEST_F(ControllerTest, TheSliderSetsTheVolumeAndTheNextStartKeepsIt) {
    Frames(1);
    const Slider& slider = c.controlPanel->volume;
    ASSERT_GT(slider.trackRight, slider.trackLeft);
    const int y = static_cast<int>((slider.top + slider.bottom) / 2);
    auto at = [&](float share) {
        return static_cast<int>(std::ceil(slider.trackLeft + share * (slider.trackRight - slider.trackLeft)));
    };
    Send(InputKind::MouseMove, at(0.25f), y);
    Send(InputKind::LeftButtonDown, at(0.25f), y);
    Frames(1);
    EXPECT_NEAR(c.shared.volumePercent, 25, 1);
    Send(InputKind::MouseMove, at(0.6f), y + 40);  // off the track: the drag goes on
    Frames(1);
    EXPECT_NEAR(c.shared.volumePercent, 60, 1);
    EXPECT_EQ(ReadSettings("").volumePercent, 100) << "nothing is written during the drag";
    Send(InputKind::LeftButtonUp, at(0.6f), y + 40);
    Frames(1);
    const int kept = c.shared.volumePercent;
    EXPECT_NEAR(kept, 60, 1);
    EXPECT_EQ(ReadSettings("").volumePercent, kept);
    EXPECT_TRUE(std::any_of(target.calls.begin(), target.calls.end(), [&](const viewtest::Call& call) {
        return call.text == "Volume " + std::to_string(kept) + "%";
    }));

    c.ReleaseObjects();
    c.Initialise(output, "file:///guide.html", milliseconds(0));
    c.transport.Clock().Init({&FakeFrequency, &FakeNow});
    EXPECT_EQ(c.shared.volumePercent, kept);
    EXPECT_FLOAT_EQ(c.transport.Gain(), float(kept * kept) / 10000);
    EXPECT_TRUE(c.shared.soundFontLoaded) << "and the SoundFont is still the one saved";
}

TEST_F(ControllerTest, DroppedFilesLoadByTheirKind) {
    Frames(1);
    const struct {
        std::string path;
        bool loads;
    } drops[] = {{folder / "notes.txt", false}, {WriteSong(), true}};
    for (const auto& d : drops) {
        SCOPED_TRACE(d.path);
        dialogs.errorBoxes.clear();
        platform::InputMessage m;
        m.kind = InputKind::FileDropped;
        m.path = d.path;
        c.OnInput(m);
        EXPECT_EQ(c.loading.rendering, d.loads);
        EXPECT_EQ(dialogs.errorBoxes.size(), d.loads ? 0u : 1u)
            << "a file of another kind is named, not loaded";
    }
    EXPECT_EQ(c.loading.midiLabel, "little song") << "the song's name while it renders";
    EXPECT_TRUE(dialogs.openRequests.empty()) << "no dialog for a dropped file";
}

TEST_F(ControllerTest, ANewSoundFontRendersTheSongAgainFromWhereItWas) {
    LoadSong();
    c.transport.SeekTo(2 * 44100);
    Frames(1);
    const RectF button{c.controlPanel->soundFontButton.left, c.controlPanel->soundFontButton.top,
                       c.controlPanel->soundFontButton.right, c.controlPanel->soundFontButton.bottom};
    dialogs.openAnswers.push_back(kSmallSoundFont);
    Click(MidX(button), MidY(button));
    Frames(2);
    ASSERT_EQ(dialogs.openRequests.size(), 2u);
    // Rendering again, or (on a busy machine, as LoadSong allows) already done.
    ASSERT_TRUE(c.loading.rendering || c.shared.session.Ready())
        << "the song renders again with the new SoundFont";
    for (int frames = 0; c.loading.rendering && frames < 5000; ++frames) Frames(1);
    Frames(1);
    EXPECT_TRUE(c.shared.session.Ready());
    EXPECT_EQ(c.transport.Coarse(), PlayState::Paused);
    EXPECT_NEAR(c.transport.SeekOffset(), 2 * 44100, 44100 / 10) << "the song waits where it was";
}

}  // namespace

// "Export video" asks for an MP4 with a quality, runs beside the frame loop with its progress on
// the button, and ends with the same notice as an audio export.
TEST_F(ControllerTest, TheVideoButtonExportsTheSong) {
    LoadSong();
    c.exports.SetVideo({160, 90, 30, QualityStandard});
    const std::string path = (folder / "little song.mp4").string();
    StartVideoExport(path);
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    const platform::SaveRequest& request = dialogs.saveRequests[0].request;
    ASSERT_EQ(request.types.size(), 1u);
    EXPECT_EQ(request.types[0].pattern, "*.mp4");
    EXPECT_EQ(request.fileName, "little song");  // the dialog adds ".mp4" itself
    EXPECT_EQ(request.defaultExtension, "mp4");
    EXPECT_EQ(request.choiceOptions.size(), 3u);
    ASSERT_TRUE(c.exports.VideoJob()) << (dialogs.errorBoxes.empty() ? "" : dialogs.errorBoxes[0].text);

    const std::vector<std::string> shown = FramesUntilTheVideoEnds();
    EXPECT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes.at(0).text;
    for (const std::string& caption : shown) EXPECT_NE(caption, "Export video (100%)");
    EXPECT_EQ(export_test::RunCommand("ffprobe -v error -show_entries stream=codec_name,width -of csv=p=0 " +
                                      export_test::Quote(path)),
              "h264,160\naac\n");
    EXPECT_EQ(c.controlPanel->exportNotice.text, "Saved little song.mp4 in " + folder.string());
    Frames(1);
    EXPECT_LT(c.ControlPanelSnapshot().videoExportProgress, 0.0f) << "no export runs";
    bool plain = false;
    for (const auto& call : target.Texts()) plain = plain || call.text == "Export video";
    EXPECT_TRUE(plain);
}

// Without a rendered song the button says so; while an export runs no song may load (its render
// would write the sound the export reads), a second click stops it, and quitting stops it too.
// Neither leaves a file or says more; a failed export says why in one box.
TEST_F(ControllerTest, TheVideoButtonNeedsASongAndStops) {
    Frames(1);
    ClickButton(c.controlPanel->videoButton);
    Frames(3);
    // Without a song the button looks as it is, unable to act, and says why itself: a click asks
    // for nothing and opens no box.
    EXPECT_TRUE(c.controlPanel->videoButton.dimmed);
    EXPECT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes.at(0).text;
    EXPECT_TRUE(dialogs.saveRequests.empty());

    LoadSong();
    c.exports.SetVideo({1280, 720, 60, QualityStandard});  // long enough to be caught running
    StartVideoExport((folder / "stopped.mp4").string());
    ASSERT_TRUE(c.exports.VideoJob());
    Frames(1);
    bool progressShown = false;
    for (const auto& call : target.Texts())
        progressShown = progressShown || call.text.rfind("Export video (", 0) == 0;
    EXPECT_TRUE(progressShown);
    const size_t opened = dialogs.openRequests.size();
    ClickButton(c.controlPanel->midiButton);
    Frames(3);
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_EQ(dialogs.errorBoxes[0].caption, "Export video");
    EXPECT_EQ(dialogs.openRequests.size(), opened);
    EXPECT_FALSE(c.DropFile(WriteSong()));
    EXPECT_EQ(dialogs.errorBoxes.size(), 2u);
    dialogs.errorBoxes.clear();

    ClickButton(c.controlPanel->videoButton);
    FramesUntilTheVideoEnds();
    EXPECT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes.at(0).text;
    EXPECT_TRUE(c.controlPanel->exportNotice.text.empty());
    EXPECT_TRUE(VideoLeftovers().empty()) << VideoLeftovers().front();

    // A folder that cannot be written: one box with the exporter's reason, and nothing left.
    StartVideoExport((folder / "missing" / "song.mp4").string());
    FramesUntilTheVideoEnds();
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_EQ(dialogs.errorBoxes[0].caption, "Export video");
    EXPECT_NE(dialogs.errorBoxes[0].text.find("missing"), std::string::npos) << dialogs.errorBoxes[0].text;
    EXPECT_FALSE(fs::exists(folder / "missing"));

    StartVideoExport((folder / "quit.mp4").string());
    ASSERT_TRUE(c.exports.VideoJob());
    c.ReleaseObjects();
    EXPECT_TRUE(VideoLeftovers().empty()) << VideoLeftovers().front();
}
