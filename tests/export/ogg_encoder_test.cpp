// The Ogg Vorbis encoder on generated WAV files: what the file holds, the progress protocol, and
// that every failure is reported, ends the protocol and leaves no partial file.
#include "export/ogg_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "export/export_failure.h"
#include "export/export_format.h"
#include "export_fixture.h"

using namespace export_test;

namespace {

struct Message {
    EncoderMessage message;
    int32_t value;
};

int Record(void* context, EncoderMessage message, int32_t value) {
    static_cast<std::vector<Message>*>(context)->push_back({message, value});
    return 0;
}

struct Encoded {
    Failure result;
    std::vector<Message> messages;
};

Encoded Encode(const std::string& source, const std::string& target, float quality = 0.5f,
               const std::string& description = "Two Hands") {
    Encoded e{};
    EncoderSettings settings;
    settings.quality = quality;
    EncoderTags tags{};
    SetTag(tags, TagDescription, description);
    e.result = EncodeWavToOgg(source, target, settings, tags, Record, &e.messages);
    return e;
}

TEST(OggEncoder, StereoSongKeepsItsLengthAndCarriesAllFifteenFields) {
    ScratchFolder dir;
    constexpr uint32_t kFrames = 3 * 44100 + 123;
    WriteFile(dir / "in.wav", MakeWav(2, 44100, kFrames));
    const Encoded e = Encode(dir / "in.wav", dir / "out.ogg");
    ASSERT_TRUE(e.result.Ok()) << e.result.text;
    EXPECT_EQ(e.result.text, "");

    EXPECT_EQ(ProbeStream(dir / "out.ogg", "codec_name"), "vorbis");
    EXPECT_EQ(ProbeStream(dir / "out.ogg", "sample_rate"), "44100");
    EXPECT_EQ(ProbeStream(dir / "out.ogg", "channels"), "2");
    EXPECT_EQ(OggFrames(dir / "out.ogg"), static_cast<long>(kFrames));

    const std::string comments = RunCommand("vorbiscomment -l " + Quote(dir / "out.ogg"));
    EXPECT_EQ(comments,
              "ALBUM=\nARTIST=\nCONTACT=\nCOPYRIGHT=\nDATE=\nDESCRIPTION=Two Hands\nGENRE=\nISRC=\n"
              "LICENSE=\nLOCATION=\nORGANISATION=\nPERFORMER=\nTITLE=\nTRACKNUMBER=\nVERSION=\n");
}

TEST(OggEncoder, ProgressProtocol) {
    ScratchFolder dir;
    // 40 reads of 4,096 bytes and a short one: progress after the header and on reads 1, 17, 33.
    WriteFile(dir / "in.wav", MakeWav(2, 44100, 40 * 1024 + 100));
    const Encoded e = Encode(dir / "in.wav", dir / "out.ogg");
    ASSERT_TRUE(e.result.Ok()) << e.result.text;
    ASSERT_GE(e.messages.size(), 3u);
    EXPECT_EQ(e.messages.front().message, EncoderMessage::Started);
    EXPECT_EQ(e.messages.back().message, EncoderMessage::Finished);
    std::vector<int32_t> progress;
    for (const Message& m : e.messages) {
        if (m.message == EncoderMessage::Progress) progress.push_back(m.value);
    }
    ASSERT_EQ(progress.size(), 4u);
    EXPECT_EQ(progress[0], 0);   // the 44 header bytes of 164,284
    EXPECT_EQ(progress[1], 2);   // 4,140 bytes
    EXPECT_EQ(progress[2], 42);  // 69,676 bytes
    EXPECT_EQ(progress[3], 82);  // 135,212 bytes
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);
}

TEST(OggEncoder, MonoIsSpreadToBothChannels) {
    ScratchFolder dir;
    WriteFile(dir / "in.wav", MakeWav(1, 44100, 44100));
    const Encoded e = Encode(dir / "in.wav", dir / "out.ogg");
    ASSERT_TRUE(e.result.Ok()) << e.result.text;
    EXPECT_EQ(ProbeStream(dir / "out.ogg", "channels"), "2");
    const std::vector<int16_t> samples = DecodeStereo(dir / "out.ogg");
    ASSERT_GT(samples.size(), 80000u);
    int worst = 0;
    for (size_t i = 0; i + 1 < samples.size(); i += 2)
        worst = std::max(worst, std::abs(samples[i] - samples[i + 1]));
    EXPECT_LE(worst, 2) << "left and right differ";
}

TEST(OggEncoder, QualityAboveOneIsLoweredAndAPartialLastFrameDropped) {
    ScratchFolder dir;
    std::vector<uint8_t> wav = MakeWav(2, 44100, 2048);
    wav.insert(wav.end(), {1, 2});  // half a frame after the last whole one
    WriteFile(dir / "in.wav", wav);
    const Encoded e = Encode(dir / "in.wav", dir / "out.ogg", 3.0f);
    ASSERT_TRUE(e.result.Ok()) << e.result.text;
    EXPECT_EQ(OggFrames(dir / "out.ogg"), 2048);
}

TEST(OggEncoder, FailuresEndWithTheCodeAndLeaveNoFile) {
    ScratchFolder dir;
    WriteFile(dir / "song.wav", MakeWav(2, 44100, 44100));
    WriteFile(dir / "four.wav", MakeWav(4, 44100, 4096));
    std::vector<uint8_t> header = MakeWav(2, 44100, 0);
    header.resize(40);
    WriteFile(dir / "short.wav", header);
    ::symlink("/dev/full", (dir / "full.ogg").c_str());
    const std::string readOnly = ReadOnlyFolder(dir);

    struct Case {
        const char* name;
        std::string source;
        std::string target;
        FailureKind code;
        const char* text;
    };
    const Case cases[] = {
        {"missing source", dir / "missing.wav", dir / "a.ogg", FailureKind::SourceOpen, "Couldn't open "},
        {"short header", dir / "short.wav", dir / "b.ogg", FailureKind::SourceFormat, "holds no audio"},
        {"four channels", dir / "four.wav", dir / "e.ogg", FailureKind::SourceFormat,
         "has 4 channels; only mono and stereo can be exported"},
        {"full disk", dir / "song.wav", dir / "full.ogg", FailureKind::Write, "No space left on device"},
        {"read-only folder", dir / "song.wav", readOnly + "/f.ogg", FailureKind::TargetOpen,
         "for write: Permission denied"},
    };
    for (const Case& c : cases) {
        if (c.target.rfind("/f.ogg") != std::string::npos && readOnly.empty()) continue;
        SCOPED_TRACE(c.name);
        const Encoded e = Encode(c.source, c.target);
        EXPECT_EQ(e.result.kind, c.code);
        EXPECT_NE(e.result.text.find(c.text), std::string::npos) << e.result.text;
        EXPECT_EQ(e.result.text.find("Aborting"), std::string::npos) << e.result.text;
        ASSERT_FALSE(e.messages.empty());
        EXPECT_EQ(e.messages.back().message, EncoderMessage::Failed);
        EXPECT_EQ(e.messages.back().value, static_cast<int32_t>(c.code));
        if (c.code != FailureKind::Write) {
            EXPECT_FALSE(Exists(c.target)) << "a partial file is left";
        }
    }
    EXPECT_TRUE(Exists("/dev/full"));

    // A disk that fills up part-way through a real file.
    Encoded e;
    {
        FileSizeLimit limit(20000);
        e = Encode(dir / "song.wav", dir / "g.ogg");
    }
    EXPECT_EQ(e.result.kind, FailureKind::Write) << e.result.text;
    EXPECT_EQ(e.messages.back().value, static_cast<int32_t>(FailureKind::Write));
    EXPECT_FALSE(Exists(dir / "g.ogg"));
}

TEST(OggEncoder, MissingSourceLeavesAnExistingTargetAlone) {
    ScratchFolder dir;
    WriteFile(dir / "kept.ogg", {1, 2, 3});
    EXPECT_FALSE(Encode(dir / "missing.wav", dir / "kept.ogg").result.Ok());
    EXPECT_EQ(ReadFile(dir / "kept.ogg"), (std::vector<uint8_t>{1, 2, 3}));
}

// A listener that answers non-zero stops the encoding where it is: the target stays as it was,
// nothing of the new file is left, and Failed with Cancelled is the last word.
TEST(OggEncoder, ListenerStopsTheEncoding) {
    ScratchFolder dir;
    WriteFile(dir / "in.wav", MakeWav(2, 44100, 4 * 44100));
    WriteFile(dir / "kept.ogg", {1, 2, 3});
    for (int stopAfter : {0, 1, 3}) {
        SCOPED_TRACE(stopAfter);
        struct Listener {
            int stopAfter;
            int seen = 0;
            EncoderMessage last{};
            int32_t lastValue = 0;
        } listener{stopAfter};
        const auto listen = [](void* context, EncoderMessage message, int32_t value) -> int {
            auto* l = static_cast<Listener*>(context);
            l->last = message;
            l->lastValue = value;
            return l->seen++ >= l->stopAfter ? 1 : 0;
        };
        const Failure r =
            EncodeWavToOgg(dir / "in.wav", dir / "kept.ogg", OggSettingsForLevel(QualityStandard),
                           OggTagsForSong("Song"), listen, &listener);
        EXPECT_TRUE(r.Cancelled()) << r.text;
        EXPECT_EQ(listener.last, EncoderMessage::Failed);
        EXPECT_EQ(listener.lastValue, static_cast<int32_t>(FailureKind::Cancelled));
        EXPECT_EQ(ReadFile(dir / "kept.ogg"), (std::vector<uint8_t>{1, 2, 3}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
    }
}

}  // namespace
