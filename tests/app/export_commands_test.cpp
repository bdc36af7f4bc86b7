// The export commands of the controller, run frame by frame as the window runs them, with the
// save dialog answered by a script and a rendered song the test writes itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "app/player_controller.h"
#include "export/export_fixture.h"
#include "export/export_format.h"
#include "export/export_job.h"
#include "export/transcoder.h"
#include "midi/midi_reader.h"
#include "midi/smf_builder.h"
#include "platform/dialogs.h"
#include "synth/render_file.h"
#include "synth/stream_playback.h"
#include "tests/session_steps.h"
#include "ui/control_panel.h"

using namespace export_test;

namespace {

constexpr uint32_t kSongFrames = 3 * 44100 + 500;

// What the export button showed while the export ran.
struct ExportRun {
    int frames = 0;
    std::vector<float> shownProgress;  // each frame's bar, when one was drawn
    bool barShownAtEnd = true;
};

class ExportDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        c.shared.dialogs = &dialogs;
        c.shared.outputWavPath = dir / "output.wav";
        c.shared.midiName = "Demo Song";
        BringTo(c.shared.session, SongStage::Ready);
        c.shared.song = std::make_unique<SongData>();
        c.shared.song->duration = 3.0;
        ProbeEncoders(c.shared.exportFormatFlags);
        c.controlPanel = std::make_unique<ControlPanel>();
        WriteFile(c.shared.outputWavPath, MakeWav(2, 44100, kSongFrames));
    }
    void TearDown() override { c.controlPanel.reset(); }

    void Choose(const std::string& path, int quality = QualityStandard) {
        platform::ScriptedDialogs::SaveScript script;
        script.answer.path = path;
        script.answer.choice = quality;
        dialogs.saveScripts.push_back(script);
    }

    // Presses "Export audio" and runs frames until no command is pending.
    ExportRun Export() {
        ExportRun run;
        EXPECT_TRUE(c.shared.Post(Command::ExportAudio));
        while (c.shared.command != Command::None && run.frames < 100000) {
            c.RunCommand();
            ++run.frames;
            const float progress = c.ControlPanelSnapshot().audioExportProgress;
            if (progress >= 0) run.shownProgress.push_back(progress);
            // The export works on its own thread: leave it the processor, as the window's frame
            // pacing does.
            if (c.shared.command != Command::None) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        run.barShownAtEnd = c.ControlPanelSnapshot().audioExportProgress >= 0;
        return run;
    }

    ScratchFolder dir;
    platform::ScriptedDialogs dialogs;
    PlayerController c;
};

void ExpectBarNeverFull(const ExportRun& run) {
    for (size_t i = 1; i < run.shownProgress.size(); ++i) {
        EXPECT_GE(run.shownProgress[i], run.shownProgress[i - 1]) << "the bar went back at frame " << i;
    }
    for (float p : run.shownProgress) EXPECT_LT(p, 100.0f);
    EXPECT_FALSE(run.barShownAtEnd);
}

}  // namespace

// Every format runs beside the frame loop to a file that decodes to the song's length at
// 44,100 Hz stereo, with the codec and the bit rate the chosen level asks for.
TEST_F(ExportDriver, EachFormatExportsBesideTheFrameLoop) {
    const struct {
        const char* name;
        int quality;
        const char* codec;
        int kbits;       // the stream's bit rate as ffprobe reads it; 0: not looked at
        long tolerance;  // decoded frames beyond the song's
    } cases[] = {
        {"song.wav", QualityMaximum, "pcm_s16le", 0, 0}, {"song.flac", QualityStandard, "flac", 0, 0},
        {"song.m4a", QualityStandard, "alac", 0, 0},     {"song.aac", QualityHigh, "aac", 0, 2048},
        {"song.mp3", QualityHigh, "mp3", 160, 1152},     {"song.ogg", QualityHigh, "vorbis", 0, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string target = dir / k.name;
        Choose(target, k.quality);
        const ExportRun run = Export();
        EXPECT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes.at(0).text;
        EXPECT_EQ(c.shared.command, Command::None);
        EXPECT_EQ(c.controlPanel->exportNotice.text, std::string("Saved ") + k.name + " in " + dir.path());
        EXPECT_EQ(c.controlPanel->exportNotice.url, "file://" + dir.path());
        EXPECT_FALSE(c.exports.AudioJob()) << "the finished job is dropped";
        ExpectBarNeverFull(run);
        EXPECT_EQ(ProbeStream(target, "codec_name"), k.codec);
        EXPECT_EQ(ProbeStream(target, "sample_rate"), "44100");
        EXPECT_EQ(ProbeStream(target, "channels"), "2");
        const long frames = std::string(k.codec) == "vorbis"
                                ? OggFrames(target)
                                : static_cast<long>(DecodeStereo(target).size() / 2);
        EXPECT_GE(frames, static_cast<long>(kSongFrames));
        EXPECT_LE(frames, static_cast<long>(kSongFrames) + k.tolerance);
        if (k.kbits != 0) {
            EXPECT_EQ(ProbeStream(target, "bit_rate"), std::to_string(k.kbits * 1000));
        }
    }
    // The Ogg Vorbis file carries the song's name.
    EXPECT_NE(RunCommand("vorbiscomment -l " + Quote(dir / "song.ogg")).find("DESCRIPTION=Demo Song"),
              std::string::npos);
}

// The frame loop only looks at the job: the export runs to its end with no frame drawn, and the
// next frame shows where the file went. While frames run, the bar rises in whole percents and
// the last frame hides it instead of showing 100.
TEST_F(ExportDriver, FramesOnlyPollTheJob) {
    WriteFile(c.shared.outputWavPath, MakeWav(2, 44100, 30 * 44100));
    Choose(dir / "alone.flac");
    ASSERT_TRUE(c.shared.Post(Command::ExportAudio));
    c.RunCommand();  // the dialog and the job's start
    ASSERT_TRUE(c.exports.AudioJob());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!c.exports.AudioJob()->Done() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(c.exports.AudioJob()->Done()) << "the export needed frames to advance";
    EXPECT_EQ(c.shared.command, Command::ExportRunning);
    c.RunCommand();
    EXPECT_EQ(c.shared.command, Command::None);
    EXPECT_EQ(c.controlPanel->exportNotice.text, "Saved alone.flac in " + dir.path());

    Choose(dir / "watched.flac");
    const ExportRun run = Export();
    ASSERT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes[0].text;
    for (float p : run.shownProgress) EXPECT_EQ(p, std::floor(p));
    ExpectBarNeverFull(run);
}

// A name as long as a sentence goes into DESCRIPTION cut to 31 bytes, whole characters only.
TEST_F(ExportDriver, LongSongNamesAreCutForTheOggDescription) {
    c.shared.midiName = "Sonate für Klavier Nr. 14 cis-Moll";
    Choose(dir / "long.ogg");
    Export();
    const std::string comments = RunCommand("vorbiscomment -l " + Quote(dir / "long.ogg"));
    EXPECT_NE(comments.find("DESCRIPTION=Sonate für Klavier Nr. 14 cis-\n"), std::string::npos) << comments;
}

// Failures end with one error box that says what failed, the bar hidden, no command pending and
// no file left behind, whichever exporter ran.
TEST_F(ExportDriver, FailuresShowAnErrorAndLeaveNoFile) {
    const std::string readOnly = ReadOnlyFolder(dir);
    ASSERT_FALSE(readOnly.empty());
    for (const char* ext : {".wav", ".flac", ".m4a", ".aac", ".mp3", ".ogg"}) {
        struct Case {
            const char* what;
            std::string target;
            bool removeSource;
            rlim_t fileLimit;  // 0: none
        };
        const Case cases[] = {
            {"read-only folder", readOnly + "/song" + ext, false, 0},
            {"missing source", dir / (std::string("missing") + ext), true, 0},
            {"full disk", dir / (std::string("full") + ext), false, 20000},
        };
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(k.what) + " " + ext);
            dialogs.errorBoxes.clear();
            if (k.removeSource) std::remove(c.shared.outputWavPath.c_str());
            Choose(k.target);
            ExportRun run;
            {
                std::unique_ptr<FileSizeLimit> limit;
                if (k.fileLimit != 0) limit = std::make_unique<FileSizeLimit>(k.fileLimit);
                run = Export();
            }
            if (k.removeSource) WriteFile(c.shared.outputWavPath, MakeWav(2, 44100, kSongFrames));
            ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
            EXPECT_EQ(dialogs.errorBoxes[0].caption, "Error");
            EXPECT_FALSE(dialogs.errorBoxes[0].text.empty());
            EXPECT_EQ(c.shared.command, Command::None);
            EXPECT_FALSE(Exists(k.target));
            for (float p : run.shownProgress) EXPECT_LT(p, 100.0f);
            // One wording for every exporter: the reason after what could not be done.
            EXPECT_EQ(dialogs.errorBoxes[0].text.find("Aborting"), std::string::npos);
        }
    }
}

// A device given as the target is written to and fails, but survives the cleanup.
TEST_F(ExportDriver, AFullDeviceFailsAndIsLeftAlone) {
    for (const char* format : {"wav", "flac", "ogg"}) {
        SCOPED_TRACE(format);
        dialogs.errorBoxes.clear();
        c.exports.SetLastFormat(ChooseExportFormat(std::string("x.") + format, ExportFormat::Wav));
        Choose("/dev/full");  // no extension: the format last used
        Export();
        EXPECT_EQ(dialogs.errorBoxes.size(), 1u);
        EXPECT_TRUE(Exists("/dev/full"));
    }
}

// The WAV copy replaces a file the user agreed to overwrite.
TEST_F(ExportDriver, WavCopyReplacesAnExistingFile) {
    const std::string target = dir / "old.wav";
    WriteFile(target, std::vector<uint8_t>(100000, 7));
    Choose(target);
    Export();
    EXPECT_TRUE(dialogs.errorBoxes.empty());
    EXPECT_EQ(ReadFile(target), ReadFile(c.shared.outputWavPath));
}

// Without a song there is nothing to export: the box names the reason the last load failed, and
// no dialog opens.
// Nothing to export says what the situation is now, whatever an earlier load said.
TEST_F(ExportDriver, NothingToExportSaysWhy) {
    const struct {
        bool parsed, ready;
        const char* words;
    } cases[] = {{false, false, "no song to export"}, {true, false, "still rendering"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.words);
        dialogs.errorBoxes.clear();
        BringTo(c.shared.session, k.ready    ? SongStage::Ready
                                  : k.parsed ? SongStage::Rendering
                                             : SongStage::Empty);
        const ExportRun run = Export();
        EXPECT_EQ(run.frames, 1);
        ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
        EXPECT_NE(dialogs.errorBoxes[0].text.find(k.words), std::string::npos) << dialogs.errorBoxes[0].text;
        EXPECT_EQ(dialogs.errorBoxes[0].caption, "Export audio");
    }
    EXPECT_TRUE(dialogs.saveRequests.empty());
}

// A cancelled dialog ends the command in the same frame with nothing written and nothing shown.
TEST_F(ExportDriver, CancelDoesNothing) {
    c.exports.SetLastFormat(ExportFormat::Mp3);
    const ExportRun run = Export();
    EXPECT_EQ(run.frames, 1);
    EXPECT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_TRUE(dialogs.errorBoxes.empty());
    EXPECT_FALSE(c.exports.AudioJob());
    EXPECT_EQ(c.exports.LastFormat(), ExportFormat::Mp3);
}

// A song practised slower exports as it is heard: rendered again at its speed, with a title and a
// name that say so.
TEST_F(ExportDriver, PracticeExportsAtItsSpeedAndSaysSo) {
    using namespace smf;
    Bytes notes;
    for (int i = 0; i < 20; ++i)
        notes = Cat({notes, On(i == 0 ? 0 : 240, 0, 60 + i % 12), Off(240, 0, 60 + i % 12)});
    const Bytes bytes = Song(480, {Chunk("MTrk", Cat({notes, EndOfTrack()}))});
    const std::string midi = dir / "ten seconds.mid";
    c.shared.midiPath = midi;
    c.shared.midiBytes = Shared(bytes);
    // The file on disk is another by now: the export renders the song as its load read it.
    WriteFile(midi, Song(480, {Chunk("MTrk", Cat({On(0, 0, 60), Off(240, 0, 60), EndOfTrack()}))}));
    c.shared.soundFontPath = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    c.shared.song = std::make_unique<SongData>();
    ASSERT_TRUE(ParseSong(*c.shared.song, bytes.data(), bytes.size()));
    c.transport.SetRenderFolder(dir.path());
    c.shared.practice.choice.SetSpeed(50);

    const std::string target = dir / "slow.wav";
    Choose(target, QualityMaximum);
    const ExportRun run = Export();
    ASSERT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes.at(0).text;
    ExpectBarNeverFull(run);
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].request.title, "Export audio at 50% speed");
    EXPECT_EQ(dialogs.saveRequests[0].request.fileName, "Demo Song (50% speed)");
    // Ten seconds of song last twenty at half speed, and then ring out for a moment.
    const double seconds = static_cast<double>(DecodeStereo(target).size() / 2) / 44100.0;
    EXPECT_GT(seconds, 19.5);
    EXPECT_LT(seconds, 24.0);
}

// With a practice loop set, the export is the loop's part of the song: the name and the title say
// which, and the file holds the song's own samples from the loop's start.
TEST_F(ExportDriver, ALoopExportsItsPartAndSaysSo) {
    auto file = std::make_unique<RenderFile>();
    const Failure made = file->CreateTemporary(dir.path());
    ASSERT_TRUE(made.Ok()) << made.text;
    // Without a player nothing plays, but the song's render is there to take the loop.
    (void)c.transport.PrepareStreamPlayback(
        std::make_shared<RenderStream>(std::move(file), 44100, kSongFrames));
    c.transport.TakeLoop({44100, 2 * 44100 + 22050});

    const std::string target = dir / "loop.wav";
    Choose(target);
    Export();
    ASSERT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes.at(0).text;
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].request.fileName, "Demo Song (0:01-0:02.5)");
    EXPECT_EQ(dialogs.saveRequests[0].request.title, "Export audio (0:01-0:02.5)");
    const std::vector<int16_t> part = DecodeStereo(target);
    const std::vector<int16_t> whole = DecodeStereo(c.shared.outputWavPath);
    ASSERT_EQ(part.size(), 2u * (44100 + 22050));
    const size_t fade = 2 * 221;  // past the fade in
    EXPECT_TRUE(std::equal(part.begin() + fade, part.end() - fade, whole.begin() + 2 * 44100 + fade));
}

// The video dialog's picks reach the job, are kept in the settings file as the export starts, and
// are where the next dialog starts, in this run and in the next.
TEST_F(ExportDriver, VideoChoicesAreKeptForTheNextExport) {
    // The settings go to the test's own folder, and the variable is put back however the test ends.
    struct ConfigHome {
        std::optional<std::string> saved;
        explicit ConfigHome(const std::string& path) {
            if (const char* now = std::getenv("XDG_CONFIG_HOME")) saved = now;
            ::setenv("XDG_CONFIG_HOME", path.c_str(), 1);
        }
        ~ConfigHome() {
            saved ? (void)::setenv("XDG_CONFIG_HOME", saved->c_str(), 1)
                  : (void)::unsetenv("XDG_CONFIG_HOME");
        }
    } home(dir / "config");
    // A song with its tempo map and file, for the score a video may show.
    auto tempo = std::make_unique<TempoMap>();
    tempo->Build(480, {});
    c.transport.SetSongTempo(std::move(tempo));
    c.shared.midiBytes =
        std::make_shared<const std::vector<uint8_t>>(std::vector<uint8_t>{'M', 'T', 'h', 'd'});
    bool scoreAsked = false;
    const auto exportVideo = [&](std::vector<int> picks) {
        platform::ScriptedDialogs::SaveScript script;
        script.answer.path = dir / "song.mp4";
        script.answer.choice = QualityHigh;
        script.answer.moreChoices = std::move(picks);
        dialogs.saveScripts.push_back(script);
        const bool started = c.exports.StartVideo();
        if (c.exports.VideoJob()) {
            const VideoSong& song = c.exports.VideoJob()->Request().song;
            scoreAsked = song.scoreTempo != nullptr && song.scoreMidi == c.shared.midiBytes;
            c.exports.VideoJob()->Cancel();
        }  // what was asked for is all this looks at
        c.exports.Release();
        return started;
    };
    ASSERT_TRUE(exportVideo({3, 1, 1, 1})) << (dialogs.errorBoxes.empty() ? "" : dialogs.errorBoxes[0].text);
    EXPECT_TRUE(scoreAsked) << "the score picked reaches the job";
    const std::vector<uint8_t> text = ReadFile(dir / "config/Dorvik Midi Player/settings.ini");
    const std::string kept(text.begin(), text.end());
    EXPECT_NE(kept.find("[VideoSize] = 1080x1920\n[VideoRate] = 30\n[VideoView] = window\n[VideoQuality] = "
                        "high\n[VideoScore] = shown"),
              std::string::npos)
        << kept;

    ASSERT_TRUE(exportVideo({}));
    EXPECT_TRUE(scoreAsked) << "and is kept for the next";
    const platform::SaveRequest& again = dialogs.saveRequests.back().request;
    EXPECT_EQ(again.moreChoices.at(0).initial, 3);
    EXPECT_EQ(again.moreChoices.at(1).initial, 1);
    EXPECT_EQ(again.moreChoices.at(2).initial, 1);
    EXPECT_EQ(again.moreChoices.at(3).initial, 1);
    EXPECT_EQ(again.initialChoice, QualityHigh);
    ASSERT_TRUE(exportVideo({-1, -1, -1, 0}));
    EXPECT_FALSE(scoreAsked) << "no score picked, none drawn";
    ASSERT_TRUE(exportVideo({-1, -1, -1, 1}));

    // A later run reads them from the file, even when its dialog is cancelled.
    PlayerController next;
    next.shared.dialogs = &dialogs;
    BringTo(next.shared.session, SongStage::Ready);
    next.shared.song = std::make_unique<SongData>();
    EXPECT_FALSE(next.exports.StartVideo());
    EXPECT_EQ(dialogs.saveRequests.back().request.moreChoices.at(0).initial, 3);
    EXPECT_EQ(next.exports.Video().width, 1080);
    EXPECT_EQ(next.exports.Video().height, 1920);
    EXPECT_EQ(next.exports.Video().fps, 30);
    EXPECT_EQ(next.exports.View(), VideoView::Window);
}
