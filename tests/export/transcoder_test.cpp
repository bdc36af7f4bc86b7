// The FFmpeg transcoder: the probe, each format and quality level as ffprobe sees the result,
// bounded steps, and failures that are reported and leave no partial file.
#include "export/transcoder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "export/export_format.h"
#include "export_fixture.h"

using namespace export_test;

namespace {

struct Outcome {
    bool started = false;
    int steps = 0;  // Step calls that reported more to do
    FailureKind failure = FailureKind::None;
    std::string text;
    std::vector<float> positions;  // after Start and after each step
};

TranscodeRequest Request(const std::string& source, const std::string& target, ExportFormat format,
                         int level) {
    FormatAvailability availability{};
    ProbeEncoders(availability);
    return {source, target, format, level, AvailabilityOf(availability, format), {}};
}

Outcome Transcode(const std::string& source, const std::string& target, ExportFormat format, int level,
                  double stepSeconds = 0.5) {
    Transcoder t(Request(source, target, format, level));
    Outcome o;
    o.started = t.Start();
    o.positions.push_back(t.position);
    // A bound far above any test's need, so that a step that never ends fails rather than hangs.
    while (o.started && o.steps < 10000 && t.Step(stepSeconds)) {
        ++o.steps;
        o.positions.push_back(t.position);
    }
    o.failure = t.failure.kind;
    o.text = t.failure.text;
    return o;
}

TEST(Transcoder, ProbeFindsTheFourEncoders) {
    FormatAvailability words{255, 0, 0, 0, 3, 0};
    ProbeEncoders(words);
    EXPECT_EQ(AvailabilityOf(words, ExportFormat::Wav), 255);
    EXPECT_EQ(AvailabilityOf(words, ExportFormat::Ogg), 3);
    EXPECT_EQ(AvailabilityOf(words, ExportFormat::Flac), 255);
    EXPECT_EQ(AvailabilityOf(words, ExportFormat::Alac), 255);
    EXPECT_EQ(AvailabilityOf(words, ExportFormat::Aac), 3 + 4 * 192);
    EXPECT_EQ(AvailabilityOf(words, ExportFormat::Mp3), 3 + 4 * 320);
    EXPECT_EQ(AvailabilityOf(words, ExportFormat::Mp4), 0);
}

TEST(Transcoder, EachFormatAndLevelDecodesToTheSourcesLength) {
    ScratchFolder dir;
    constexpr uint32_t kFrames = 3 * 44100 + 77;
    WriteFile(dir / "in.wav", MakeWav(2, 44100, kFrames));
    struct Case {
        ExportFormat format;
        int level;
        const char* codec;
        int kbits;       // 0 for the lossless formats
        long tolerance;  // decoded length against the source, in frames
    };
    // ADTS cannot say how much the AAC encoder primed, so its decoded length grows by the 1,024
    // priming frames and the padding of the last frame.
    const Case cases[] = {
        {ExportFormat::Flac, QualityStandard, "flac", 0, 0},
        {ExportFormat::Flac, QualityMaximum, "flac", 0, 0},
        {ExportFormat::Alac, QualityStandard, "alac", 0, 0},
        {ExportFormat::Aac, QualityStandard, "aac", 128, 2048},
        {ExportFormat::Aac, QualityHigh, "aac", 160, 2048},
        {ExportFormat::Aac, QualityMaximum, "aac", 192, 2048},
        {ExportFormat::Mp3, QualityStandard, "mp3", 128, 1152},
        {ExportFormat::Mp3, QualityHigh, "mp3", 160, 1152},
        {ExportFormat::Mp3, QualityMaximum, "mp3", 320, 1152},
    };
    for (const Case& c : cases) {
        const std::string target =
            dir / (std::string("out-") + std::to_string(c.level) + ExportFormatExtension(c.format));
        SCOPED_TRACE(target);
        const Outcome o = Transcode(dir / "in.wav", target, c.format, c.level);
        ASSERT_TRUE(o.started) << o.text;
        ASSERT_EQ(o.failure, FailureKind::None) << o.text;
        EXPECT_EQ(ProbeStream(target, "codec_name"), c.codec);
        EXPECT_EQ(ProbeStream(target, "sample_rate"), "44100");
        EXPECT_EQ(ProbeStream(target, "channels"), "2");
        const long frames = static_cast<long>(DecodeStereo(target).size() / 2);
        EXPECT_GE(frames, static_cast<long>(kFrames));
        EXPECT_LE(frames, static_cast<long>(kFrames) + c.tolerance);
        if (c.kbits == 0) {
            EXPECT_EQ(ProbeStream(target, "bits_per_raw_sample"), "16");
        } else {
            // The measured rate: AAC's is an average the encoder steers towards, MP3's is fixed.
            const double seconds = static_cast<double>(kFrames) / 44100.0;
            const double kbits = std::filesystem::file_size(target) * 8.0 / seconds / 1000.0;
            EXPECT_NEAR(kbits, c.kbits, c.kbits * 0.1);
            if (c.format == ExportFormat::Mp3) {
                EXPECT_EQ(ProbeStream(target, "bit_rate"), std::to_string(c.kbits * 1000));
            }
        }
    }
}

TEST(Transcoder, StepsCopyAboutHalfASecondEach) {
    ScratchFolder dir;
    WriteFile(dir / "in.wav", MakeWav(2, 44100, 10 * 44100));
    const Outcome o = Transcode(dir / "in.wav", dir / "out.flac", ExportFormat::Flac, QualityStandard);
    ASSERT_EQ(o.failure, FailureKind::None) << o.text;
    EXPECT_GE(o.steps, 16);
    EXPECT_LE(o.steps, 20);
    for (size_t i = 1; i < o.positions.size(); ++i) {
        EXPECT_GT(o.positions[i] - o.positions[i - 1], 0.5f) << "step " << i;
    }
}

TEST(Transcoder, MonoAtAnotherRateBecomesStereoAt44100) {
    ScratchFolder dir;
    WriteFile(dir / "in.wav", MakeWav(1, 22050, 22050));
    const Outcome o = Transcode(dir / "in.wav", dir / "out.flac", ExportFormat::Flac, QualityStandard);
    ASSERT_EQ(o.failure, FailureKind::None) << o.text;
    EXPECT_EQ(ProbeStream(dir / "out.flac", "sample_rate"), "44100");
    const std::vector<int16_t> samples = DecodeStereo(dir / "out.flac");
    EXPECT_NEAR(static_cast<double>(samples.size() / 2), 44100.0, 64.0);
    int loudest = 0;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        ASSERT_EQ(samples[i], samples[i + 1]) << "frame " << i / 2;
        loudest = std::max(loudest, std::abs(static_cast<int>(samples[i])));
    }
    EXPECT_GT(loudest, 8000) << "mono must reach each channel at full level";
}

TEST(Transcoder, FailuresAreReportedAndLeaveNoFile) {
    ScratchFolder dir;
    WriteFile(dir / "song.wav", MakeWav(2, 44100, 44100));
    WriteFile(dir / "four.wav", MakeWav(4, 44100, 4096));
    WriteFile(dir / "text.wav", {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e'});
    const std::string readOnly = ReadOnlyFolder(dir);

    struct Case {
        const char* name;
        std::string source;
        std::string target;
        ExportFormat format;
        FailureKind code;
        const char* text;
    };
    const Case cases[] = {
        {"missing source", dir / "missing.wav", dir / "a.mp3", ExportFormat::Mp3, FailureKind::SourceOpen,
         "Couldn't open "},
        {"not a WAV", dir / "text.wav", dir / "b.flac", ExportFormat::Flac, FailureKind::SourceFormat,
         "is not a WAV file"},
        {"four channels", dir / "four.wav", dir / "c.m4a", ExportFormat::Alac, FailureKind::SourceFormat,
         "has 4 channels"},
        {"source as target", dir / "song.wav", dir / "song.wav", ExportFormat::Flac, FailureKind::TargetOpen,
         "it is the file being exported"},
        {"read-only folder", dir / "song.wav", readOnly + "/d.aac", ExportFormat::Aac,
         FailureKind::TargetOpen, "Couldn't open "},
        {"not a transcoder format", dir / "song.wav", dir / "e.ogg", ExportFormat::Ogg,
         FailureKind::EncoderSetup, "not a format the transcoder writes"},
    };
    for (const Case& c : cases) {
        if (c.target.rfind("/d.aac") != std::string::npos && readOnly.empty()) continue;
        SCOPED_TRACE(c.name);
        const Outcome o = Transcode(c.source, c.target, c.format, QualityStandard);
        EXPECT_FALSE(o.started);
        EXPECT_EQ(o.failure, c.code);
        EXPECT_NE(o.text.find(c.text), std::string::npos) << o.text;
        if (c.source != c.target) {
            EXPECT_FALSE(Exists(c.target)) << "a file is left behind";
        }
    }
    EXPECT_EQ(ReadFile(dir / "song.wav"), MakeWav(2, 44100, 44100));

    // Full disks: the device, and a real file that cannot grow past 4 kB.
    for (ExportFormat format :
         {ExportFormat::Flac, ExportFormat::Alac, ExportFormat::Aac, ExportFormat::Mp3}) {
        SCOPED_TRACE(ExportFormatName(format));
        Outcome o = Transcode(dir / "song.wav", "/dev/full", format, QualityStandard);
        EXPECT_EQ(o.failure, FailureKind::Write);
        EXPECT_NE(o.text.find("No space left on device"), std::string::npos) << o.text;
        EXPECT_TRUE(Exists("/dev/full"));

        const std::string target = dir / (std::string("limited") + ExportFormatExtension(format));
        {
            FileSizeLimit limit(4000);
            o = Transcode(dir / "song.wav", target, format, QualityStandard);
        }
        EXPECT_EQ(o.failure, FailureKind::Write) << o.text;
        EXPECT_FALSE(Exists(target));
    }
}

TEST(Transcoder, ShortSourceEndsAndAnAbandonedExportIsRemoved) {
    ScratchFolder dir;
    // The header promises ten seconds; the file holds one.
    std::vector<uint8_t> wav = MakeWav(2, 44100, 10 * 44100);
    wav.resize(44 + 4 * 44100);
    WriteFile(dir / "short.wav", wav);
    const Outcome o = Transcode(dir / "short.wav", dir / "out.mp3", ExportFormat::Mp3, QualityStandard);
    EXPECT_EQ(o.failure, FailureKind::None) << o.text;
    EXPECT_LE(o.steps, 4);
    EXPECT_NEAR(static_cast<double>(DecodeStereo(dir / "out.mp3").size() / 2), 44100.0, 1152.0);

    const std::string abandoned = dir / "abandoned.flac";
    {
        Transcoder t(Request(dir / "short.wav", abandoned, ExportFormat::Flac, QualityStandard));
        ASSERT_TRUE(t.Start()) << t.failure.text;
        EXPECT_FALSE(Exists(abandoned)) << "the file appears only once complete";
    }
    EXPECT_FALSE(Exists(abandoned));
}

}  // namespace
