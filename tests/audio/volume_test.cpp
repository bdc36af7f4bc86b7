#include "audio/volume.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "wav_bytes.h"

namespace {

using wavtest::Bytes;

TEST(Volume, GainFollowsTheSquareOfThePercent) {
    const struct {
        float percent, gain;
    } cases[] = {{100, 1}, {0, 0}, {50, 0.25f}, {10, 0.01f}, {150, 1}, {-5, 0}, {NAN, 0}};
    for (const auto& c : cases) EXPECT_FLOAT_EQ(VolumeGain(c.percent), c.gain) << c.percent << "%";
}

TEST(Volume, ScalesSixteenBitSamplesRoundingToTheNearest) {
    const std::vector<int16_t> in = {0, 1, -1, 32767, -32768, 1000, -1001};
    const struct {
        float gain;
        std::vector<int16_t> out;
    } cases[] = {
        {1.0f, in},
        {0.0f, {0, 0, 0, 0, 0, 0, 0}},
        {0.5f, {0, 1, -1, 16384, -16384, 500, -501}},
        {0.25f, {0, 0, 0, 8192, -8192, 250, -250}},
        {0.999f, {0, 1, -1, 32734, -32735, 999, -1000}},
    };
    for (const auto& c : cases) {
        Bytes bytes;
        for (int16_t s : in) wavtest::PutU16(bytes, static_cast<uint16_t>(s));
        ApplyVolumeGain16(bytes.data(), in.size(), c.gain);
        for (size_t i = 0; i < in.size(); ++i) {
            const auto got =
                static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
            EXPECT_EQ(got, c.out[i]) << "sample " << in[i] << " at gain " << c.gain;
        }
    }
}

}  // namespace
