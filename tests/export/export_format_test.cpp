// Choosing the format from a file name, the quality levels, the progress percentage and the WAV
// copy, including its failures.
#include "export/export_format.h"

#include <gtest/gtest.h>

#include "export/ogg_encoder.h"
#include "export_fixture.h"

using namespace export_test;

namespace {

TEST(ExportFormat, ChosenByTheFileNamesOwnExtension) {
    struct Case {
        const char* path;
        uint16_t previous;
        uint16_t expected;
    };
    const Case cases[] = {
        {"/home/ann/song.mp3", FormatWav, FormatMp3},
        {"/home/ann/x.ogg/song.mp3", FormatWav, FormatMp3},  // a folder's name does not count
        {"/home/ann/x.ogg/song", FormatMp3, FormatMp3},      // no extension: the previous format
        {"SONG.FLAC", FormatWav, FormatFlac},
        {"take.M4a", FormatWav, FormatAlac},
        {"take.aac", FormatOgg, FormatAac},
        {"take.Ogg", FormatWav, FormatOgg},
        {"take.wav", FormatMp3, FormatWav},
        {"take.wav.bak", FormatAac, FormatAac},  // ".wav" inside the name is not its extension
        {"take.mp3x", FormatWav, FormatWav},
        {"take.", FormatFlac, FormatFlac},
        {".mp3", FormatWav, FormatWav},  // a hidden file without an extension
        {"", FormatOgg, FormatOgg},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseExportFormat(c.path, c.previous), c.expected) << "path \"" << c.path << "\"";
    }
}

TEST(ExportFormat, QualityLevelsBecomeEncoderSettings) {
    EXPECT_FLOAT_EQ(OggQualityForLevel(QualityStandard), 0.5f);
    EXPECT_FLOAT_EQ(OggQualityForLevel(QualityHigh), 0.7f);
    EXPECT_FLOAT_EQ(OggQualityForLevel(QualityMaximum), 1.0f);
    EXPECT_FLOAT_EQ(OggQualityForLevel(7), 0.5f);

    struct Case {
        uint16_t availability;
        int level;
        int kbits;
    };
    const Case cases[] = {
        {3 + 4 * 192, QualityStandard, 128},
        {3 + 4 * 192, QualityHigh, 160},
        {3 + 4 * 192, QualityMaximum, 192},
        {3 + 4 * 320, QualityMaximum, 320},
        {3, QualityMaximum, 160},  // nothing above 160 offered
        {1, QualityHigh, 128},     // no 160 offered: high falls back to standard
        {1, QualityMaximum, 128},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BitRateForLevel(c.availability, c.level), c.kbits)
            << "availability " << c.availability << ", level " << c.level;
    }
}

TEST(ExportFormat, ProgressNeverReaches100WhileRunning) {
    EXPECT_EQ(TranscodeProgressPercent(0.0f, 10.0), 0);
    EXPECT_EQ(TranscodeProgressPercent(5.05f, 10.0), 50);
    EXPECT_EQ(TranscodeProgressPercent(9.999f, 10.0), 99);
    EXPECT_EQ(TranscodeProgressPercent(10.5f, 10.0), 99);  // the last packet may end past the header's length
    EXPECT_EQ(TranscodeProgressPercent(3.0f, 0.0), 0);     // length unknown
}

TEST(ExportTags, DescriptionIsCutAtACharacterBoundary) {
    EncoderTags tags{};
    SetTag(tags, TagDescription, "Prelude");
    EXPECT_STREQ(tags[TagDescription].data(), "Prelude");
    // 30 ASCII bytes and a two-byte character: the character would straddle byte 31.
    SetTag(tags, TagDescription, std::string(30, 'a') + "\xC3\xA9" + "tude");
    EXPECT_EQ(std::string(tags[TagDescription].data()), std::string(30, 'a'));
    SetTag(tags, TagDescription, std::string(40, 'b'));
    EXPECT_EQ(std::string(tags[TagDescription].data()), std::string(31, 'b'));

    EncoderJob job;
    char errorText[kEncoderErrorTextSize];
    FillEncoderJob(job, "in.wav", "out.ogg", "Nocturne", QualityHigh, errorText);
    EXPECT_FLOAT_EQ(job.settings.quality, 0.7f);
    EXPECT_EQ(job.settings.channels, 2);
    EXPECT_EQ(job.settings.mode, 0);
    for (int slot = 0; slot < kTagSlots; ++slot) {
        EXPECT_STREQ(job.tags[slot].data(), slot == TagDescription ? "Nocturne" : "") << "slot " << slot;
    }
}

TEST(WavCopy, ReplacesAnExistingTarget) {
    ScratchFolder dir;
    const std::vector<uint8_t> song = MakeWav(2, 44100, 1000);
    WriteFile(dir / "in.wav", song);
    WriteFile(dir / "out.wav", std::vector<uint8_t>(song.size() * 3, 0xEE));  // longer than the song
    const ExportResult result = CopyWavFile(dir / "in.wav", dir / "out.wav");
    EXPECT_TRUE(result.Ok()) << result.text;
    EXPECT_EQ(ReadFile(dir / "out.wav"), song);

    // The source as its own target stays whole.
    EXPECT_TRUE(CopyWavFile(dir / "in.wav", dir.path() + "/./in.wav").Ok());
    EXPECT_EQ(ReadFile(dir / "in.wav"), song);
}

TEST(WavCopy, FailuresAreReportedAndLeaveNoPartialFile) {
    ScratchFolder dir;
    WriteFile(dir / "in.wav", MakeWav(2, 44100, 200000));  // 800 kB

    ExportResult r = CopyWavFile(dir / "missing.wav", dir / "out.wav");
    EXPECT_EQ(r.code, FailSourceOpen);
    EXPECT_NE(r.text.find("missing.wav"), std::string::npos) << r.text;
    EXPECT_FALSE(Exists(dir / "out.wav"));

    const std::string readOnly = ReadOnlyFolder(dir);
    if (!readOnly.empty()) {
        r = CopyWavFile(dir / "in.wav", readOnly + "/out.wav");
        EXPECT_EQ(r.code, FailTargetOpen) << r.text;
    }

    ::symlink("/dev/full", (dir / "full.wav").c_str());
    r = CopyWavFile(dir / "in.wav", dir / "full.wav");
    EXPECT_EQ(r.code, FailWrite);
    EXPECT_NE(r.text.find("No space left"), std::string::npos) << r.text;
    EXPECT_TRUE(Exists("/dev/full"));  // a device is never removed

    {
        FileSizeLimit limit(100000);
        r = CopyWavFile(dir / "in.wav", dir / "out.wav");
    }
    EXPECT_EQ(r.code, FailWrite) << r.text;
    EXPECT_FALSE(Exists(dir / "out.wav")) << "the partial copy must be removed";
}

}  // namespace
