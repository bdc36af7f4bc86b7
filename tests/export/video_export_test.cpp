// The video export end to end: a short song through `dorvik-midi video`, judged by ffprobe and by
// decoding the file back, and the ways an export can fail, each of which must leave no file.
#include "export/video_export.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../midi/smf_builder.h"
#include "export/export_format.h"
#include "export/export_job.h"
#include "export/transcoder.h"
#include "export_fixture.h"
#include "midi/midi_reader.h"
#include "view/notes_view.h"

using namespace export_test;

namespace {

// Whether nothing failed, with the reason kept in `why` for the test's messages.
bool Ok(const Failure& failure, std::string& why) {
    why = failure.text;
    return failure.Ok();
}

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kWidth = 320, kHeight = 180, kFps = 30;
constexpr int kNotes = 24;
// 480 ticks a quarter at 120 beats a minute: 960 ticks a second, 32 to a frame.
constexpr int kTicksPerFrame = 32;

// Each note starts half way through a frame, 0.3 s after the last, and is the only sound that
// starts near it: its onset is then plain in the decoded sound and a frame away from either edge.
int StartTick(int note) {
    return (15 + 9 * note) * kTicksPerFrame + kTicksPerFrame / 2;
}
// Distinct white keys from C3 up, so that each note lights a key of its own.
int KeyOf(int note) {
    static constexpr int kSteps[7] = {0, 2, 4, 5, 7, 9, 11};
    return 48 + 12 * (note / 7) + kSteps[note % 7];
}

std::vector<uint8_t> MakeSong() {
    using namespace smf;
    Bytes notes;
    int at = 0;
    for (int i = 0; i < kNotes; ++i) {
        const Bytes on = On(static_cast<uint32_t>(StartTick(i) - at), 0, KeyOf(i), 100);
        const Bytes off = Off(96, 0, KeyOf(i));
        notes.insert(notes.end(), on.begin(), on.end());
        notes.insert(notes.end(), off.begin(), off.end());
        at = StartTick(i) + 96;
    }
    const Bytes end = EndOfTrack();
    notes.insert(notes.end(), end.begin(), end.end());
    return Song(480, {Track({Tempo(0, 500000), EndOfTrack()}), Chunk("MTrk", notes)});
}

std::string Cli() {
    return DORVIK_MIDI_BINARY;
}

// Names a failed or cancelled export might leave: the video's new file and the temporary sound.
std::vector<std::string> Leftovers(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".dorvik") != std::string::npos || name.find(".mp4") != std::string::npos)
            found.push_back(name);
    }
    return found;
}

double Number(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

std::string ProbeVideo(const std::string& path, const std::string& field) {
    std::string value = RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=" + field +
                                   " -of default=noprint_wrappers=1:nokey=1 " + Quote(path));
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
}

// One song exported once by the command line for the whole suite, and its render as a WAV for the
// exports run in this process.
class VideoExport : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchFolder;
        WriteFile(*dir_ / "song.mid", MakeSong());
        const std::string common =
            " --soundfont " + std::string(kSoundFont) + " " + Quote(*dir_ / "song.mid");
        // Without the card, which would hide the keys at the start, but with the lead-in, which
        // shifts picture and sound alike.
        videoStatus_ = std::system((Cli() + " video" + common + " -o " + Quote(*dir_ / "song.mp4") +
                                    " --size 320x180 --fps 30 --no-title >/dev/null 2>&1")
                                       .c_str());
        titledStatus_ = std::system((Cli() + " video" + common + " -o " + Quote(*dir_ / "titled.mp4") +
                                     " --size 320x180 --fps 30 --title 'A Song' >/dev/null 2>&1")
                                        .c_str());
        renderStatus_ = std::system(
            (Cli() + " render" + common + " -o " + Quote(*dir_ / "song.wav") + " >/dev/null").c_str());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // The song as the exporter in this process takes it.
    static VideoSong LoadSong() {
        auto song = std::make_shared<SongData>();
        EXPECT_TRUE(ReadMidiFile(*song, *dir_ / "song.mid"));
        VideoSong video;
        video.song = std::move(song);
        video.midiName = "song";
        video.soundFontName = "TimGM6mb";
        return video;
    }
    static VideoExportRequest Request(const std::string& target) {
        VideoExportRequest r;
        r.wavPath = *dir_ / "song.wav";
        r.target = target;
        r.settings = {kWidth, kHeight, kFps, QualityStandard};
        return r;
    }

    static ScratchFolder* dir_;
    static int videoStatus_;
    static int titledStatus_;
    static int renderStatus_;
};
ScratchFolder* VideoExport::dir_ = nullptr;
int VideoExport::videoStatus_ = -1;
int VideoExport::titledStatus_ = -1;
int VideoExport::renderStatus_ = -1;

TEST_F(VideoExport, StreamsSizeRateAndLength) {
    ASSERT_EQ(videoStatus_, 0);
    const std::string mp4 = *dir_ / "song.mp4";
    EXPECT_EQ(ProbeVideo(mp4, "codec_name"), "h264");
    EXPECT_EQ(ProbeVideo(mp4, "pix_fmt"), "yuv420p");
    EXPECT_EQ(ProbeVideo(mp4, "width") + "x" + ProbeVideo(mp4, "height"), "320x180");
    EXPECT_EQ(ProbeVideo(mp4, "r_frame_rate"), "30/1");
    EXPECT_EQ(ProbeStream(mp4, "codec_name"), "aac");
    const double video = Number(ProbeVideo(mp4, "duration"));
    const double audio = Number(ProbeStream(mp4, "duration"));
    EXPECT_GT(audio, StartTick(kNotes - 1) / 960.0);
    EXPECT_LE(std::fabs(video - audio), 1.0 / kFps) << "video " << video << " s, audio " << audio << " s";
    // The index stands before the media, so that a browser plays the file as it arrives.
    const std::vector<uint8_t> head = ReadFile(mp4);
    const std::string start(head.begin(), head.begin() + std::min<size_t>(head.size(), 4096));
    EXPECT_NE(start.find("moov"), std::string::npos) << "faststart: no moov box at the front";
    EXPECT_TRUE(Leftovers(dir_->path()).size() == 2) << "only the two videos may stay";
}

// The frame in which a note's key first lights holds the note's audio onset, or is the one after.
TEST_F(VideoExport, KeysLightWithTheirSound) {
    ASSERT_EQ(videoStatus_, 0);
    const std::string mp4 = *dir_ / "song.mp4";
    const std::string rgb = RunCommand("ffmpeg -v error -i " + Quote(mp4) + " -f rawvideo -pix_fmt rgb24 -");
    const size_t frameBytes = size_t{kWidth} * kHeight * 3;
    const size_t frames = rgb.size() / frameBytes;
    ASSERT_GT(frames, 0U);
    const std::vector<int16_t> stereo = DecodeStereo(mp4);
    const int rate = std::atoi(ProbeStream(mp4, "sample_rate").c_str());
    ASSERT_GT(rate, 0);

    // Where the keys lie: the notes view laid out at the video's size, as the exporter lays it out.
    VideoScene scene;
    std::string error;
    ASSERT_TRUE(Ok(scene.Create(SceneSong{}, kWidth, kHeight, VideoView::Full), error)) << error;
    const float scale = ChooseVideoLayout(kWidth, kHeight, VideoView::Full).scale;

    auto pixel = [&](size_t frame, int x, int y) {
        const size_t at = frame * frameBytes + (size_t(y) * kWidth + size_t(x)) * 3;
        return std::array<int, 3>{uint8_t(rgb[at]), uint8_t(rgb[at + 1]), uint8_t(rgb[at + 2])};
    };
    // The sound's level over 2 ms blocks, both channels.
    const int block = rate / 500;
    auto level = [&](long b) {
        double sum = 0;
        for (long i = b * block * 2; i < (b + 1) * block * 2 && i < long(stereo.size()); ++i)
            sum += double(stereo[size_t(i)]) * stereo[size_t(i)];
        return std::sqrt(sum / (2.0 * block));
    };

    // The song starts after the lead-in, in the picture and the sound alike.
    VideoLook look;
    look.leadIn = true;
    const VideoSong song = LoadSong();
    const double lead =
        static_cast<double>(PlanIntro(look, song.song.get(), kLookAheadSeconds, kFps).Frames()) / kFps;
    EXPECT_GT(lead, 2.0);
    int checked = 0;
    for (int n = 0; n < kNotes; ++n) {
        SCOPED_TRACE("note " + std::to_string(n) + ", key " + std::to_string(KeyOf(n)));
        const double start = lead + StartTick(n) / 960.0;
        // The onset: the first block within 0.1 s of the note's start that is clearly louder than
        // twice the loudest of the 30 ms before it (the last note's tail).
        long onset = -1;
        for (long b = long((start - 0.1) * 500); b < long((start + 0.1) * 500) && onset < 0; ++b) {
            double before = 1.0;
            for (long p = b - 15; p < b; ++p) before = std::max(before, level(p));
            if (level(b) > 2 * before + 40) onset = b;
        }
        ASSERT_GE(onset, 0) << "no onset near " << start << " s";
        const auto holding = static_cast<long>(double(onset * block) / rate * kFps);

        // The key's colour near its bottom edge, below the black keys and the spark.
        const RectF& r = scene.Notes().keys[KeyOf(n) - kLowestKey].rect;  // in design units
        const int x = int((r.left + r.right) / 2 * scale), y = int(r.bottom * scale) - 3;
        const auto dark = pixel(0, x, y);
        long lit = -1;
        for (size_t f = 0; f < frames && lit < 0; ++f) {
            const auto c = pixel(f, x, y);
            if (std::abs(c[0] - dark[0]) + std::abs(c[1] - dark[1]) + std::abs(c[2] - dark[2]) > 90)
                lit = long(f);
        }
        EXPECT_TRUE(lit == holding || lit == holding + 1)
            << "onset in frame " << holding << " (" << double(onset * block) / rate
            << " s), key lit in frame " << lit;
        ++checked;
    }
    EXPECT_GE(checked, 20);
}

// A video with its card opens on exactly the card and the lead-in, in silence, and then carries the
// whole rendered sound, ending when it ends; the card shows its title.
TEST_F(VideoExport, IntroIsSilenceBeforeTheSound) {
    ASSERT_EQ(titledStatus_, 0);
    ASSERT_EQ(renderStatus_, 0);
    const std::string mp4 = *dir_ / "titled.mp4";
    VideoLook look;
    look.titleCard = look.leadIn = true;
    const VideoSong song = LoadSong();
    const double intro =
        static_cast<double>(PlanIntro(look, song.song.get(), kLookAheadSeconds, kFps).Frames()) / kFps;
    ASSERT_GT(intro, kTitleCardSeconds);
    const double sound = Number(ProbeStream(*dir_ / "song.wav", "duration"));
    EXPECT_NEAR(Number(ProbeVideo(mp4, "duration")), intro + sound, 1.0 / kFps);
    EXPECT_NEAR(Number(ProbeStream(mp4, "duration")), intro + sound, 0.03);

    const std::vector<int16_t> stereo = DecodeStereo(mp4);
    const int rate = std::atoi(ProbeStream(mp4, "sample_rate").c_str());
    ASSERT_GT(rate, 0);
    const auto introSamples = static_cast<size_t>(intro * rate) * 2;
    ASSERT_GT(stereo.size(), introSamples);
    int before = 0, after = 0;
    for (size_t i = 0; i < stereo.size(); ++i)
        (i < introSamples - 200 ? before : after) =
            std::max(i < introSamples - 200 ? before : after, std::abs(int{stereo[i]}));
    EXPECT_LE(before, 2) << "the intro is silent";
    EXPECT_GT(after, 1000) << "and the song follows it";

    // A second into the card, its title stands in the middle of the frame in the text's colour.
    const std::string rgb = RunCommand("ffmpeg -v error -i " + Quote(mp4) +
                                       " -vf 'select=eq(n\\,30)' -frames:v 1 -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(rgb.size(), size_t{kWidth} * kHeight);
    int bright = 0;
    for (int y = kHeight / 4; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth; ++x) bright += uint8_t(rgb[size_t(y) * kWidth + size_t(x)]) > 128;
    EXPECT_GT(bright, 40) << "no title on the card";
}

// Every failure ends with its own code and no file: the target's folder cannot be written, the disk
// fills, the export is cancelled. The first runs the command line, the others this process.
TEST_F(VideoExport, FailuresLeaveNoFile) {
    ASSERT_EQ(renderStatus_, 0);
    ScratchFolder out;

    const std::string readOnly = ReadOnlyFolder(out);
    if (!readOnly.empty()) {
        const std::string message =
            RunCommand(Cli() + " video --soundfont " + kSoundFont + " " + Quote(*dir_ / "song.mid") + " -o " +
                       Quote(readOnly + "/v.mp4") + " --size 320x180 2>&1; echo status $?");
        EXPECT_EQ(message.rfind("dorvik-midi: ", 0), 0U) << message;
        EXPECT_NE(message.find("status 1"), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), message.find("\nstatus")) << "one line of message: " << message;
        EXPECT_FALSE(Exists(readOnly + "/v.mp4"));
    }

    struct Case {
        const char* name;
        FailureKind expected;
    };
    for (const Case& c : {Case{"full disk", FailureKind::Write}, Case{"cancel", FailureKind::Cancelled}}) {
        SCOPED_TRACE(c.name);
        const VideoSong song = LoadSong();
        const std::string target = out / "v.mp4";
        std::atomic<bool> cancel{false};
        Failure result;
        if (c.expected == FailureKind::Write) {
            FileSizeLimit limit(20000);
            result = ExportVideo(song, Request(target));
        } else {
            result = ExportVideo(song, Request(target), &cancel, [&cancel](float f) {
                if (f > 0.3f) cancel = true;
            });
        }
        EXPECT_EQ(result.kind, c.expected) << result.text;
        EXPECT_FALSE(result.text.empty());
        EXPECT_TRUE(Leftovers(out.path()).empty()) << Leftovers(out.path()).front();
    }
}

// The command line's output checks: a name that is no .mp4 is a usage error, and the raw frames
// meet the checks of -o, so that they can never be written over the song they come from.
TEST_F(VideoExport, CommandLineRefusesMisleadingOutputs) {
    ScratchFolder out;
    WriteFile(out / "song.mid", MakeSong());
    const std::vector<uint8_t> midi = ReadFile(out / "song.mid");
    const std::string common = Cli() + " video --soundfont " + kSoundFont + " " + Quote(out / "song.mid") +
                               " --size 64x36 --fps 30 ";
    const struct {
        const char* name;
        std::string args;
        const char* status;
        const char* says;
    } cases[] = {
        {"an .avi name", "-o " + Quote(out / "v.avi"), "status 2", ".mp4"},
        {"no extension", "-o " + Quote(out / "v"), "status 2", ".mp4"},
        {"raw frames over the song", "-o " + Quote(out / "v.mp4") + " --dump-raw " + Quote(out / "song.mid"),
         "status 1", "cannot write"},
        {"raw frames over the video", "-o " + Quote(out / "v.mp4") + " --dump-raw " + Quote(out / "v.mp4"),
         "status 1", "cannot write"},
        {"a background that is no picture",
         "-o " + Quote(out / "v.mp4") + " --background " + Quote(out / "song.mid"), "status 1",
         "not a PNG or JPEG"},
        {"an unknown theme", "-o " + Quote(out / "v.mp4") + " --theme blue", "status 2", "--theme"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = RunCommand(common + c.args + " 2>&1; echo status $?");
        EXPECT_NE(message.find(c.status), std::string::npos) << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(ReadFile(out / "song.mid"), midi) << "the song was written over";
    }
    EXPECT_FALSE(Exists(out / "v.avi"));
    EXPECT_FALSE(Exists(out / "v.mp4"));
}

// One job type runs every output: each ends done and ok, and the file it wrote decodes; a job
// cancelled part-way leaves nothing of its file.
TEST_F(VideoExport, OneJobWritesEveryFormat) {
    ASSERT_EQ(renderStatus_, 0);
    ScratchFolder out;
    FormatAvailability availability{255, 0, 0, 0, 3, 0};
    ProbeEncoders(availability);
    const auto requestFor = [&](ExportFormat format) {
        ExportRequest request;
        request.source = *dir_ / "song.wav";
        request.target = out / (std::string("song") + ExportFormatExtension(format));
        request.format = format;
        request.availability = AvailabilityOf(availability, format);
        request.displayName = "song";
        request.video = {kWidth, kHeight, kFps, QualityStandard};
        request.view = VideoView::Window;
        request.song = LoadSong();
        return request;
    };
    for (ExportFormat format : {ExportFormat::Wav, ExportFormat::Ogg, ExportFormat::Flac, ExportFormat::Alac,
                                ExportFormat::Aac, ExportFormat::Mp3, ExportFormat::Mp4}) {
        SCOPED_TRACE(ExportFormatName(format));
        ExportRequest request = requestFor(format);
        const std::string target = request.target;
        ExportJob job;
        ASSERT_TRUE(job.Start(std::move(request))) << job.Result().text;
        while (!job.Done()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(job.Result().Ok()) << job.Result().text;
        EXPECT_FLOAT_EQ(job.Progress(), 1.0f);
        EXPECT_GT(DecodeStereo(target).size(), 44100u) << "no sound decoded from " << target;
    }
    EXPECT_EQ(ProbeVideo(out / "song.mp4", "width"), "320");

    for (ExportFormat format : {ExportFormat::Ogg, ExportFormat::Flac, ExportFormat::Mp4}) {
        SCOPED_TRACE(ExportFormatName(format));
        ExportRequest request = requestFor(format);
        request.target = out / (std::string("cancelled") + ExportFormatExtension(format));
        const std::string target = request.target;
        ExportJob job;
        ASSERT_TRUE(job.Start(std::move(request)));
        while (!job.Done() && job.Progress() <= 0.0f) std::this_thread::yield();
        job.Cancel();
        EXPECT_TRUE(job.Result().Cancelled() || job.Result().Ok()) << job.Result().text;
        if (job.Result().Cancelled()) {
            EXPECT_FALSE(Exists(target));
        }
        std::filesystem::remove(target);
    }
    std::vector<std::string> leftovers;
    for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("song.", 0) != 0) leftovers.push_back(name);
    }
    EXPECT_EQ(leftovers, std::vector<std::string>{});
}

// A job cancelled at once ends cancelled, with no file, whatever it writes.
TEST_F(VideoExport, CancelledJobLeavesNoFile) {
    ASSERT_EQ(renderStatus_, 0);
    ScratchFolder out;
    ExportRequest request;
    request.source = *dir_ / "song.wav";
    request.target = out / "job.mp4";
    request.format = ExportFormat::Mp4;
    request.video = {kWidth, kHeight, kFps, QualityStandard};
    request.view = VideoView::Window;
    request.song = LoadSong();
    ExportJob cancelled;
    ASSERT_TRUE(cancelled.Start(request));
    cancelled.Cancel();
    EXPECT_EQ(cancelled.Result().kind, FailureKind::Cancelled) << cancelled.Result().text;
    EXPECT_TRUE(Leftovers(out.path()).empty());
}

}  // namespace

// A video of part of the song shows the frames the whole song's video shows over that part, each
// one the same picture, with the part's sound beside them and nothing longer.
TEST_F(VideoExport, APartShowsTheWholeSongsFramesForItsTime) {
    ASSERT_EQ(renderStatus_, 0);
    ScratchFolder out;
    const auto exportTo = [&](const std::string& name, ExportRange range) {
        ExportRequest request;
        request.source = *dir_ / "song.wav";
        request.target = out / (name + ".mp4");
        request.rawCopy = out / (name + ".yuv");
        request.format = ExportFormat::Mp4;
        request.video = {kWidth, kHeight, kFps, QualityStandard};
        request.song = LoadSong();
        request.song.overviewRead = true;  // without one the notes are not drawn, and every frame is alike
        request.range = range;
        ExportJob job;
        EXPECT_TRUE(job.Start(std::move(request))) << job.Result().text;
        EXPECT_TRUE(job.Result().Ok()) << job.Result().text;
        return ReadFile(out / (name + ".yuv"));
    };
    constexpr int kFirst = 45, kFrames = 36;  // 1.5 s to 2.7 s
    const std::vector<uint8_t> whole = exportTo("whole", {});
    const std::vector<uint8_t> part =
        exportTo("part", {double(kFirst) / kFps, double(kFirst + kFrames) / kFps});
    const size_t frameBytes = size_t(kWidth) * kHeight * 3 / 2;
    ASSERT_EQ(part.size(), kFrames * frameBytes);
    ASSERT_GE(whole.size(), (kFirst + kFrames) * frameBytes);
    for (int i = 0; i < kFrames; ++i) {
        const auto at = whole.begin() + std::ptrdiff_t((kFirst + i) * frameBytes);
        EXPECT_TRUE(
            std::equal(at, at + std::ptrdiff_t(frameBytes), part.begin() + std::ptrdiff_t(i * frameBytes)))
            << "frame " << i << " of the part is not frame " << kFirst + i << " of the whole";
    }
    EXPECT_NEAR(Number(ProbeStream(out / "part.mp4", "duration")), double(kFrames) / kFps, 0.03);
    EXPECT_NEAR(Number(ProbeVideo(out / "part.mp4", "duration")), double(kFrames) / kFps, 0.5 / kFps);
}
