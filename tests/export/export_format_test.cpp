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
        ExportFormat previous;
        ExportFormat expected;
    };
    const Case cases[] = {
        {"/home/ann/song.mp3", ExportFormat::Wav, ExportFormat::Mp3},
        {"/home/ann/x.ogg/song.mp3", ExportFormat::Wav, ExportFormat::Mp3},  // a folder's name does not count
        {"/home/ann/x.ogg/song", ExportFormat::Mp3, ExportFormat::Mp3},  // no extension: the previous format
        {"SONG.FLAC", ExportFormat::Wav, ExportFormat::Flac},
        {"take.M4a", ExportFormat::Wav, ExportFormat::Alac},
        {"take.aac", ExportFormat::Ogg, ExportFormat::Aac},
        {"take.Ogg", ExportFormat::Wav, ExportFormat::Ogg},
        {"take.wav", ExportFormat::Mp3, ExportFormat::Wav},
        {"take.wav.bak", ExportFormat::Aac,
         ExportFormat::Aac},  // ".wav" inside the name is not its extension
        {"take.mp3x", ExportFormat::Wav, ExportFormat::Wav},
        {"take.", ExportFormat::Flac, ExportFormat::Flac},
        {".mp3", ExportFormat::Wav, ExportFormat::Wav},  // a hidden file without an extension
        {"", ExportFormat::Ogg, ExportFormat::Ogg},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseExportFormat(c.path, c.previous), c.expected) << "path \"" << c.path << "\"";
    }
    // A video's name is no audio format; the extension test itself takes any case.
    EXPECT_FALSE(AudioFormatOfPath("clip.mp4").has_value());
    EXPECT_TRUE(HasExtension("/v/clip.MP4", ".mp4"));
    EXPECT_FALSE(HasExtension("/v.mp4/clip.avi", ".mp4"));
    EXPECT_FALSE(HasExtension("clip.mp4.avi", ".mp4"));
}

// The words the command line takes, once for every command, and the dialog's choice index.
TEST(ExportFormat, QualityWordsAndChoices) {
    EXPECT_EQ(ParseQualityLevel("standard"), QualityStandard);
    EXPECT_EQ(ParseQualityLevel("high"), QualityHigh);
    EXPECT_EQ(ParseQualityLevel("maximum"), QualityMaximum);
    for (const char* word : {"", "High", "max", "standard "}) EXPECT_FALSE(ParseQualityLevel(word)) << word;
    EXPECT_EQ(QualityFromChoice(2), QualityMaximum);
    EXPECT_EQ(QualityFromChoice(-1), QualityStandard);
    EXPECT_EQ(QualityFromChoice(7), QualityStandard);
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

    const EncoderSettings settings = OggSettingsForLevel(QualityHigh);
    EXPECT_FLOAT_EQ(settings.quality, 0.7f);
    EXPECT_EQ(settings.channels, 2);
    EXPECT_EQ(settings.mode, 0);
    const EncoderTags song = OggTagsForSong("Nocturne");
    for (int slot = 0; slot < kTagSlots; ++slot) {
        EXPECT_STREQ(song[slot].data(), slot == TagDescription ? "Nocturne" : "") << "slot " << slot;
    }
}

TEST(WavCopy, ReplacesAnExistingTarget) {
    ScratchFolder dir;
    const std::vector<uint8_t> song = MakeWav(2, 44100, 1000);
    WriteFile(dir / "in.wav", song);
    WriteFile(dir / "out.wav", std::vector<uint8_t>(song.size() * 3, 0xEE));  // longer than the song
    const Failure result = CopyWavFile(dir / "in.wav", dir / "out.wav");
    EXPECT_TRUE(result.Ok()) << result.text;
    EXPECT_EQ(ReadFile(dir / "out.wav"), song);

    // The source as its own target stays whole.
    EXPECT_TRUE(CopyWavFile(dir / "in.wav", dir.path() + "/./in.wav").Ok());
    EXPECT_EQ(ReadFile(dir / "in.wav"), song);
}

TEST(WavCopy, FailuresAreReportedAndLeaveNoPartialFile) {
    ScratchFolder dir;
    WriteFile(dir / "in.wav", MakeWav(2, 44100, 200000));  // 800 kB

    Failure r = CopyWavFile(dir / "missing.wav", dir / "out.wav");
    EXPECT_EQ(r.kind, FailureKind::SourceOpen);
    EXPECT_NE(r.text.find("missing.wav"), std::string::npos) << r.text;
    EXPECT_FALSE(Exists(dir / "out.wav"));

    const std::string readOnly = ReadOnlyFolder(dir);
    if (!readOnly.empty()) {
        r = CopyWavFile(dir / "in.wav", readOnly + "/out.wav");
        EXPECT_EQ(r.kind, FailureKind::TargetOpen) << r.text;
    }

    ::symlink("/dev/full", (dir / "full.wav").c_str());
    r = CopyWavFile(dir / "in.wav", dir / "full.wav");
    EXPECT_EQ(r.kind, FailureKind::Write);
    EXPECT_NE(r.text.find("No space left"), std::string::npos) << r.text;
    EXPECT_TRUE(Exists("/dev/full"));  // a device is never removed

    {
        FileSizeLimit limit(100000);
        r = CopyWavFile(dir / "in.wav", dir / "out.wav");
    }
    EXPECT_EQ(r.kind, FailureKind::Write) << r.text;
    EXPECT_FALSE(Exists(dir / "out.wav")) << "the partial copy must be removed";
}

}  // namespace
