// The file-loading flow and the control panel's requests, run through the controller's part of a
// frame: when a large button acts, what busy states refuse, the transport, and the loads.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/player_controller.h"
#include "core/file_access.h"
#include "core/palette.h"
#include "manual_output.h"
#include "platform/dialogs.h"
#include "platform/window.h"
#include "settings/song_memory.h"
#include "smf_builder.h"
#include "synth/stream_playback.h"
#include "synth/synth_renderer.h"
#include "tests/session_steps.h"
#include "ui/control_panel.h"
#include "view/recording_target.h"

namespace {

namespace fs = std::filesystem;
using viewtest::Call;
using viewtest::Op;

constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

struct SongLoadingTest : ::testing::Test {
    SongLoadingTest() {
        folder = fs::temp_directory_path() / ("dorvik-panel-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
        ShowFluidSynthMessages(false);
        state.dialogs = &dialogs;
        c.synth = std::make_unique<SynthRenderer>();
        synth = c.synth.get();
        c.transport.SetRenderFolder(folder.string());
        device.target = &target;
        c.device = &device;
        c.controlPanel = std::make_unique<ControlPanel>();
        panel = c.controlPanel.get();
        panel->palette = &kDefaultPalette;
        panel->background = 20;
        panel->Init(&device, &c.mousePoint);
        panel->CreateBrushes();
        panel->Build("file:///guide.html");
        c.loading.soundFontLabel = "no SoundFont loaded";
        c.loading.midiLabel = "no MIDI file loaded";
        Place(300);
    }
    ~SongLoadingTest() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    void Place(float width) { panel->SetRect(1000, 0, 1000 + width, 831); }

    // One frame with the mouse at (x, y), the button held or not.
    void Frame(int x, int y, bool down) {
        c.mousePoint = {x, y};
        c.SetPanelsMouseDown(down);
        target.calls.clear();
        c.RunPendingPanelAction();
        c.StepLoading();
        c.DrawControlPanel();
    }
    // The middle of a large button by its top offset.
    void ClickAt(float offsetY) {
        Frame(static_cast<int>(panel->left) + 50, static_cast<int>(offsetY) + 15, true);
    }
    void Release(int frames) {
        for (int i = 0; i < frames; ++i) Frame(0, 0, false);
    }

    std::string WriteSong(const char* name) {
        using namespace smf;
        const Bytes bytes = Cat(
            {Header(480, 0, 1),
             Track({On(0, 0, 60, 90), Off(480, 0, 60), On(0, 0, 64, 90), Off(480, 0, 64), EndOfTrack()})});
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // Nothing pending and no render running: the panel's large buttons may act.
    bool Idle() const { return c.loading.pending == PanelIntent::None && !c.loading.rendering; }

    fs::path folder;
    ManualOutput output;  // outlives the controller's player
    PlayerController c;
    SessionState& state = c.shared;
    platform::ScriptedDialogs dialogs;
    SynthRenderer* synth = nullptr;
    viewtest::RecordingTarget target;
    GraphicsDevice device;
    ControlPanel* panel = nullptr;
};

TEST_F(SongLoadingTest, LargeButtonActsInTheThirdFrameAfterTheRelease) {
    state.soundFontLoaded = true;
    c.transport.Start();
    ClickAt(250);  // "Load MIDI"
    EXPECT_EQ(state.command, Command::Stop) << "a load while playing stops the song at once";
    EXPECT_FALSE(c.ControlPanelSnapshot().canStart);
    state.command = Command::None;  // the controller runs the stop
    Frame(0, 0, true);              // still held: nothing counts
    Release(2);
    EXPECT_TRUE(dialogs.openRequests.empty())
        << "expected no dialog before the third frame with the button up";
    Release(1);
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    EXPECT_EQ(dialogs.openRequests[0].title, "Select MIDI file");
    EXPECT_EQ(dialogs.openRequests[0].filterName, "MIDI files");
    EXPECT_TRUE(Idle()) << "a cancelled dialog leaves no action";
    Release(1);
    EXPECT_TRUE(c.ControlPanelSnapshot().canStart);
}

TEST_F(SongLoadingTest, LargeButtonsStartNothingWhileBusy) {
    state.soundFontLoaded = true;
    c.synth.reset();  // keeps the render slice out of this
    const struct {
        const char* name;
        bool rendering;
        PanelIntent pending;
        Command command;
    } cases[] = {
        {"during a render", true, PanelIntent::None, Command::None},
        {"while an action waits after a click", false, PanelIntent::ExportAudio, Command::None},
        {"while an export runs", false, PanelIntent::None, Command::ExportRunning},
    };
    for (const auto& k : cases) {
        for (float offset : {150.0f, 250.0f, 350.0f}) {
            c.loading.rendering = k.rendering;
            c.loading.pending = k.pending;
            state.command = k.command;
            ClickAt(offset);
            EXPECT_EQ(c.loading.pending, k.pending) << k.name << ", button at " << offset;
            EXPECT_EQ(state.command, k.command) << k.name << ", button at " << offset;
            Frame(0, 0, true);  // held: a waiting action stays waiting
            c.loading.pending = PanelIntent::None;
            Release(1);  // the next press must be a fresh one
        }
        EXPECT_TRUE(dialogs.openRequests.empty()) << k.name;
    }
}

TEST_F(SongLoadingTest, LoadMidiWithoutSoundFontExplainsAndDoesNothing) {
    ClickAt(250);
    EXPECT_TRUE(dialogs.errorBoxes.empty()) << "no box opens while the panel draws, nor under a held button";
    Release(1);
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_EQ(dialogs.errorBoxes[0].text, "no SoundFont loaded");
    EXPECT_EQ(dialogs.errorBoxes[0].caption, "Error");
    EXPECT_TRUE(Idle());
    Release(3);
    EXPECT_TRUE(dialogs.openRequests.empty());
}

TEST_F(SongLoadingTest, TransportButtonsNeedAPlayableSongAndAnIdlePanel) {
    const struct {
        const char* name;
        bool parsed, ready;
        bool rendering;
        Command command;
        bool expectPost;
    } cases[] = {
        {"playable", true, true, false, Command::None, true},
        {"plays while it renders", true, false, true, Command::None, true},
        {"no song", false, false, false, Command::None, false},
        {"command pending", true, true, false, Command::Play, false},
    };
    this->c.synth.reset();
    for (const auto& c : cases) {
        BringTo(state.session, c.ready    ? SongStage::Ready
                               : c.parsed ? SongStage::Rendering
                                          : SongStage::Empty);
        state.command = c.command;
        state.refreshBits = 0;
        this->c.loading.rendering = c.rendering;
        Release(3);
        const RectF stop = panel->transportButtons[TransportStop];
        Frame(static_cast<int>(stop.left) + 5, static_cast<int>(stop.top) + 5, true);
        if (c.expectPost) {
            EXPECT_EQ(state.refreshBits, RefreshAll) << c.name << ": the stop press refreshes at once";
            EXPECT_EQ(state.command, Command::None)
                << c.name << ": nothing is posted while the button is held";
            Frame(0, 0, false);
            EXPECT_EQ(state.command, Command::Stop)
                << c.name << ": posted in the first frame with the button up";
        } else {
            Frame(0, 0, false);
            EXPECT_EQ(state.command, c.command) << c.name;
            EXPECT_EQ(state.refreshBits, 0) << c.name;
        }
    }
}

TEST_F(SongLoadingTest, PlayButtonPausesWhilePlaying) {
    BringTo(state.session, SongStage::Ready);
    c.CreatePlayer(output, std::chrono::milliseconds(0));  // without one nothing pauses
    for (PlayState play : {PlayState::Idle, PlayState::Playing, PlayState::Paused, PlayState::Stopped}) {
        if (play == PlayState::Playing) c.transport.Start();
        if (play == PlayState::Paused) c.transport.Pause();
        if (play == PlayState::Stopped) c.transport.Stop();
        ASSERT_EQ(c.transport.Coarse(), play);
        state.command = Command::None;
        Release(3);
        const RectF r = panel->transportButtons[TransportPlayPause];
        Frame(static_cast<int>(r.left) + 1, static_cast<int>(r.bottom), true);  // edges count
        Frame(0, 0, false);
        EXPECT_EQ(state.command, play == PlayState::Playing ? Command::Pause : Command::Play)
            << "play state " << static_cast<int>(play);
    }
}

TEST_F(SongLoadingTest, TransportAndLogoFollowThePanelWidth) {
    const struct {
        float width;
        float transportLeft;
        float logoLeft, logoWidth, logoHeight;
    } cases[] = {
        {130, 20, 0, 131, 131 * 127.0f / 441},
        {150, 30, 0, 151, 151 * 127.0f / 441},
        {300, 105, 63.188980f, 173.62204f, 50},
    };
    for (const auto& c : cases) {
        Place(c.width);
        Frame(0, 0, false);
        EXPECT_FLOAT_EQ(panel->transportButtons[TransportRewind].left, 1000 + c.transportLeft)
            << "width " << c.width;
        const auto logos = target.Where([](const Call& call) { return call.op == Op::Image; });
        ASSERT_EQ(logos.size(), 1u) << "width " << c.width;
        EXPECT_NEAR(logos[0].rect.left, 1000 + c.logoLeft, 1e-3) << "width " << c.width;
        EXPECT_NEAR(logos[0].rect.Width(), c.logoWidth, 1e-3) << "width " << c.width;
        EXPECT_NEAR(logos[0].rect.Height(), c.logoHeight, 1e-3) << "width " << c.width;
    }
}

TEST_F(SongLoadingTest, SongTimeReadsInMinutesSecondsAndTenths) {
    const struct {
        double time;
        const char* text;
    } cases[] = {
        {-1.0, "--:--.-"}, {-0.5, "--:--.-"}, {0.0, "00:00.0"}, {83.45, "01:23.4"}, {600.05, "10:00.0"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatSongTime(c.time), c.text) << "time " << c.time;
    c.shownTime = 83.45f;
    Frame(0, 0, false);
    const auto texts =
        target.Where([](const Call& call) { return call.op == Op::Text && call.text == "01:23.4"; });
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].format.size, 24.0f);
    EXPECT_FLOAT_EQ(texts[0].rect.top, 831 - 103);
}

TEST_F(SongLoadingTest, LoadingFlows) {
    // A cancelled dialog changes nothing.
    state.song = smf::NewSong();
    BringTo(state.session, SongStage::Ready);
    EXPECT_FALSE(c.ChooseAndLoadFile(FileKind::Midi));
    EXPECT_TRUE(state.song != nullptr);
    EXPECT_TRUE(state.session.HasSong());

    // A SoundFont the synthesiser refuses: a box names the file and the reason; the song and the
    // labels stay as they were.
    const std::string labelBefore = c.loading.soundFontLabel;
    dialogs.openAnswers.push_back(WriteSong("not-a-soundfont.sf2"));
    EXPECT_TRUE(c.ChooseAndLoadFile(FileKind::SoundFont));
    EXPECT_NE(state.song, nullptr);
    EXPECT_TRUE(state.session.HasSong());
    EXPECT_EQ(c.loading.soundFontLabel, labelBefore);
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_NE(dialogs.errorBoxes[0].text.find("not-a-soundfont.sf2\" could not be loaded: "),
              std::string::npos)
        << dialogs.errorBoxes[0].text;
    EXPECT_GT(dialogs.errorBoxes[0].text.size(), dialogs.errorBoxes[0].text.find(": ") + 2)
        << "with a reason";
    EXPECT_EQ(dialogs.errorBoxes[0].text.find("Failed to load SoundFont"), std::string::npos)
        << "the loader's own reason, not FluidSynth's summing-up: " << dialogs.errorBoxes[0].text;
    dialogs.errorBoxes.clear();
    const fs::path settingsFile = folder / "Dorvik Midi Player" / "settings.ini";
    EXPECT_FALSE(fs::exists(settingsFile)) << "a SoundFont that did not load is not kept";

    // A good SoundFont, kept in the settings the moment it has loaded.
    if (!fs::exists(kSmallSoundFont)) GTEST_SKIP() << kSmallSoundFont << " is not installed";
    dialogs.openAnswers.push_back(kSmallSoundFont);
    EXPECT_TRUE(c.ChooseAndLoadFile(FileKind::SoundFont));
    EXPECT_TRUE(state.soundFontLoaded);
    EXPECT_EQ(c.loading.soundFontLabel, "TimGM6mb");
    std::ifstream saved(settingsFile);
    std::string line;
    std::getline(saved, line);
    EXPECT_EQ(line, std::string("[Soundfont] = ") + kSmallSoundFont);

    // A file that is not MIDI: the error box, and the song before kept.
    const fs::path junk = folder / "junk.mid";
    std::ofstream(junk) << "not midi at all";
    dialogs.openAnswers.push_back(junk.string());
    EXPECT_TRUE(c.ChooseAndLoadFile(FileKind::Midi));
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_EQ(dialogs.errorBoxes[0].text, junk.string() + ": Not a MIDI file") << "the file is named";
    EXPECT_NE(state.song, nullptr);
    EXPECT_TRUE(state.session.HasSong());
    EXPECT_TRUE(Idle());

    // A song: it plays from its render at once, while the render runs on its own thread with
    // rising progress.
    // The passage practised the last time this song was open (under another name) comes back.
    const std::string twoNotes = WriteSong("two notes.mid");
    std::vector<uint8_t> songBytes;
    ASSERT_TRUE(ReadRegularFile(twoNotes, 1 << 20, songBytes).Ok());
    SongMemory kept;
    kept.loopStart = 0.25;
    kept.loopEnd = 0.75;
    ASSERT_TRUE(WriteSongMemory(SongKey(songBytes.data(), songBytes.size()), kept));
    dialogs.openAnswers.push_back(twoNotes);
    EXPECT_TRUE(c.ChooseAndLoadFile(FileKind::Midi));
    ASSERT_NE(c.transport.Playback(), nullptr);
    EXPECT_EQ(c.transport.Playback()->Loop().start, 11025);
    EXPECT_EQ(c.transport.Playback()->Loop().end, 33075);
    ASSERT_TRUE(c.loading.rendering);
    EXPECT_EQ(state.session.Stage(), SongStage::Rendering);
    EXPECT_FALSE(c.ControlPanelSnapshot().exportBlocked.empty())
        << "export waits for the render, and says so";
    float lastProgress = -1;
    int frames = 0;
    EXPECT_NE(c.transport.Playback(), nullptr);
    while (c.loading.rendering && frames < 10000) {
        Frame(0, 0, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (panel->midiButton.progress >= 0) {
            EXPECT_GE(panel->midiButton.progress, lastProgress) << "frame " << frames;
            lastProgress = panel->midiButton.progress;
        }
        ++frames;
    }
    EXPECT_TRUE(Idle()) << "the render did not finish in " << frames << " frames";
    EXPECT_TRUE(c.ControlPanelSnapshot().exportBlocked.empty());
    EXPECT_EQ(c.loading.midiLabel, "two notes");
    EXPECT_EQ(state.command, Command::None) << "it has played from the render all along";
    EXPECT_TRUE(state.session.Ready());
    EXPECT_EQ(fs::path(state.outputWavPath).parent_path(), folder) << "rendered into the render folder";
    EXPECT_EQ(state.overview.wavChannels, 2) << "the overview was read from the render";

    // A file that does not load leaves the song loaded and ready as it was.
    dialogs.openAnswers.push_back(junk.string());
    EXPECT_TRUE(c.ChooseAndLoadFile(FileKind::Midi));
    EXPECT_TRUE(state.session.Ready());
    EXPECT_EQ(c.loading.midiLabel, "two notes");

    // The SoundFont is kept after the render for the song's next one; if its file has gone by
    // the next song, that song is refused and the current one stays, its render in place.
    const fs::path copy = folder / "copy.sf2";
    fs::copy_file(kSmallSoundFont, copy);
    dialogs.openAnswers.push_back(copy.string());
    EXPECT_TRUE(c.ChooseAndLoadFile(FileKind::SoundFont));
    while (c.loading.rendering) Frame(0, 0, false);
    EXPECT_EQ(c.synth->fluidSynth, nullptr);
    EXPECT_EQ(c.synth->loadedPath, copy.string());
    EXPECT_NE(c.synth->loadedSynth, nullptr);
    fs::remove(copy);
    dialogs.errorBoxes.clear();
    dialogs.openAnswers.push_back(WriteSong("another.mid"));
    EXPECT_TRUE(c.ChooseAndLoadFile(FileKind::Midi));
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_NE(dialogs.errorBoxes[0].text.find("copy.sf2\" could not be loaded: "), std::string::npos);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(c.loading.midiLabel, "two notes");
    EXPECT_TRUE(state.session.Ready() && fs::exists(state.outputWavPath));
}

TEST_F(SongLoadingTest, TheControllerOpensTheLinksThePanelAsksFor) {
    // The guide's link sits 50 units down the panel; the panel only asks, the controller opens it
    // once the button is up (where nothing opens links, a box says so, never while drawing).
    Release(3);
    Frame(static_cast<int>(panel->left) + 50, 60, true);
    Frame(static_cast<int>(panel->left) + 50, 60, true);
    EXPECT_TRUE(dialogs.openedUrls.empty()) << "nothing opens under a held button";
    Release(1);
    ASSERT_EQ(dialogs.openedUrls.size(), 1u);
    EXPECT_EQ(dialogs.openedUrls[0], "file:///guide.html");
    Release(2);
    EXPECT_EQ(dialogs.openedUrls.size(), 1u) << "a held press opens it once";
    EXPECT_TRUE(dialogs.errorBoxes.empty());
}

TEST_F(SongLoadingTest, ASongWithoutNotesIsRefusedAndTheSongBeforeStays) {
    using namespace smf;
    state.song = smf::NewSong();
    state.midiPath = "/songs/before.mid";
    BringTo(state.session, SongStage::Ready);
    const SongData* before = state.song.get();
    const Bytes bytes = Cat({Header(480, 0, 1), Track({Tempo(0, 500000), EndOfTrack(1920)})});
    const fs::path silent = folder / "no notes.mid";
    std::ofstream(silent, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

    c.LoadChosenFile(FileKind::Midi, silent.string());
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_EQ(dialogs.errorBoxes[0].text, silent.string() + " has no notes: there is nothing to play");
    EXPECT_EQ(state.session.Stage(), SongStage::Ready) << "the song before is still ready to play";
    EXPECT_EQ(state.song.get(), before);
    EXPECT_EQ(state.midiPath, "/songs/before.mid");
}

TEST_F(SongLoadingTest, ALargeSongIsKnownByItsOwnKeyWhetherOrNotItsMemoryIsKept) {
    // A song past a megabyte (what follows its last track is never read) is hashed aside when
    // nothing can be kept for it yet, at once when something may: either way by the same key, and
    // what is kept comes back.
    using namespace smf;
    if (!fs::exists(kSmallSoundFont)) GTEST_SKIP() << kSmallSoundFont << " is not installed";
    ASSERT_TRUE(c.synth->LoadSoundFont(kSmallSoundFont).Ok());
    state.soundFontPath = kSmallSoundFont;
    state.soundFontLoaded = true;
    Bytes bytes =
        Cat({Header(480, 0, 1),
             Track({On(0, 0, 60, 90), Off(480, 0, 60), On(0, 0, 64, 90), Off(480, 0, 64), EndOfTrack()})});
    bytes.resize(bytes.size() + (size_t{3} << 19), 0x5A);
    const fs::path path = folder / "large.mid";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::string key = SongKey(bytes.data(), bytes.size());
    auto load = [&] {
        c.LoadChosenFile(FileKind::Midi, path.string());
        ASSERT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes[0].text;
        ASSERT_NE(c.transport.Playback(), nullptr);
        for (int frames = 0; c.loading.rendering && frames < 10000; ++frames) {
            Frame(0, 0, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    load();
    EXPECT_FALSE(c.transport.Playback()->Loop().Active());
    EXPECT_EQ(state.practice.Key(), key) << "hashed aside";

    SongMemory kept;
    kept.loopStart = 0.25;
    kept.loopEnd = 0.75;
    ASSERT_TRUE(WriteSongMemory(key, kept));
    load();
    EXPECT_EQ(state.practice.Key(), key) << "hashed at once";
    EXPECT_EQ(c.transport.Playback()->Loop().start, 11025) << "the kept passage comes back";
    EXPECT_EQ(c.transport.Playback()->Loop().end, 33075);
}

TEST_F(SongLoadingTest, AHugeFileIsReadAsideAndPlaysOnceReadIfSpaceAskedMeanwhile) {
    // From 16 MB on, a file is read and parsed on a thread while the frames go on: the song before
    // stays, loads and drops wait, and Space asks for the new song to play once it is read. One
    // that does not read leaves everything as it was. (What follows the last track is never read.)
    using namespace smf;
    if (!fs::exists(kSmallSoundFont)) GTEST_SKIP() << kSmallSoundFont << " is not installed";
    ASSERT_TRUE(c.synth->LoadSoundFont(kSmallSoundFont).Ok());
    state.soundFontPath = kSmallSoundFont;
    state.soundFontLoaded = true;
    const std::string before = WriteSong("before.mid");
    c.LoadChosenFile(FileKind::Midi, before);
    ASSERT_EQ(state.midiPath, before) << "a small file is read at once";
    auto write = [&](const char* name, Bytes bytes) {
        bytes.resize(size_t{16} << 20, 0x5A);
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    };
    const std::string huge =
        write("huge.mid", Cat({Header(480, 0, 1), Track({On(0, 0, 67, 90), Off(960, 0, 67), EndOfTrack()})}));
    const std::string broken = write("broken.mid", Bytes{'M', 'T', 'h', 'd'});
    auto readAside = [&](const std::string& path, bool space) {
        c.LoadChosenFile(FileKind::Midi, path);
        ASSERT_TRUE(c.loading.reading.valid()) << path;
        EXPECT_EQ(state.session.Stage(), SongStage::Reading);
        EXPECT_TRUE(c.ViewOfSong().songReading);
        EXPECT_FALSE(c.ControlPanelSnapshot().canStart);
        EXPECT_FALSE(c.DropFile(before)) << "a drop waits for the read";
        EXPECT_EQ(state.midiPath, before) << "the song before stays until the new one is read";
        if (space) {
            platform::InputMessage key;
            key.keyCode = platform::kKeySpace;
            key.kind = platform::InputKind::KeyDown;
            c.OnInput(key);
            key.kind = platform::InputKind::KeyUp;
            c.OnInput(key);
        }
        for (int frames = 0; c.loading.reading.valid() && frames < 20000; ++frames) {
            Frame(0, 0, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_FALSE(c.loading.reading.valid()) << "the read never ended";
    };

    readAside(broken, true);
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_NE(dialogs.errorBoxes[0].text.find(broken), std::string::npos) << dialogs.errorBoxes[0].text;
    EXPECT_EQ(state.midiPath, before);
    EXPECT_NE(state.session.Stage(), SongStage::Reading);
    EXPECT_NE(state.command, Command::Play) << "nothing plays of a file that did not read";

    readAside(huge, true);
    EXPECT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_EQ(state.midiPath, huge);
    ASSERT_NE(state.song, nullptr);
    EXPECT_EQ(state.song->parts[0].noteCount + state.song->parts[1].noteCount, 1);
    EXPECT_EQ(state.command, Command::Play) << "Space pressed while it was read";
}

}  // namespace
