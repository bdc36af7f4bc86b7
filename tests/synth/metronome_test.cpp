// The metronome's clicks: each starts on the frame of its beat at the render's speed and start,
// the bar's first louder, and a song rendered in blocks clicks as it would in one go.
#include "synth/metronome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The first frame of each click in `stereo`: a sample past silence after a stretch of it.
std::vector<int64_t> Onsets(const std::vector<float>& stereo) {
    std::vector<int64_t> found;
    int64_t quiet = 1000;
    for (size_t f = 0; f < stereo.size() / 2; ++f) {
        if (std::fabs(stereo[f * 2]) > 1e-6f) {
            if (quiet > 100) found.push_back(static_cast<int64_t>(f));
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

TEST(Metronome, ClicksStartOnTheirBeatsAtTheSpeedAndStartInAnyBlocks) {
    const std::vector<Beat> beats = {{0.0, true}, {0.5, false}, {1.0, false}, {1.5, true}, {2.0, false}};
    const struct {
        double start, speed;
        int block;
        std::vector<int64_t> want;  // at 1000 frames a second
    } cases[] = {
        {0.0, 1.0, 64, {0, 500, 1000, 1500, 2000}},
        {0.0, 0.5, 64, {0, 1000, 2000, 3000, 4000}},
        {1.0, 1.0, 7, {0, 500, 1000}},  // a render from 1 s: the beats before it are gone
        {0.0, 2.0, 4096, {0, 250, 500, 750, 1000}},
    };
    for (const auto& c : cases) {
        ClickTrack clicks(beats, c.start, c.speed, 1000, 1.0f);
        std::vector<float> out(2 * 4200, 0.0f);
        for (int64_t at = 0; at < 4200; at += c.block) {
            const int64_t n = std::min<int64_t>(c.block, 4200 - at);
            clicks.Mix(out.data() + at * 2, n, at);
        }
        EXPECT_EQ(Onsets(out), c.want) << "start " << c.start << " speed " << c.speed << " block " << c.block;
    }
    ClickTrack clicks(beats, 0.0, 1.0, 44100, 1.0f);
    std::vector<float> out(2 * 44100, 0.0f);
    clicks.Mix(out.data(), 44100, 0);
    float accent = 0, beat = 0;
    for (int f = 0; f < 1000; ++f) accent = std::max(accent, std::fabs(out[f * 2]));
    for (int f = 22050; f < 23050; ++f) beat = std::max(beat, std::fabs(out[f * 2]));
    EXPECT_GT(accent, beat * 1.2f) << "the bar's first beat is accented";
    ClickTrack silent(beats, 0.0, 1.0, 44100, 0.0f);
    std::vector<float> none(2 * 1000, 0.0f);
    silent.Mix(none.data(), 1000, 0);
    EXPECT_TRUE(Onsets(none).empty()) << "no volume, no clicks";
}

}  // namespace
