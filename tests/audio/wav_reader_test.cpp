#include "audio/wav_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "wav_bytes.h"

using namespace wavtest;

namespace {

void OpenBytes(WavReader& r, const Bytes& b) {
    ASSERT_EQ(r.OpenMemory(b.data(), b.size()), kWavOk);
}

Bytes ReadAll(WavReader& r, uint32_t chunk) {
    Bytes out;
    Bytes buf(chunk);
    for (;;) {
        const uint32_t n = r.Read(buf.data(), chunk);
        if (n == 0) return out;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
}

}  // namespace

// Chunks other than "fmt " and "data" may stand anywhere, with odd sizes and pad bytes, and
// "fmt " may carry more than its 16 bytes; the reader finds the two by id.
TEST(WavReader, FindsFormatAndDataAmongOtherChunks) {
    Bytes fmt18 = FmtBody(1, 2, 44100, 16);
    PutU16(fmt18, 0);  // the extra-size word some writers add to PCM
    const Bytes data = CountingFrames(0, 1000);
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"plain", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), Chunk("data", data)})},
        {"18-byte fmt", Riff({Chunk("fmt ", fmt18), Chunk("data", data)})},
        {"odd chunks around",
         Riff({Chunk("JUNK", Bytes(3, 7)), Chunk("fmt ", FmtBody(1, 2, 44100, 16)),
               Chunk("LIST", Bytes(5, 1)), Chunk("data", data), Chunk("id3 ", Bytes(9, 2))})},
        {"data before fmt", Riff({Chunk("data", data), Chunk("fmt ", fmt18)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WavReader r;
        OpenBytes(r, c.file);
        ASSERT_TRUE(r.format);
        EXPECT_EQ(r.format->Bytes(), 18u);
        EXPECT_EQ(r.format->header.extraSize, 0);
        EXPECT_EQ(r.format->header.formatTag, 1);
        EXPECT_EQ(r.format->header.channels, 2);
        EXPECT_EQ(r.format->header.samplesPerSec, 44100u);
        EXPECT_EQ(r.format->header.avgBytesPerSec, 176400u);
        EXPECT_EQ(r.format->header.blockAlign, 4);
        EXPECT_EQ(r.format->header.bitsPerSample, 16);
        EXPECT_EQ(r.dataSize, data.size());
        EXPECT_EQ(ReadAll(r, 333), data);
    }
}

TEST(WavReader, KeepsTheExtraBytesOfANonPcmFormat) {
    Bytes fmt = FmtBody(0xFFFE, 2, 48000, 24);
    PutU16(fmt, 22);
    for (uint8_t i = 0; i < 22; ++i) fmt.push_back(uint8_t(100 + i));
    WavReader r;
    OpenBytes(r, Riff({Chunk("fmt ", fmt), Chunk("data", Bytes(60, 9))}));
    ASSERT_TRUE(r.format);
    EXPECT_EQ(r.format->Bytes(), 40u);
    EXPECT_EQ(r.format->header.extraSize, 22);
    ASSERT_EQ(r.format->extra.size(), 22u);
    EXPECT_EQ(r.format->extra[0], 100);
    EXPECT_EQ(r.format->extra[21], 121);
    EXPECT_EQ(r.dataSize, 60u);
}

// Whatever is wrong with the file, Open reports success and leaves the format absent; the caller
// goes by the format.
TEST(WavReader, LeavesTheFormatAbsentForFilesThatAreNoWav) {
    const Bytes data = Chunk("data", CountingFrames(0, 10));
    Bytes shortExtra = FmtBody(3, 2, 44100, 32);
    PutU16(shortExtra, 8);
    shortExtra.push_back(1);  // 1 of the 8 extra bytes promised
    const Bytes noWord = FmtBody(3, 2, 44100, 32);
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"empty", {}},
        {"four bytes", {'R', 'I', 'F', 'F'}},
        {"not RIFF", Chunk("RIFX", Bytes(40, 0))},
        {"RIFF but not WAVE", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), data}, "AVI ")},
        {"no fmt", Riff({data})},
        {"fmt of 14 bytes", Riff({Chunk("fmt ", Bytes(14, 1)), data})},
        {"extra bytes cut short", Riff({Chunk("fmt ", shortExtra)})},
        {"non-PCM without extra-size word", Riff({Chunk("fmt ", noWord)})},
        {"fmt beyond the RIFF size",
         [] {
             Bytes b = Riff({Chunk("JUNK", Bytes(8, 0)), Chunk("fmt ", FmtBody(1, 2, 44100, 16))});
             b[4] = 12;  // the RIFF chunk ends inside JUNK
             b[5] = b[6] = b[7] = 0;
             return b;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WavReader r;
        EXPECT_EQ(r.OpenMemory(c.file.data(), c.file.size()), kWavOk);
        EXPECT_FALSE(r.format);
    }
}

TEST(WavReader, AWavWithoutDataHasNothingToRead) {
    WavReader r;
    OpenBytes(r, Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), Chunk("LIST", Bytes(4, 0))}));
    ASSERT_TRUE(r.format);
    EXPECT_EQ(r.dataSize, 0u);
    uint8_t buf[16];
    EXPECT_EQ(r.Read(buf, 16), 0u);
    EXPECT_EQ(r.SeekFrame(3), kWavOk);
    EXPECT_EQ(r.Read(buf, 16), 0u);
}

TEST(WavReader, ReadsStopAtTheEndOfTheData) {
    const Bytes data = CountingFrames(0, 25);  // 100 bytes, then another chunk that must not be read
    WavReader r;
    OpenBytes(
        r, Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), Chunk("data", data), Chunk("JUNK", Bytes(64, 5))}));
    Bytes buf(64);
    EXPECT_EQ(r.Read(buf.data(), 64), 64u);
    EXPECT_EQ(r.Read(buf.data(), 64), 36u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 36, data.begin() + 64));
    EXPECT_EQ(r.Read(buf.data(), 64), 0u);
    EXPECT_EQ(r.Read(nullptr, 4), 0u);
}

// A data chunk that claims more than the file holds is cut to what is there, so playback lasts as
// long as the sound does and not as long as a damaged header says.
TEST(WavReader, ATruncatedDataChunkIsCutToTheFile) {
    Bytes file = Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), Chunk("data", CountingFrames(0, 10), 400)});
    WavReader r;
    OpenBytes(r, file);
    EXPECT_EQ(r.dataSize, 40u);
    Bytes buf(400);
    EXPECT_EQ(r.Read(buf.data(), 16), 16u);
    EXPECT_EQ(r.Read(buf.data(), 100), 24u);
    EXPECT_EQ(r.dataChunk.size, 0u);
    EXPECT_EQ(r.RewindData(), kWavOk);  // a rewind after hitting the end of the file still works
    EXPECT_EQ(r.Read(buf.data(), 8), 8u);
    EXPECT_EQ(FrameIndexOf(buf.data()), 0);
}

TEST(WavReader, SeekAndRewindStandAtTheRightFrame) {
    const uint32_t frames = 5000;
    const Bytes data = CountingFrames(0, frames);
    WavReader r;
    OpenBytes(
        r, Riff({Chunk("JUNK", Bytes(1, 0)), Chunk("fmt ", FmtBody(1, 2, 44100, 16)), Chunk("data", data)}));
    uint8_t buf[8];
    for (uint32_t f : {0u, 1u, 1234u, frames - 1}) {
        SCOPED_TRACE(f);
        ASSERT_EQ(r.Read(buf, 8), 8u);  // move away first
        EXPECT_EQ(r.SeekFrame(f), kWavOk);
        EXPECT_EQ(r.dataChunk.size, r.dataSize - f * 4);
        ASSERT_EQ(r.Read(buf, 4), 4u);
        EXPECT_EQ(FrameIndexOf(buf), f);
    }
    EXPECT_EQ(r.RewindData(), kWavOk);
    EXPECT_EQ(r.dataChunk.size, r.dataSize);
    Bytes viaRewind = ReadAll(r, 1000);
    EXPECT_EQ(r.SeekFrame(0), kWavOk);
    EXPECT_EQ(ReadAll(r, 1000), viaRewind);
    EXPECT_EQ(viaRewind, data);

    // The far end of the time bar is the frame just past the data; anything beyond stands there
    // too, instead of letting the count of bytes left wrap round.
    for (uint32_t f : {frames, frames + 1, 0x40000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(f);
        EXPECT_EQ(r.SeekFrame(f), kWavOk);
        EXPECT_EQ(r.dataChunk.size, 0u);
        EXPECT_EQ(r.Read(buf, 8), 0u);
    }
}

TEST(WavReader, ReportsMissingPathsAndFiles) {
    WavReader r;
    EXPECT_EQ(r.Open(""), kWavInvalidArgument);
    EXPECT_EQ(r.RewindData(), kWavNotOpen);
    EXPECT_EQ(r.SeekFrame(0), kWavNotOpen);
    EXPECT_EQ(r.Open("/nonexistent/dir/output.wav"), kWavOk);
    EXPECT_FALSE(r.handle);
    EXPECT_FALSE(r.format);
    EXPECT_EQ(r.dataSize, 0u);
    EXPECT_EQ(r.RewindData(), kWavNotOpen);
    EXPECT_EQ(r.SeekFrame(10), kWavNotOpen);
    uint8_t buf[4];
    EXPECT_EQ(r.Read(buf, 4), 0u);
}

TEST(WavReader, OpensAFileAndReopensAnother) {
    char dir[] = "/tmp/dorvik-wav-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string a = std::string(dir) + "/a.wav", b = std::string(dir) + "/b.wav";
    ASSERT_TRUE(WriteFile(a, CountingWav(300)));
    Bytes fmtFloat = FmtBody(3, 1, 22050, 32);
    PutU16(fmtFloat, 0);
    ASSERT_TRUE(WriteFile(b, Riff({Chunk("fmt ", fmtFloat), Chunk("data", Bytes(40, 3))})));
    WavReader r;
    EXPECT_EQ(r.Open(a), kWavOk);
    ASSERT_TRUE(r.format);
    EXPECT_EQ(r.dataSize, 1200u);
    EXPECT_EQ(ReadAll(r, 512), CountingFrames(0, 300));
    EXPECT_EQ(r.Open(b), kWavOk);
    ASSERT_TRUE(r.format);
    EXPECT_EQ(r.format->header.formatTag, 3);
    EXPECT_EQ(r.dataSize, 40u);
    EXPECT_EQ(ReadAll(r, 512), Bytes(40, 3));
    r.Close();
    EXPECT_FALSE(r.handle);
    EXPECT_FALSE(r.format);
    std::remove(a.c_str());
    std::remove(b.c_str());
    rmdir(dir);
}
