#include "ui/control_panel.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "core/palette.h"
#include "core/session_state.h"
#include "platform/dialogs.h"
#include "smf_builder.h"
#include "view/recording_target.h"

namespace {

namespace fs = std::filesystem;
using viewtest::Call;
using viewtest::Op;

constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

struct ControlPanelTest : ::testing::Test {
    ControlPanelTest() {
        folder = fs::temp_directory_path() / ("dorvik-panel-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ShowFluidSynthMessages(false);
        state.dialogs = &dialogs;
        synth = std::make_unique<SynthRenderer>();
        device.target = &target;
        panel.palette = &kDefaultPalette;
        panel.background = 20;
        panel.Init(&device, &state, &mouse);
        panel.CreateBrushes();
        panel.synth = synth.get();
        panel.renderFolder = folder.string();
        panel.Build("file:///guide.html");
        Place(300);
    }
    ~ControlPanelTest() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    void Place(float width) { panel.SetRect(1000, 0, 1000 + width, 831); }

    // One frame with the mouse at (x, y), the button held or not.
    void Frame(int x, int y, bool down) {
        mouse = {x, y};
        panel.mouseX = x;
        panel.mouseY = y;
        panel.mouseDown = down;
        target.calls.clear();
        panel.Frame();
    }
    // The middle of a large button by its top offset.
    void ClickAt(float offsetY) {
        Frame(static_cast<int>(panel.left) + 50, static_cast<int>(offsetY) + 15, true);
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

    fs::path folder;
    SessionState state;
    platform::ScriptedDialogs dialogs;
    std::unique_ptr<SynthRenderer> synth;
    viewtest::RecordingTarget target;
    GraphicsDevice device;
    PointI mouse;
    ControlPanel panel;
};

TEST_F(ControlPanelTest, LargeButtonActsInTheThirdFrameAfterTheRelease) {
    state.soundFontLoaded = true;
    state.playState = Playing;
    ClickAt(250);  // "Load MIDI"
    EXPECT_EQ(state.command, CmdStop) << "a load while playing stops the song at once";
    EXPECT_FALSE(panel.enabled);
    state.command = CmdNone;  // the controller runs the stop
    Frame(0, 0, true);        // still held: nothing counts
    Release(2);
    EXPECT_TRUE(dialogs.openRequests.empty())
        << "expected no dialog before the third frame with the button up";
    Release(1);
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    EXPECT_EQ(dialogs.openRequests[0].title, "Select MIDI file");
    EXPECT_EQ(dialogs.openRequests[0].filterName, "MIDI files");
    EXPECT_EQ(panel.action, ActionNone) << "a cancelled dialog leaves no action";
    Release(1);
    EXPECT_TRUE(panel.enabled);
}

TEST_F(ControlPanelTest, LargeButtonsStartNothingWhileBusy) {
    state.soundFontLoaded = true;
    const struct {
        const char* name;
        int32_t action;
        bool enabled;
        uint16_t command;
    } cases[] = {
        {"during a render", ActionRendering, false, CmdNone},
        {"while disabled after a click", ActionNone, false, CmdNone},
        {"while an export runs", ActionNone, true, CmdExportRunning},
    };
    for (const auto& c : cases) {
        panel.synth = nullptr;  // keep the render slice out of this
        panel.action = c.action;
        panel.enabled = c.enabled;
        state.command = c.command;
        for (float offset : {150.0f, 250.0f, 350.0f}) {
            panel.action = c.action;
            panel.enabled = c.enabled;
            state.command = c.command;
            Release(1);  // the press must be a fresh one
            panel.enabled = c.enabled;
            ClickAt(offset);
            EXPECT_EQ(panel.action, c.action) << c.name << ", button at " << offset;
            EXPECT_EQ(state.command, c.command) << c.name << ", button at " << offset;
        }
        EXPECT_TRUE(dialogs.openRequests.empty()) << c.name;
    }
}

TEST_F(ControlPanelTest, LoadMidiWithoutSoundFontExplainsAndDoesNothing) {
    ClickAt(250);
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_EQ(dialogs.errorBoxes[0].text, "no SoundFont loaded");
    EXPECT_EQ(dialogs.errorBoxes[0].caption, "Error");
    EXPECT_EQ(panel.action, ActionNone);
    Release(3);
    EXPECT_TRUE(dialogs.openRequests.empty());
}

TEST_F(ControlPanelTest, TransportButtonsNeedAPlayableSongAndAnIdlePanel) {
    const struct {
        const char* name;
        bool parsed, ready;
        int32_t action;
        uint16_t command;
        bool expectPost;
    } cases[] = {
        {"playable", true, true, ActionNone, CmdNone, true},
        {"not rendered yet", true, false, ActionNone, CmdNone, false},
        {"no song", false, false, ActionNone, CmdNone, false},
        {"rendering", true, true, ActionRendering, CmdNone, false},
        {"command pending", true, true, ActionNone, CmdCountIn, false},
    };
    for (const auto& c : cases) {
        panel.synth = nullptr;
        state.midiParsed = c.parsed;
        state.songReady = c.ready;
        state.playState = Idle;
        state.command = c.command;
        state.refreshBits = 0;
        panel.action = c.action;
        Release(3);
        const RectF stop = panel.transportButtons[TransportStop];
        Frame(static_cast<int>(stop.left) + 5, static_cast<int>(stop.top) + 5, true);
        if (c.expectPost) {
            EXPECT_EQ(state.refreshBits, RefreshAll) << c.name << ": the stop press refreshes at once";
            EXPECT_EQ(state.command, CmdNone) << c.name << ": nothing is posted while the button is held";
            Frame(0, 0, false);
            EXPECT_EQ(state.command, CmdStop) << c.name << ": posted in the first frame with the button up";
        } else {
            Frame(0, 0, false);
            EXPECT_EQ(state.command, c.command) << c.name;
            EXPECT_EQ(state.refreshBits, 0) << c.name;
        }
    }
}

TEST_F(ControlPanelTest, PlayButtonPausesWhilePlaying) {
    state.midiParsed = state.songReady = true;
    for (uint16_t play : {Idle, Playing, Paused, Stopped}) {
        state.playState = play;
        state.command = CmdNone;
        Release(3);
        const RectF r = panel.transportButtons[TransportPlayPause];
        Frame(static_cast<int>(r.left) + 1, static_cast<int>(r.bottom), true);  // edges count
        Frame(0, 0, false);
        EXPECT_EQ(state.command, play == Playing ? CmdPause : CmdPlay) << "play state " << play;
    }
}

TEST_F(ControlPanelTest, TransportAndLogoFollowThePanelWidth) {
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
        EXPECT_FLOAT_EQ(panel.transportButtons[TransportRewind].left, 1000 + c.transportLeft)
            << "width " << c.width;
        const auto logos = target.Where([](const Call& call) { return call.op == Op::Image; });
        ASSERT_EQ(logos.size(), 1u) << "width " << c.width;
        EXPECT_NEAR(logos[0].rect.left, 1000 + c.logoLeft, 1e-3) << "width " << c.width;
        EXPECT_NEAR(logos[0].rect.Width(), c.logoWidth, 1e-3) << "width " << c.width;
        EXPECT_NEAR(logos[0].rect.Height(), c.logoHeight, 1e-3) << "width " << c.width;
    }
}

TEST_F(ControlPanelTest, SongTimeReadsInMinutesSecondsAndTenths) {
    const struct {
        double time;
        const char* text;
    } cases[] = {
        {-1.0, "--:--.-"}, {-0.5, "--:--.-"}, {0.0, "00:00.0"}, {83.45, "01:23.4"}, {600.05, "10:00.0"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatSongTime(c.time), c.text) << "time " << c.time;
    panel.songTime = 83.45f;
    Frame(0, 0, false);
    const auto texts =
        target.Where([](const Call& call) { return call.op == Op::Text && call.text == "01:23.4"; });
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].format.size, 24.0f);
    EXPECT_FLOAT_EQ(texts[0].rect.top, 831 - 100);
}

TEST_F(ControlPanelTest, LoadingFlows) {
    // A cancelled dialog changes nothing.
    state.song = smf::NewSong();
    state.midiParsed = true;
    EXPECT_FALSE(panel.LoadFile(FileMidi));
    EXPECT_TRUE(state.song != nullptr);
    EXPECT_TRUE(state.midiParsed);

    // A SoundFont the synthesiser refuses: a box names the file and the reason; the song and the
    // labels stay as they were.
    const std::string labelBefore = panel.soundFontLabel.text;
    dialogs.openAnswers.push_back(WriteSong("not-a-soundfont.sf2"));
    EXPECT_TRUE(panel.LoadFile(FileSoundFont));
    EXPECT_NE(state.song, nullptr);
    EXPECT_TRUE(state.midiParsed);
    EXPECT_EQ(panel.soundFontLabel.text, labelBefore);
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
    EXPECT_TRUE(panel.LoadFile(FileSoundFont));
    EXPECT_TRUE(state.soundFontLoaded);
    EXPECT_EQ(panel.soundFontLabel.text, "TimGM6mb");
    std::ifstream saved(settingsFile);
    std::string line;
    std::getline(saved, line);
    EXPECT_EQ(line, std::string("[Soundfont] = ") + kSmallSoundFont);

    // A file that is not MIDI: the error box, and the song before kept.
    const fs::path junk = folder / "junk.mid";
    std::ofstream(junk) << "not midi at all";
    dialogs.openAnswers.push_back(junk.string());
    EXPECT_TRUE(panel.LoadFile(FileMidi));
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_EQ(dialogs.errorBoxes[0].text, "Not a MIDI file");
    EXPECT_NE(state.song, nullptr);
    EXPECT_TRUE(state.midiParsed);
    EXPECT_EQ(panel.action, ActionNone);

    // A song: the render runs one slice per frame with rising progress, then asks for playback.
    dialogs.openAnswers.push_back(WriteSong("two notes.mid"));
    EXPECT_TRUE(panel.LoadFile(FileMidi));
    ASSERT_EQ(panel.action, ActionRendering);
    EXPECT_TRUE(state.rendered);
    float lastProgress = -1;
    int frames = 0;
    while (panel.action == ActionRendering && frames < 10000) {
        Frame(0, 0, false);
        if (panel.midiButton.progress >= 0) {
            EXPECT_GE(panel.midiButton.progress, lastProgress) << "frame " << frames;
            lastProgress = panel.midiButton.progress;
        }
        ++frames;
    }
    EXPECT_EQ(panel.action, ActionNone) << "the render did not finish in " << frames << " frames";
    EXPECT_EQ(panel.midiLabel.text, "two notes");
    EXPECT_EQ(state.command, CmdPreparePlayback);
    EXPECT_TRUE(state.songReady);
    EXPECT_EQ(fs::path(state.outputWavPath).parent_path(), folder) << "rendered into the render folder";
    EXPECT_EQ(state.overview.wavChannels, 2) << "the overview was read from the render";

    // A file that does not load leaves the song loaded and ready as it was.
    dialogs.openAnswers.push_back(junk.string());
    EXPECT_TRUE(panel.LoadFile(FileMidi));
    EXPECT_TRUE(state.midiParsed && state.songReady);
    EXPECT_EQ(panel.midiLabel.text, "two notes");

    // The SoundFont is not kept in memory after the render; if its file has gone by the next
    // song, that song is refused and the current one stays, its render in place.
    const fs::path copy = folder / "copy.sf2";
    fs::copy_file(kSmallSoundFont, copy);
    dialogs.openAnswers.push_back(copy.string());
    EXPECT_TRUE(panel.LoadFile(FileSoundFont));
    while (panel.action == ActionRendering) Frame(0, 0, false);
    EXPECT_EQ(synth->fluidSynth, nullptr);
    EXPECT_EQ(synth->loadedSynth, nullptr);
    fs::remove(copy);
    dialogs.errorBoxes.clear();
    dialogs.openAnswers.push_back(WriteSong("another.mid"));
    EXPECT_TRUE(panel.LoadFile(FileMidi));
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_NE(dialogs.errorBoxes[0].text.find("copy.sf2\" could not be loaded: "), std::string::npos);
    EXPECT_EQ(panel.action, ActionNone);
    EXPECT_EQ(panel.midiLabel.text, "two notes");
    EXPECT_TRUE(state.songReady && fs::exists(state.outputWavPath));
}

}  // namespace
