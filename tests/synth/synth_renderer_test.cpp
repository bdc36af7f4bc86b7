#include "synth/synth_renderer.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
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

// What a caller sees of a render, slice by slice: each new progress value to show, then -1 when
// the render is over.
struct Recording {
    std::vector<float> progress;
    RenderStatus last;
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
Failure StartInto(SynthRenderer& synth, const RenderRequest& request, const std::string& path) {
    auto file = std::make_unique<RenderFile>();
    (void)file->CreateOwn(path);
    return synth.StartRender(request, std::move(file));
}

RenderOutcome RunToEnd(SynthRenderer& synth, Recording& seen) {
    float shown = 0;
    for (int frame = 0; frame < 100000; ++frame) {
        seen.last = synth.RenderStep();
        if (seen.last.progress != shown) seen.progress.push_back(shown = seen.last.progress);
        if (seen.last.outcome != RenderOutcome::Running) break;
    }
    return seen.last.outcome;
}

class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kSoundFont)) GTEST_SKIP() << kSoundFont << " is not installed";
        ShowFluidSynthMessages(false);
        std::string pattern = (fs::temp_directory_path() / "dorvik-render-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;

        request_.soundFontPath = kSoundFont;
        request_.midi = smf::Shared(ShortSong());
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    std::string InDir(const std::string& name) const { return (fs::path(dir_) / name).string(); }

    std::string dir_;
    RenderRequest request_;
};

TEST_F(Render, CompletesIntoAFileOfItsOwnInTheFolder) {
    SynthRenderer synth;
    ASSERT_TRUE(synth.Valid());
    ASSERT_TRUE(synth.LoadSoundFont(kSoundFont).Ok());
    const Failure started = synth.StartRender(request_, dir_);
    ASSERT_TRUE(started.Ok()) << started.text;
    const std::string output = synth.OutputPath();
    EXPECT_EQ(fs::path(output).parent_path(), fs::path(dir_));
    EXPECT_EQ(fs::path(output).filename().string().rfind(kPlayerRenderPrefix, 0), 0u) << output;
    EXPECT_EQ(fs::path(output).extension(), ".wav");

    Recording seen;
    EXPECT_EQ(RunToEnd(synth, seen), RenderOutcome::Finished);

    // The progress rises in steps of more than 1.6 points, starting above 1.6 and ending at
    // 100 at most, so the whole render takes about 55 to 62 frames (the synthesis shows up to
    // 90 %, and a short song's second pass takes one slice); the display is switched off at the
    // end.
    ASSERT_GE(seen.progress.size(), 2u);
    EXPECT_EQ(seen.progress.back(), -1.0f);
    const std::vector<float> shown(seen.progress.begin(), seen.progress.end() - 1);
    EXPECT_GT(shown.front(), 1.6f);
    for (size_t i = 1; i < shown.size(); ++i) {
        EXPECT_GT(shown[i] - shown[i - 1], 1.6f) << "after " << shown[i - 1];
    }
    EXPECT_LE(shown.back(), 100.0f);
    EXPECT_GE(shown.size(), 50u);
    EXPECT_LE(shown.size(), 62u);
    EXPECT_TRUE(seen.last.failure.Ok());
    EXPECT_FALSE(synth.rendering);
    EXPECT_EQ(synth.fluidPlayer, nullptr);
    EXPECT_EQ(synth.RenderStep().outcome, RenderOutcome::Finished) << "an ended render stays ended";

    // The song's three seconds and the few seconds FluidSynth's player runs on after its last
    // event, read back whole into the overview from the file the renderer still holds.
    AudioOverview overview;
    ASSERT_TRUE(ReadRenderOverview(synth.renderFile->fd(), output, overview).Ok());
    EXPECT_EQ(overview.wavChannels, 2);
    EXPECT_EQ(overview.wavSampleRate, 44100u);
    EXPECT_GE(overview.wavDataBytes / 4.0 / 44100.0, 3.0);
    EXPECT_GT(overview.overviewMaxLeft[100], 0);
    EXPECT_LT(overview.overviewMinRight[100], 0);
}

// Two players sharing a folder (and, in separate containers, even a process id) never share a
// file: each render takes a new name, and a player's file goes with it.
TEST_F(Render, PlayersInOneFolderNeverShareAFile) {
    SynthRenderer first, second;
    ASSERT_TRUE(first.StartRender(request_, dir_).Ok());
    ASSERT_TRUE(second.StartRender(request_, dir_).Ok());
    EXPECT_NE(first.OutputPath(), second.OutputPath());
    Recording a, b;
    ASSERT_EQ(RunToEnd(first, a), RenderOutcome::Finished);
    ASSERT_EQ(RunToEnd(second, b), RenderOutcome::Finished);
    EXPECT_EQ(ReadAll(first.OutputPath()), ReadAll(second.OutputPath()));

    // A file in use is locked, so a later start's clean-up leaves it alone; one that no running
    // player holds (its player was killed) goes, however new.
    const std::string left = InDir(std::string(kPlayerRenderPrefix) + "killed.wav");
    std::ofstream(left) << "RIFF";
    RemoveStaleRenderFiles(dir_, kPlayerRenderPrefix, 0);
    EXPECT_TRUE(fs::exists(first.OutputPath()));
    EXPECT_TRUE(fs::exists(second.OutputPath()));
    EXPECT_FALSE(fs::exists(left));
    const std::string firstPath = first.OutputPath();
    ASSERT_TRUE(first.StartRender(request_, dir_).Ok());
    EXPECT_FALSE(fs::exists(firstPath)) << "the previous render's file goes when a new one starts";
}

// A song the program's reader did not read is still rendered, for as long as FluidSynth plays it.
TEST_F(Render, UnreadSongStillRenders) {
    SynthRenderer synth;
    ASSERT_TRUE(StartInto(synth, request_, InDir("out.wav")).Ok());
    Recording seen;
    EXPECT_EQ(RunToEnd(synth, seen), RenderOutcome::Finished);
    EXPECT_GT(fs::file_size(InDir("out.wav")), 44u * 1000);
}

// A SoundFont is loaded once for each change of it: every render plays it on a fresh synthesiser
// and sounds exactly as the first, and never are two sets of samples held at once. A SoundFont
// whose file has gone fails the next render and leaves the previous render's file.
TEST_F(Render, SoundFontIsLoadedOncePerChange) {
    SynthRenderer synth;
    EXPECT_EQ(synth.loadedSynth, nullptr);
    EXPECT_TRUE(synth.LoadSoundFont(kSoundFont).Ok());
    fluid_synth_t* const loaded = synth.loadedSynth.get();
    EXPECT_TRUE(synth.LoadSoundFont(kSoundFont).Ok());
    EXPECT_EQ(synth.loadedSynth.get(), loaded) << "the same SoundFont is not loaded twice";
    EXPECT_EQ(fluid_synth_sfcount(loaded), 1);

    const std::string copy = InDir("copy.sf2");
    fs::copy_file(kSoundFont, copy);
    const Failure missing = synth.LoadSoundFont(InDir("missing.sf2"));
    EXPECT_EQ(missing.kind, FailureKind::SoundFont);
    EXPECT_NE(missing.text.find("missing.sf2"), std::string::npos) << missing.text;
    EXPECT_EQ(synth.loadedSynth, nullptr);

    request_.soundFontPath = copy;
    std::string first;
    fluid_sfont_t* kept = nullptr;
    for (int render = 0; render < 3; ++render) {
        SCOPED_TRACE("render " + std::to_string(render));
        const Failure started = synth.StartRender(request_, dir_);
        ASSERT_TRUE(started.Ok()) << started.text;
        ASSERT_NE(synth.loadedSynth, nullptr);
        EXPECT_EQ(fluid_synth_sfcount(synth.loadedSynth.get()), 0) << "lent to the render";
        ASSERT_EQ(fluid_synth_sfcount(synth.fluidSynth.get()), 1);
        fluid_sfont_t* const sfont = fluid_synth_get_sfont(synth.fluidSynth.get(), 0);
        if (kept != nullptr) {
            EXPECT_EQ(sfont, kept) << "the SoundFont was loaded again";
        }
        kept = sfont;
        Recording seen;
        ASSERT_EQ(RunToEnd(synth, seen), RenderOutcome::Finished);
        EXPECT_EQ(synth.fluidSynth, nullptr);
        ASSERT_NE(synth.loadedSynth, nullptr);
        EXPECT_EQ(fluid_synth_sfcount(synth.loadedSynth.get()), 1);
        if (render == 0) {
            first = ReadAll(synth.OutputPath());
        } else {
            EXPECT_EQ(ReadAll(synth.OutputPath()), first);
        }
    }
    const std::string output = synth.OutputPath();
    const std::string rendered = ReadAll(output);

    fs::remove(copy);
    const Failure again = synth.StartRender(request_, dir_);
    EXPECT_EQ(again.kind, FailureKind::SoundFont);
    EXPECT_NE(again.text.find("copy.sf2\" could not be loaded: "), std::string::npos) << again.text;
    EXPECT_FALSE(synth.rendering);
    EXPECT_EQ(synth.OutputPath(), output);
    EXPECT_EQ(ReadAll(output), rendered);
    EXPECT_EQ(synth.loadedSynth, nullptr);
}

// FluidSynth's loader would wait on a pipe for ever, before the window ever opens; anything but a
// regular file is refused unopened. Run in a child with an alarm, so a regression fails rather
// than hangs.
TEST_F(Render, SoundFontThatIsNotARegularFileIsRefusedUnopened) {
    const std::string fifo = InDir("pipe.sf2");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, dir_}) {
        SCOPED_TRACE(path);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(10);
            SynthRenderer synth;
            const Failure loaded = synth.LoadSoundFont(path);
            RenderRequest request = request_;
            request.soundFontPath = path;
            const Failure started = synth.StartRender(request, dir_);
            const bool named = loaded.text.find(path) != std::string::npos;
            _exit(loaded.kind == FailureKind::SoundFont && started.kind == FailureKind::SoundFont && named
                      ? 0
                      : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << "the load hung (status " << status << ")";
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    }
}

TEST_F(Render, ZeroLengthSongCompletesWithoutShowingProgress) {
    using namespace smf;
    request_.midi = Shared(Cat({Header(480, 1, 1), Track({EndOfTrack()})}));
    SynthRenderer synth;
    ASSERT_TRUE(StartInto(synth, request_, InDir("out.wav")).Ok());
    Recording seen;
    EXPECT_EQ(RunToEnd(synth, seen), RenderOutcome::Finished);
    // A song of no length has no share of it to show while it renders; what the second pass may
    // show on a slow machine is still a percentage, rising, and the display goes at the end.
    ASSERT_FALSE(seen.progress.empty());
    EXPECT_EQ(seen.progress.back(), -1.0f);
    float before = 0;
    for (size_t i = 0; i + 1 < seen.progress.size(); ++i) {
        const float p = seen.progress[i];
        EXPECT_TRUE(std::isfinite(p) && p >= before && p <= 100.0f) << "progress " << p;
        before = p;
    }
}

// A second render started while one runs drops the first and renders exactly what a render on
// its own would have.
TEST_F(Render, RestartWhileRenderingGivesAFreshRender) {
    SynthRenderer alone;
    ASSERT_TRUE(StartInto(alone, request_, InDir("alone.wav")).Ok());
    Recording seen;
    ASSERT_EQ(RunToEnd(alone, seen), RenderOutcome::Finished);

    SynthRenderer synth;
    ASSERT_TRUE(StartInto(synth, request_, InDir("restarted.wav")).Ok());
    for (int i = 0; i < 10; ++i) ASSERT_EQ(synth.RenderStep().outcome, RenderOutcome::Running);
    (void)synth.LoadSoundFont(kSoundFont);  // stacked on the old synthesiser, gone with it
    ASSERT_TRUE(StartInto(synth, request_, InDir("restarted.wav")).Ok());
    EXPECT_EQ(synth.shownProgress, 0);
    ASSERT_EQ(RunToEnd(synth, seen), RenderOutcome::Finished);
    EXPECT_EQ(ReadAll(InDir("restarted.wav")), ReadAll(InDir("alone.wav")));
}

// Whether the render cannot start or stops part way, the caller hears why, and every later step
// says the same.
TEST_F(Render, FailedRenderSaysWhy) {
    // The output folder does not exist: there is no file to render into.
    {
        SynthRenderer synth;
        const Failure started = StartInto(synth, request_, InDir("no such folder/out.wav"));
        EXPECT_EQ(started.kind, FailureKind::TargetOpen);
        EXPECT_FALSE(synth.rendering);
        EXPECT_EQ(synth.fluidPlayer, nullptr);
        const RenderStatus status = synth.RenderStep();
        EXPECT_EQ(status.outcome, RenderOutcome::Failed);
        EXPECT_EQ(status.failure.text, started.text);
        EXPECT_EQ(status.progress, -1.0f);
    }
    // A request that carries no song (a caller that lost its bytes) is refused, not played as
    // silence.
    {
        RenderRequest request = request_;
        request.midi = nullptr;
        SynthRenderer synth;
        const Failure started = StartInto(synth, request, InDir("out.wav"));
        EXPECT_EQ(started.kind, FailureKind::Render);
        EXPECT_FALSE(synth.rendering);
    }

    // The disk fills part way: a file size limit makes the writes fail after about a second.
    {
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = 200'000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

        SynthRenderer synth;
        ASSERT_TRUE(StartInto(synth, request_, InDir("full.wav")).Ok());
        Recording seen;
        const RenderOutcome outcome = RunToEnd(synth, seen);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedSignal);

        EXPECT_EQ(outcome, RenderOutcome::Failed);
        EXPECT_EQ(seen.last.failure.kind, FailureKind::Write);
        EXPECT_NE(seen.last.failure.text.find("full.wav"), std::string::npos) << seen.last.failure.text;
        EXPECT_FALSE(synth.rendering);
        EXPECT_EQ(seen.progress.back(), -1.0f);
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
        const RenderRequest request{Shared(files[i]), kSoundFont, song.get()};
        SynthRenderer synth;
        if (!StartInto(synth, request, InDir("mutated.wav")).Ok()) continue;
        Recording seen;
        RunToEnd(synth, seen);
        EXPECT_FALSE(synth.rendering);
        EXPECT_LE(static_cast<double>(fs::file_size(InDir("mutated.wav")) - 44) / 4.0, limit);
        ++rendered;
    }
    EXPECT_GE(rendered, 10) << "too few of the files parsed to say anything";
}

// The render's own sequencer, which takes the songs too big for FluidSynth's player, sounds the
// song as the player does: the same notes at the same times, to within a block, and an end once
// the last voice has died away. Its voices are limited as asked, and mixing them on more threads
// changes not a sample.
TEST_F(Render, OwnSequencerSoundsAsThePlayerDoes) {
    const auto render = [&](size_t ownFrom, int voices, const std::string& name, int threads = 1) {
        RenderRequest request = request_;
        request.raw = true;
        request.ownSequencerBytes = ownFrom;
        request.voiceLimit = voices;
        request.synthesisThreads = threads;
        SynthRenderer synth;
        const Failure started = StartInto(synth, request, InDir(name));
        EXPECT_TRUE(started.Ok()) << started.text;
        Recording seen;
        EXPECT_EQ(RunToEnd(synth, seen), RenderOutcome::Finished) << name << ": " << seen.last.failure.text;
        const std::string wav = ReadAll(InDir(name));
        // The energy of each tenth of a second, both channels.
        std::vector<double> tenths;
        for (size_t at = 44, n = 0; at + 4 <= wav.size(); at += 4, ++n) {
            if (n % 4410 == 0) tenths.push_back(0.0);
            for (size_t c = 0; c < 2; ++c) {
                const auto sample = static_cast<int16_t>(static_cast<uint8_t>(wav[at + 2 * c]) |
                                                         (static_cast<uint8_t>(wav[at + 2 * c + 1]) << 8));
                tenths.back() += double(sample) * sample;
            }
        }
        return tenths;
    };
    const std::vector<double> player = render(kOwnSequencerBytes, 0, "player.wav");
    const std::vector<double> own = render(0, 0, "own.wav");
    (void)render(0, 0, "threads.wav", 3);
    EXPECT_TRUE(ReadAll(InDir("threads.wav")) == ReadAll(InDir("own.wav"))) << "mixed on three threads";
    // The song's three seconds and the release of its last notes; the player runs on a little
    // past its last voice.
    ASSERT_GE(own.size(), 31u);
    EXPECT_LE(own.size(), player.size() + 5);
    double total = 0;
    for (size_t t = 0; t < 30; ++t) {
        EXPECT_NEAR(own[t], player[t], player[t] * 0.1 + 1.0)
            << "the tenth of a second from " << t / 10.0 << " s";
        total += own[t];
    }
    // One voice at a time silences the chords' other notes.
    const std::vector<double> one = render(0, 1, "one.wav");
    double single = 0;
    for (size_t t = 0; t < 30 && t < one.size(); ++t) single += one[t];
    EXPECT_GT(single, 0.0);
    EXPECT_LT(single, total * 0.75);
}

// A song the own sequencer cannot play (a declared track missing) fails its render with the
// reason, whether it is found out as the render starts or at its first step.
TEST_F(Render, OwnSequencerFailsASongItCannotPlay) {
    RenderRequest request = request_;
    request.ownSequencerBytes = 0;
    const smf::Bytes song = ShortSong();
    smf::Bytes cut(song.begin(), song.end());
    cut[11] = 3;  // three tracks declared, two there
    request.midi = smf::Shared(cut);
    SynthRenderer synth;
    const Failure started = StartInto(synth, request, InDir("cut.wav"));
    Recording seen;
    if (started.Ok()) {
        EXPECT_EQ(RunToEnd(synth, seen), RenderOutcome::Failed);
    }
    const std::string why = started.Ok() ? seen.last.failure.text : started.text;
    EXPECT_NE(why.find("cannot be played"), std::string::npos) << why;
    EXPECT_FALSE(synth.rendering);
}

}  // namespace
