#include "synth/synth_renderer.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "smf_builder.h"
#include "synth/render_overview.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Stands in for the control panel and keeps everything the render tells it.
struct RecordingPanel final : RenderProgressSink {
    std::vector<float> progress;
    std::vector<std::string> labels;
    int ends = 0;
    void SetRenderProgress(float percent) override { progress.push_back(percent); }
    void SetMidiLabel(const std::string& text) override { labels.push_back(text); }
    void EndRender() override { ++ends; }
};

// Three seconds of a right hand over a left hand at 120 quarter notes per minute.
smf::Bytes ShortSong() {
    using namespace smf;
    Bytes right, left;
    for (int i = 0; i < 6; ++i) {
        right = Cat({right, On(0, 0, 72 + i), Off(480, 0, 72 + i)});
        left = Cat({left, On(0, 1, 48 + (i % 3) * 4), Off(480, 1, 48 + (i % 3) * 4)});
    }
    return Cat(
        {Header(480, 1, 2), Track({Tempo(0, 500000), right, EndOfTrack()}), Track({left, EndOfTrack()})});
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Starts a render into a file of the test's own at `path`, as the command line does.
bool StartInto(SynthRenderer& synth, const std::string& path) {
    auto file = std::make_unique<RenderFile>();
    std::string error;
    (void)file->CreateOwn(path, error);
    return synth.StartRender(std::move(file));
}

RenderOutcome RunToEnd(SynthRenderer& synth, RecordingPanel& panel) {
    RenderOutcome outcome = RenderOutcome::Running;
    for (int frame = 0; frame < 100000 && outcome == RenderOutcome::Running; ++frame) {
        outcome = synth.RenderStep(panel);
    }
    return outcome;
}

class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kSoundFont)) GTEST_SKIP() << kSoundFont << " is not installed";
        ShowFluidSynthMessages(false);
        std::string pattern = (fs::temp_directory_path() / "dorvik-render-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        // The window renders into the settings folder: keep it inside the test's folder.
        if (const char* xdg = getenv("XDG_CONFIG_HOME")) savedXdg_ = xdg;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);

        state_.soundFontPath = kSoundFont;
        state_.midiPath = Write("Evening Song.mid", ShortSong());
        state_.midiParsed = true;
    }
    void TearDown() override {
        savedXdg_ ? setenv("XDG_CONFIG_HOME", savedXdg_->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    std::string Write(const std::string& name, const smf::Bytes& bytes) {
        const std::string path = (fs::path(dir_) / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string InDir(const std::string& name) const { return (fs::path(dir_) / name).string(); }

    std::string dir_;
    std::optional<std::string> savedXdg_;
    SessionState state_;
};

TEST_F(Render, CompletesIntoTheSettingsFolderAndAsksForPlayback) {
    SynthRenderer synth(state_);
    ASSERT_TRUE(synth.Valid());
    ASSERT_TRUE(synth.LoadSoundFont());
    state_.rendered = synth.StartRender();
    ASSERT_TRUE(state_.rendered) << synth.lastError;
    EXPECT_EQ(state_.outputWavPath, InDir("Dorvik Midi Player/output-" + std::to_string(getpid()) + ".wav"));
    EXPECT_TRUE(synth.soundFontReloaded);

    RecordingPanel panel;
    EXPECT_EQ(RunToEnd(synth, panel), RenderOutcome::Finished);

    // The progress rises in steps of more than 1.6 points, starting above 1.6 and ending at
    // 100 at most, so the whole render takes about 62 frames; the display is switched off at
    // the end.
    ASSERT_GE(panel.progress.size(), 2u);
    EXPECT_EQ(panel.progress.back(), -1.0f);
    const std::vector<float> shown(panel.progress.begin(), panel.progress.end() - 1);
    EXPECT_GT(shown.front(), 1.6f);
    for (size_t i = 1; i < shown.size(); ++i) {
        EXPECT_GT(shown[i] - shown[i - 1], 1.6f) << "after " << shown[i - 1];
    }
    EXPECT_LE(shown.back(), 100.0f);
    EXPECT_GE(shown.size(), 55u);
    EXPECT_LE(shown.size(), 62u);

    EXPECT_EQ(panel.labels, std::vector<std::string>{"Evening Song"});
    EXPECT_EQ(panel.ends, 1);
    EXPECT_EQ(state_.midiName, "Evening Song");
    EXPECT_TRUE(state_.rendered);
    EXPECT_TRUE(state_.songReady);
    EXPECT_TRUE(state_.overviewLoaded);
    EXPECT_EQ(state_.command, CmdPreparePlayback);
    EXPECT_FALSE(synth.rendering);
    EXPECT_EQ(synth.fluidPlayer, nullptr);

    // The song's three seconds and the few seconds FluidSynth's player runs on after its last
    // event, read back whole into the overview.
    EXPECT_EQ(state_.overview.wavChannels, 2);
    EXPECT_EQ(state_.overview.wavSampleRate, 44100u);
    EXPECT_GE(state_.overview.wavDataBytes / 4.0 / 44100.0, 3.0);
    EXPECT_GT(state_.overview.overviewMaxLeft[100], 0);
    EXPECT_LT(state_.overview.overviewMinRight[100], 0);
}

// An unparsed song is named but neither read nor offered for playback.
TEST_F(Render, UnparsedSongIsNamedButNotPrepared) {
    state_.midiParsed = false;
    SynthRenderer synth(state_);
    state_.rendered = StartInto(synth, InDir("out.wav"));
    RecordingPanel panel;
    EXPECT_EQ(RunToEnd(synth, panel), RenderOutcome::Finished);
    EXPECT_EQ(state_.midiName, "Evening Song");
    EXPECT_FALSE(state_.songReady);
    EXPECT_FALSE(state_.overviewLoaded);
    EXPECT_EQ(state_.command, CmdNone);
}

// The SoundFont's samples are held from a load until its render ends, never two sets at once; a
// SoundFont whose file has gone fails the next render and leaves the previous render's file.
TEST_F(Render, SoundFontIsHeldOnlyUntilItsRenderEnds) {
    SynthRenderer synth(state_);
    EXPECT_EQ(synth.loadedSynth, nullptr);
    EXPECT_TRUE(synth.LoadSoundFont());
    fluid_synth_t* const loaded = synth.loadedSynth.get();
    EXPECT_TRUE(synth.LoadSoundFont());
    EXPECT_EQ(synth.loadedSynth.get(), loaded) << "the same SoundFont is not loaded twice";
    EXPECT_EQ(fluid_synth_sfcount(loaded), 1);

    const std::string copy = InDir("copy.sf2");
    fs::copy_file(kSoundFont, copy);
    state_.soundFontPath = InDir("missing.sf2");
    EXPECT_FALSE(synth.LoadSoundFont());
    EXPECT_FALSE(synth.lastError.empty());
    EXPECT_EQ(synth.loadedSynth, nullptr);

    state_.soundFontPath = copy;
    state_.rendered = synth.StartRender();
    ASSERT_TRUE(state_.rendered) << synth.lastError;
    EXPECT_EQ(synth.loadedSynth, nullptr);
    EXPECT_EQ(fluid_synth_sfcount(synth.fluidSynth.get()), 1);
    RecordingPanel panel;
    ASSERT_EQ(RunToEnd(synth, panel), RenderOutcome::Finished);
    EXPECT_EQ(synth.fluidSynth, nullptr);
    EXPECT_EQ(synth.loadedSynth, nullptr);
    const std::string rendered = ReadAll(state_.outputWavPath);

    fs::remove(copy);
    EXPECT_FALSE(synth.StartRender());
    EXPECT_NE(synth.lastError.find("copy.sf2\" could not be loaded: "), std::string::npos) << synth.lastError;
    EXPECT_FALSE(synth.rendering);
    EXPECT_EQ(ReadAll(state_.outputWavPath), rendered);
}

TEST_F(Render, ZeroLengthSongCompletesWithoutShowingProgress) {
    using namespace smf;
    state_.midiPath = Write("empty.mid", Cat({Header(480, 1, 1), Track({EndOfTrack()})}));
    SynthRenderer synth(state_);
    state_.rendered = StartInto(synth, InDir("out.wav"));
    RecordingPanel panel;
    EXPECT_EQ(RunToEnd(synth, panel), RenderOutcome::Finished);
    EXPECT_EQ(panel.progress, std::vector<float>{-1.0f});
    EXPECT_EQ(panel.labels, std::vector<std::string>{"empty"});
}

// A second render started while one runs drops the first and renders exactly what a render on
// its own would have.
TEST_F(Render, RestartWhileRenderingGivesAFreshRender) {
    SynthRenderer alone(state_);
    ASSERT_TRUE(StartInto(alone, InDir("alone.wav")));
    RecordingPanel panel;
    ASSERT_EQ(RunToEnd(alone, panel), RenderOutcome::Finished);

    SessionState state;
    state.soundFontPath = kSoundFont;
    state.midiPath = state_.midiPath;
    state.midiParsed = true;
    SynthRenderer synth(state);
    ASSERT_TRUE(StartInto(synth, InDir("restarted.wav")));
    for (int i = 0; i < 10; ++i) ASSERT_EQ(synth.RenderStep(panel), RenderOutcome::Running);
    synth.LoadSoundFont();  // stacked on the old synthesiser, gone with it
    state.rendered = StartInto(synth, InDir("restarted.wav"));
    ASSERT_TRUE(state.rendered);
    EXPECT_EQ(synth.shownProgress, 0);
    ASSERT_EQ(RunToEnd(synth, panel), RenderOutcome::Finished);
    EXPECT_EQ(ReadAll(InDir("restarted.wav")), ReadAll(InDir("alone.wav")));
}

// Whether the render cannot start or stops part way, the panel is told the song is not loaded,
// and nothing is offered for playback.
TEST_F(Render, FailedRenderIsNotShownAsASong) {
    // The output folder does not exist: there is no file to render into.
    {
        SynthRenderer synth(state_);
        state_.songReady = true;  // left over from an earlier song
        state_.rendered = StartInto(synth, InDir("no such folder/out.wav"));
        EXPECT_FALSE(state_.rendered);
        EXPECT_FALSE(synth.rendering);
        EXPECT_EQ(synth.fluidPlayer, nullptr);
        EXPECT_FALSE(synth.lastError.empty());
        RecordingPanel panel;
        EXPECT_EQ(synth.RenderStep(panel), RenderOutcome::Failed);
        EXPECT_EQ(panel.labels, std::vector<std::string>{"no MIDI file loaded"});
        EXPECT_EQ(panel.progress, std::vector<float>{-1.0f});
        EXPECT_EQ(panel.ends, 1);
        EXPECT_EQ(state_.command, CmdNone);
        EXPECT_FALSE(state_.overviewLoaded);
    }

    // The disk fills part way: a file size limit makes the writes fail after about a second.
    {
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = 200'000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

        SynthRenderer synth(state_);
        state_.songReady = true;
        state_.rendered = StartInto(synth, InDir("full.wav"));
        ASSERT_TRUE(state_.rendered);
        RecordingPanel panel;
        const RenderOutcome outcome = RunToEnd(synth, panel);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedSignal);

        EXPECT_EQ(outcome, RenderOutcome::Failed);
        EXPECT_FALSE(state_.rendered);
        EXPECT_FALSE(state_.songReady);
        EXPECT_FALSE(state_.overviewLoaded);
        EXPECT_EQ(state_.command, CmdNone);
        EXPECT_FALSE(synth.rendering);
        ASSERT_FALSE(panel.labels.empty());
        EXPECT_EQ(panel.labels.back(), "no MIDI file loaded");
        EXPECT_EQ(panel.progress.back(), -1.0f);
        EXPECT_EQ(panel.ends, 1);
    }
}

}  // namespace

namespace {

// However FluidSynth's player reads a file, the render ends within the song's length as the
// program reads it plus the release tail: the 45-byte file whose garbage after its one note
// FluidSynth took for days of silence, and mutations of a short song, each shorter than 20 s as
// read (longer ones would only make the test slow).
TEST_F(Render, EndsWithinTheSongAndItsTail) {
    using namespace smf;
    const Bytes note = Cat({On(0, 0, 60), Off(480, 0, 60)});
    std::vector<Bytes> files = {
        Cat({Header(480, 0, 1), Chunk("MTrk", Cat({note, Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x51, 0x03, 0x07,
                                                               0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00}}))}),
    };
    const Bytes base = ShortSong();
    uint32_t seed = 2024;
    for (int i = 0; i < 40; ++i) {
        Bytes mutated = base;
        for (int flips = 0; flips < 3; ++flips) {
            seed = seed * 1664525u + 1013904223u;
            mutated[14 + (seed >> 8) % (mutated.size() - 14)] = static_cast<uint8_t>(seed >> 24);
        }
        files.push_back(mutated);
    }
    int rendered = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        auto song = NewSong();
        if (!ParseSong(*song, files[i].data(), files[i].size()) || song->duration > 20.0) continue;
        SCOPED_TRACE("file " + std::to_string(i) + ", " + std::to_string(song->duration) + " s as read");
        const double limit = (song->duration + SynthRenderer::kReleaseTailSeconds) * 44100.0 + 64;
        state_.song = std::move(song);
        state_.midiPath = Write("mutated.mid", files[i]);
        SynthRenderer synth(state_);
        if (!StartInto(synth, InDir("mutated.wav"))) continue;
        RecordingPanel panel;
        RunToEnd(synth, panel);
        EXPECT_FALSE(synth.rendering);
        EXPECT_LE(static_cast<double>(fs::file_size(InDir("mutated.wav")) - 44) / 4.0, limit);
        ++rendered;
    }
    EXPECT_GE(rendered, 10) << "too few of the files parsed to say anything";
}

}  // namespace
