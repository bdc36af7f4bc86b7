#include "synth/render_overview.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes& out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(Bytes& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A canonical 44-byte PCM header followed by the samples. `declaredBytes` overrides the data size
// field, to describe a file that claims more than it holds.
Bytes Wav(int channels, const std::vector<int16_t>& samples, int bits = 16, int64_t declaredBytes = -1) {
    Bytes out(kWavHeaderBytes, 0);
    std::memcpy(out.data(), "RIFF", 4);
    std::memcpy(out.data() + 8, "WAVEfmt ", 8);
    PutU32(out, 16, 16);
    PutU16(out, 20, 1);
    PutU16(out, 22, static_cast<uint16_t>(channels));
    PutU32(out, 24, 44100);
    PutU32(out, 28, 44100 * channels * bits / 8);
    PutU16(out, 32, static_cast<uint16_t>(channels * bits / 8));
    PutU16(out, 34, static_cast<uint16_t>(bits));
    std::memcpy(out.data() + 36, "data", 4);
    const size_t dataBytes = samples.size() * 2;
    PutU32(out, 40,
           declaredBytes < 0 ? static_cast<uint32_t>(dataBytes) : static_cast<uint32_t>(declaredBytes));
    PutU32(out, 4, static_cast<uint32_t>(36 + dataBytes));
    out.resize(kWavHeaderBytes + dataBytes);
    if (dataBytes > 0) std::memcpy(out.data() + kWavHeaderBytes, samples.data(), dataBytes);
    return out;
}

// Where a read goes: the file's path and the overview it fills.
struct Target {
    std::string outputWavPath;
    AudioOverview overview;
};

bool Read(Target& t) {
    return ReadRenderOverview(t.outputWavPath, t.overview).Ok();
}
bool Read(Target& t, int fd) {
    return ReadRenderOverview(fd, t.outputWavPath, t.overview).Ok();
}
bool Read(Target& t, const uint8_t* data, size_t size) {
    return ReadRenderOverview(data, size, t.overview).Ok();
}

// Fills every overview array and header field with values no read produces, so a test can see
// exactly what a read changed.
void Poison(Target& state) {
    state.overview.overviewMinLeft.fill(-7);
    state.overview.overviewMaxLeft.fill(7);
    state.overview.overviewMinRight.fill(-9);
    state.overview.overviewMaxRight.fill(9);
    state.overview.wavDataBytes = 12345;
    state.overview.wavSampleRate = 1;
    state.overview.wavChannels = 99;
}

class OverviewFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dorvik-overview-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const Bytes& bytes) {
        const std::string path = (fs::path(dir_) / "output.wav").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string dir_;
};

// One minute of stereo at 44.1 kHz: 5,292,000 samples, so each column spans 2756.25 samples or
// 1378.125 frames. Single spikes placed on either side of two column edges show where the
// columns begin and end.
TEST_F(OverviewFile, MinuteOfStereoSplitsAtTheColumnEdges) {
    constexpr size_t kFrames = 60 * 44100;
    std::vector<int16_t> samples(2 * kFrames, 0);
    auto spike = [&](size_t frame, int16_t left, int16_t right) {
        samples[2 * frame] = left;
        samples[2 * frame + 1] = right;
    };
    spike(1378, 1000, -1000);           // sample 2756 < 2756.25: still column 0
    spike(1379, 2000, -2000);           // sample 2758: column 1
    spike(2644621, 500, -500);          // sample 5289242 < 1919 * 2756.25: column 1918
    spike(2644622, 600, -600);          // the first frame of the last column
    spike(kFrames - 1, 32767, -32768);  // the very last frame belongs to the last column

    Target state;
    state.outputWavPath = Write(Wav(2, samples));
    ASSERT_TRUE(Read(state));
    EXPECT_EQ(state.overview.wavDataBytes, 4u * kFrames);
    EXPECT_EQ(state.overview.wavSampleRate, 44100u);
    EXPECT_EQ(state.overview.wavChannels, 2);

    struct Expected {
        int column;
        int16_t maxLeft, minRight;
    };
    const Expected expected[] = {{0, 1000, -1000},  {1, 2000, -2000},      {2, 0, 0},
                                 {1918, 500, -500}, {1919, 32767, -32768}, {1917, 0, 0}};
    for (const Expected& e : expected) {
        SCOPED_TRACE("column " + std::to_string(e.column));
        EXPECT_EQ(state.overview.overviewMaxLeft[e.column], e.maxLeft);
        EXPECT_EQ(state.overview.overviewMinLeft[e.column], 0);
        EXPECT_EQ(state.overview.overviewMinRight[e.column], e.minRight);
        EXPECT_EQ(state.overview.overviewMaxRight[e.column], 0);
    }
    EXPECT_EQ(state.overview.overviewMinLeft[1919], 0);  // the last column also holds silent frames
}

TEST_F(OverviewFile, RefusedFilesLeaveTheStateAlone) {
    const std::vector<int16_t> someSamples(4000, 100);
    Bytes tooShort = Wav(2, {});
    tooShort.resize(40);
    Bytes noChannels = Wav(2, someSamples);
    PutU16(noChannels, 22, 0x0100);  // only the low byte counts: 0 channels
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"24-bit", Wav(2, someSamples, 24)},
        {"8-bit", Wav(1, someSamples, 8)},
        {"no channels", noChannels},
        {"shorter than its header", tooShort},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Target state;
        Poison(state);
        state.outputWavPath = Write(c.bytes);
        EXPECT_FALSE(Read(state));
        EXPECT_FALSE(Read(state, c.bytes.data(), c.bytes.size()));
        EXPECT_EQ(state.overview.wavDataBytes, 12345u);
        EXPECT_EQ(state.overview.wavChannels, 99);
        EXPECT_EQ(state.overview.overviewMaxLeft[0], 7);
        EXPECT_EQ(state.overview.overviewMaxRight[1919], 9);
    }

    // The failure says which of the user's terms applies, and names the file.
    AudioOverview overview;
    const std::string missing = (fs::path(dir_) / "missing.wav").string();
    const Failure gone = ReadRenderOverview(missing, overview);
    EXPECT_EQ(gone.kind, FailureKind::SourceOpen);
    EXPECT_EQ(gone.text.rfind(missing + ": ", 0), 0u) << gone.text;
    EXPECT_EQ(ReadRenderOverview(dir_, overview).kind, FailureKind::SourceOpen) << "a folder is not a file";
    EXPECT_EQ(ReadRenderOverview(Write(tooShort), overview).kind, FailureKind::SourceFormat);
}

// A header that claims more data than the file holds (a render cut short) is read as far as the
// data goes; nothing beyond it is ever looked at.
TEST_F(OverviewFile, OverstatedDataSizeIsCutToWhatIsThere) {
    std::vector<int16_t> samples(200);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i % 2 ? -int(i) : int(i));
    const Bytes bytes = Wav(2, samples, 16, 1'000'000);

    Target fromFile;
    fromFile.outputWavPath = Write(bytes);
    ASSERT_TRUE(Read(fromFile));
    Target fromMemory;
    ASSERT_TRUE(Read(fromMemory, bytes.data(), bytes.size()));

    for (const Target* state : {&fromFile, &fromMemory}) {
        EXPECT_EQ(state->overview.wavDataBytes, 400u);
        EXPECT_EQ(
            *std::max_element(state->overview.overviewMaxLeft.begin(), state->overview.overviewMaxLeft.end()),
            198);
        EXPECT_EQ(*std::min_element(state->overview.overviewMinRight.begin(),
                                    state->overview.overviewMinRight.end()),
                  -199);
    }
}

TEST(Overview, MonoWritesOnlyTheLeftArrays) {
    // 5760 samples: three per column, each column holding its own index.
    std::vector<int16_t> samples(3 * kOverviewColumns);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i / 3 - 960);
    const Bytes bytes = Wav(1, samples);
    Target state;
    Poison(state);
    ASSERT_TRUE(Read(state, bytes.data(), bytes.size()));
    EXPECT_EQ(state.overview.wavChannels, 1);
    for (int c = 0; c < kOverviewColumns; ++c) {
        ASSERT_EQ(state.overview.overviewMinLeft[c], c - 960) << "column " << c;
        ASSERT_EQ(state.overview.overviewMaxLeft[c], c - 960) << "column " << c;
        ASSERT_EQ(state.overview.overviewMinRight[c], -9) << "column " << c;
        ASSERT_EQ(state.overview.overviewMaxRight[c], 9) << "column " << c;
    }
}

// With more than two channels the samples are still taken in pairs: of a four-channel frame
// (a, b, c, d) the left arrays see a and c, the right ones b and d.
TEST(Overview, MoreThanTwoChannelsAreWalkedInPairs) {
    std::vector<int16_t> samples;
    for (int frame = 0; frame < kOverviewColumns; ++frame) samples.insert(samples.end(), {10, 20, 30, 40});
    const Bytes bytes = Wav(4, samples);
    Target state;
    ASSERT_TRUE(Read(state, bytes.data(), bytes.size()));
    for (int c : {0, 1, 960, 1919}) {
        SCOPED_TRACE("column " + std::to_string(c));
        EXPECT_EQ(state.overview.overviewMinLeft[c], 10);
        EXPECT_EQ(state.overview.overviewMaxLeft[c], 30);
        EXPECT_EQ(state.overview.overviewMinRight[c], 20);
        EXPECT_EQ(state.overview.overviewMaxRight[c], 40);
    }
}

// Songs shorter than the overview is wide, and data that ends inside a frame: every whole frame
// lands in exactly one column, partial frames are ignored, and columns without a frame are silent.
TEST(Overview, ShortAndRaggedDataFillEveryColumnOnce) {
    for (int channels = 1; channels <= 5; ++channels) {
        for (int frames : {0, 1, 7, 1919, 1921, 5000}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(frames) + " frames");
            std::vector<int16_t> samples;
            for (int f = 0; f < frames; ++f) {
                for (int ch = 0; ch < channels; ++ch) samples.push_back(static_cast<int16_t>(f + 1));
            }
            Bytes bytes = Wav(channels, samples);
            // A stray byte and a partial frame after the whole frames.
            bytes.push_back(0x7F);
            PutU32(bytes, 40, static_cast<uint32_t>(samples.size() * 2 + 1));

            Target state;
            Poison(state);
            ASSERT_TRUE(Read(state, bytes.data(), bytes.size()));
            int nonEmpty = 0;
            int16_t highest = 0;
            for (int c = 0; c < kOverviewColumns; ++c) {
                ASSERT_LE(state.overview.overviewMinLeft[c], state.overview.overviewMaxLeft[c])
                    << "column " << c;
                if (state.overview.overviewMaxLeft[c] != 0) ++nonEmpty;
                highest = std::max(highest, state.overview.overviewMaxLeft[c]);
            }
            EXPECT_EQ(highest, frames);
            // Each column of a mono or stereo file gets whole frames, so short songs show one
            // frame per column; wider files pair samples across frames and are only bounded.
            if (channels <= 2) {
                EXPECT_EQ(nonEmpty, std::min(frames, kOverviewColumns));
            }
        }
    }
}

}  // namespace

namespace {

// The overview read from a file in blocks is the one read from the whole file at once, column for
// column: short, ragged and 30-minute files of noise, the last compared through a mapping of the
// file so that the test itself holds no copy of it.
TEST_F(OverviewFile, BlocksGiveTheWholeFilesColumns) {
    struct Case {
        const char* name;
        int channels;
        size_t frames;
        size_t strayBytes;  // after the whole frames, counted in the data size
    };
    const Case cases[] = {
        {"short", 2, 7, 0},
        {"odd-sized mono", 1, 1921, 1},
        {"odd-sized three channels", 3, 5001, 5},
        {"30 minutes of stereo", 2, 1800 * 44100, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t dataBytes = c.frames * static_cast<size_t>(c.channels) * 2 + c.strayBytes;
        Bytes header = Wav(c.channels, {});
        PutU32(header, 40, static_cast<uint32_t>(dataBytes));
        const std::string path = (fs::path(dir_) / "noise.wav").string();
        {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(header.data()),
                      static_cast<std::streamsize>(header.size()));
            std::vector<int16_t> block(1 << 16);
            uint32_t seed = 12345;
            for (size_t left = dataBytes; left > 0;) {
                for (int16_t& v : block)
                    v = static_cast<int16_t>((seed = seed * 1664525u + 1013904223u) >> 16);
                const size_t n = std::min(left, block.size() * 2);
                out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
                left -= n;
            }
        }
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const size_t size = kWavHeaderBytes + dataBytes;
        void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        ASSERT_NE(mapped, MAP_FAILED);
        Target blocks, whole;
        Poison(blocks);
        Poison(whole);
        EXPECT_TRUE(Read(blocks, fd));
        EXPECT_TRUE(Read(whole, static_cast<const uint8_t*>(mapped), size));
        munmap(mapped, size);
        close(fd);
        EXPECT_EQ(blocks.overview.wavDataBytes, whole.overview.wavDataBytes);
        for (int col = 0; col < kOverviewColumns; ++col) {
            ASSERT_EQ(blocks.overview.overviewMinLeft[col], whole.overview.overviewMinLeft[col])
                << "column " << col;
            ASSERT_EQ(blocks.overview.overviewMaxLeft[col], whole.overview.overviewMaxLeft[col])
                << "column " << col;
            ASSERT_EQ(blocks.overview.overviewMinRight[col], whole.overview.overviewMinRight[col])
                << "column " << col;
            ASSERT_EQ(blocks.overview.overviewMaxRight[col], whole.overview.overviewMaxRight[col])
                << "column " << col;
        }
        fs::remove(path);
    }
}

}  // namespace
