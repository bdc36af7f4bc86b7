#include "audio/wav_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "audio/wav_reader.h"

namespace {

// The header a render writes reads back field for field, and the WAV reader takes a file that
// starts with it as PCM of the stated format.
TEST(WavHeader, WrittenHeaderReadsBack) {
    struct Case {
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
        uint32_t dataBytes;
    } const cases[] = {
        {2, 44100, 16, 4 * 44100},
        {1, 48000, 16, 0},
        {2, 96000, 24, 6 * 3},
        {2, 44100, 16, 0xFFFFFFFFu - 36},  // the largest size the RIFF field holds
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dataBytes);
        uint8_t header[kCanonicalWavHeaderBytes];
        std::memset(header, 0xAA, sizeof header);
        WriteCanonicalWavHeader(header, c.channels, c.rate, c.bits, c.dataBytes);
        const CanonicalWavHeader read = ParseCanonicalWavHeader(header);
        EXPECT_TRUE(read.chunkIdsInPlace);
        EXPECT_EQ(read.format.formatTag, kWaveFormatPcm);
        EXPECT_EQ(read.format.channels, c.channels);
        EXPECT_EQ(read.format.samplesPerSec, c.rate);
        EXPECT_EQ(read.format.bitsPerSample, c.bits);
        EXPECT_EQ(read.format.blockAlign, c.channels * c.bits / 8);
        EXPECT_EQ(read.format.avgBytesPerSec, c.rate * c.channels * c.bits / 8);
        EXPECT_EQ(read.dataBytes, c.dataBytes);
        EXPECT_EQ(LoadLe32(header + 4), 36 + c.dataBytes);
        EXPECT_EQ(LoadLe32(header + 16), kFmtFieldBytes);
    }

    uint8_t file[kCanonicalWavHeaderBytes + 8] = {};
    WriteCanonicalWavHeader(file, 2, 44100, 16, 8);
    WavReader reader;
    ASSERT_EQ(reader.OpenMemory(file, sizeof file), kWavOk);
    ASSERT_TRUE(reader.format);
    EXPECT_EQ(reader.format->header.channels, 2);
    EXPECT_EQ(reader.dataSize, 8u);
}

}  // namespace
