// Loudness: faint and loud songs come out at the target without a clipped sample, the limiter is
// transparent below its ceiling and holds the true peak under it without its being measured first,
// and a song ends where its sound does.
#include "synth/loudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// Stereo test songs, interleaved.
std::vector<float> Sine(double seconds, double amplitude, double hz = 440) {
    std::vector<float> s(static_cast<size_t>(seconds * kRate) * 2);
    for (size_t i = 0; i < s.size() / 2; ++i) {
        const float v =
            static_cast<float>(amplitude * std::sin(2 * kPi * hz * static_cast<double>(i) / kRate));
        s[2 * i] = s[2 * i + 1] = v;
    }
    return s;
}

// A band at full scale: a bright chord whose peaks touch 1.0.
std::vector<float> LoudBand(double seconds) {
    std::vector<float> s(static_cast<size_t>(seconds * kRate) * 2);
    double peak = 0;
    for (size_t i = 0; i < s.size() / 2; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = 0;
        for (double hz : {110.0, 220.0, 330.0, 440.0, 660.0, 880.0}) v += std::sin(2 * kPi * hz * t + hz);
        s[2 * i] = static_cast<float>(v);
        s[2 * i + 1] = static_cast<float>(0.9 * v);
        peak = std::max(peak, std::fabs(v));
    }
    for (float& v : s) v = static_cast<float>(v / peak);
    return s;
}

// A faint pad with sharp hits over it (5 ms bursts, as of a struck cymbal): the peaks stand far
// above the loudness.
std::vector<float> PadWithHits(double seconds) {
    std::vector<float> s = Sine(seconds, 0.05, 220);
    for (size_t start = 0; start < s.size() / 2; start += kRate / 2) {
        for (size_t i = start; i < std::min(s.size() / 2, start + kRate / 200); ++i) {
            const double v = 0.3 * std::sin(2 * kPi * 3000 * static_cast<double>(i - start) / kRate);
            s[2 * i] += static_cast<float>(v);
            s[2 * i + 1] -= static_cast<float>(v);
        }
    }
    return s;
}

// A tone at an eighth of the sample rate, half a step out of phase: no sample reaches higher than
// 0.924 of the tone's height, whose true peak lies between the samples, 0.7 dB above them.
std::vector<float> ToneBetweenSamples(double seconds, double amplitude) {
    std::vector<float> s(static_cast<size_t>(seconds * kRate) * 2);
    for (size_t i = 0; i < s.size() / 2; ++i) {
        const float v = static_cast<float>(amplitude * std::sin(kPi / 4 * static_cast<double>(i) + kPi / 8));
        s[2 * i] = s[2 * i + 1] = v;
    }
    return s;
}

struct Measured {
    double lufs;
    double truePeakDb;
    float samplePeak;
};

Measured Measure(const std::vector<float>& s) {
    LoudnessMeter meter;
    EXPECT_TRUE(meter.Open(2, kRate));
    meter.AddFrames(s.data(), s.size() / 2);
    float peak = 0;
    for (float v : s) peak = std::max(peak, std::fabs(v));
    return {meter.IntegratedLufs(), 20 * std::log10(meter.TruePeak()), peak};
}

// The whole of a song through the limiter, as every render's second pass takes it.
std::vector<float> Limit(const std::vector<float>& in, bool* acted = nullptr, size_t block = SIZE_MAX) {
    PeakLimiter limiter(2, kRate, DbToGain(kCeilingDbtp));
    std::vector<float> out(in.size() + 2 * limiter.Latency());
    size_t frames = 0;
    for (size_t at = 0; at < in.size() / 2; at += block) {
        const size_t n = std::min(block, in.size() / 2 - at);
        frames += limiter.Process(in.data() + 2 * at, n, out.data() + 2 * frames);
    }
    frames += limiter.Drain(out.data() + frames * 2);
    out.resize(frames * 2);
    EXPECT_EQ(frames, in.size() / 2) << "the limiter must hand back every frame it took";
    if (acted != nullptr) *acted = limiter.Acted();
    return out;
}

// What the render does with a whole song: measure the loudness and the sample peak (the true peak
// is not measured), gain, limit, and once more with a make-up gain where the limiter took more
// than the allowance.
std::vector<float> Normalise(const std::vector<float>& in, bool* limited) {
    LoudnessMeter meter;
    EXPECT_TRUE(meter.Open(2, kRate, false));
    meter.AddFrames(in.data(), in.size() / 2);
    EXPECT_EQ(meter.TruePeak(), 0.0) << "a meter opened without the true peak must not claim one";
    const NormalisePlan plan = PlanNormalisation(meter.IntegratedLufs(), meter.SamplePeak());
    auto pass = [&](double gain) {
        std::vector<float> gained = in;
        ApplyGainAndFade(gained.data(), gained.size() / 2, 2, 0, gain, INT64_MAX, 0);
        return Limit(gained, limited);
    };
    std::vector<float> out = pass(plan.gain);
    if (*limited && Measure(out).lufs < kTargetLufs - 0.5)
        out = pass(RefineGain(plan.gain, Measure(out).lufs));
    return out;
}

TEST(Loudness, FaintAndLoudSongsReachTheTargetWithoutPassingTheCeiling) {
    struct Case {
        const char* name;
        std::vector<float> song;
        bool needsLimiter;  // the gain alone would take its peaks past the ceiling
    };
    const Case cases[] = {
        {"faint sine at -30 dBFS", Sine(6, DbToGain(-30)), false},
        {"band at full scale", LoudBand(6), false},
        {"faint pad with sharp hits", PadWithHits(6), true},
    };
    for (const Case& c : cases) {
        bool limited = false;
        const std::vector<float> out = Normalise(c.song, &limited);
        EXPECT_EQ(limited, c.needsLimiter) << c.name;
        const Measured m = Measure(out);
        EXPECT_NEAR(m.lufs, kTargetLufs, limited ? 1.0 : 0.1) << c.name;
        EXPECT_LE(m.truePeakDb, kCeilingDbtp) << c.name << (limited ? " (limited)" : "");
        EXPECT_LT(m.samplePeak, 1.0f) << c.name;
    }
}

TEST(Loudness, SilenceIsLeftAlone) {
    const std::vector<float> silence(static_cast<size_t>(kRate) * 2, 0.0f);
    const Measured m = Measure(silence);
    const NormalisePlan plan = PlanNormalisation(m.lufs, DbToGain(m.truePeakDb));
    EXPECT_EQ(plan.gain, 1.0);
    EXPECT_FALSE(plan.limit);
}

// Sound below the meter's absolute gate has no integrated loudness; it is still brought up, to
// the ceiling by its peak, rather than left inaudible.
TEST(Loudness, SoundTooFaintToGateReachesTheCeiling) {
    const NormalisePlan plan = PlanNormalisation(-std::numeric_limits<double>::infinity(), 1e-4);
    EXPECT_NEAR(plan.gain * 1e-4, DbToGain(kCeilingDbtp), 1e-9);
    EXPECT_FALSE(plan.limit);
}

TEST(PeakLimiter, PassesQuietSoundUnchangedOnlyDelayed) {
    const std::vector<float> in = Sine(0.5, 0.5, 1000);
    PeakLimiter limiter(2, kRate, DbToGain(-1));
    std::vector<float> out(in.size() + 2 * limiter.Latency());
    size_t frames = limiter.Process(in.data(), in.size() / 2, out.data());
    EXPECT_EQ(frames, in.size() / 2 - limiter.Latency());
    frames += limiter.Drain(out.data() + frames * 2);
    ASSERT_EQ(frames, in.size() / 2);
    for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], in[i]) << "sample " << i;
}

// The render plans from the sample peak; one between the samples is left to the limiter.
TEST(Loudness, PlanFromTheSamplePeakMissesAPeakBetweenTheSamples) {
    const std::vector<float> tone = ToneBetweenSamples(3, 0.5);
    LoudnessMeter meter;
    ASSERT_TRUE(meter.Open(2, kRate, false));
    meter.AddFrames(tone.data(), tone.size() / 2);
    EXPECT_NEAR(meter.SamplePeak(), 0.5 * std::cos(kPi / 8), 1e-6);
    const double gain = DbToGain(kCeilingDbtp - 0.3) / meter.SamplePeak();
    std::vector<float> gained = tone;
    ApplyGainAndFade(gained.data(), gained.size() / 2, 2, 0, gain, INT64_MAX, 0);
    EXPECT_FALSE(PlanNormalisation(-20, meter.SamplePeak(), -20 + 20 * std::log10(gain)).limit);
    EXPECT_GT(Measure(gained).truePeakDb, kCeilingDbtp)
        << "the test tone must pass the ceiling between samples";
    bool acted = false;
    EXPECT_LE(Measure(Limit(gained, &acted)).truePeakDb, kCeilingDbtp);
    EXPECT_TRUE(acted);
}

TEST(PeakLimiter, HoldsASuddenPeakUnderTheCeiling) {
    // Silence, then a full-scale burst: the gain must be down before the burst leaves the delay.
    std::vector<float> in(static_cast<size_t>(kRate) * 2, 0.0f);
    const std::vector<float> burst = Sine(0.2, 1.0, 3000);
    std::copy(burst.begin(), burst.end(), in.begin() + kRate / 2 * 2);
    PeakLimiter limiter(2, kRate, DbToGain(-1));
    std::vector<float> out(in.size() + 2 * limiter.Latency());
    size_t frames = limiter.Process(in.data(), in.size() / 2, out.data());
    frames += limiter.Drain(out.data() + frames * 2);
    out.resize(frames * 2);
    EXPECT_LE(Measure(out).truePeakDb, -1.0);
}

// Songs are handed over in chunks of any size, and most of their frames take a shorter way through
// than those near a peak: neither may change a sample.
TEST(PeakLimiter, OutputDoesNotDependOnTheBlocksItComesIn) {
    std::vector<float> song = PadWithHits(3);
    for (float& v : song) v *= 3.0f;  // hits well past the ceiling, the pad under it
    const std::vector<float> whole = Limit(song);
    for (size_t block : {size_t{1}, size_t{3}, size_t{64}, size_t{1000}, size_t{4096}}) {
        const std::vector<float> split = Limit(song, nullptr, block);
        ASSERT_EQ(split.size(), whole.size());
        size_t differing = 0;
        for (size_t i = 0; i < whole.size(); ++i) differing += split[i] != whole[i];
        EXPECT_EQ(differing, 0u) << "in blocks of " << block << " frames";
    }
}

// After a peak the gain comes back all the way: the quiet sound that follows leaves exactly as it
// came, rather than a hair quieter for the rest of the song.
TEST(PeakLimiter, GainRecoversFullyAfterAPeak) {
    std::vector<float> song = Sine(4, 0.3, 500);
    const std::vector<float> burst = Sine(0.1, 1.5, 3000);
    std::copy(burst.begin(), burst.end(), song.begin());
    bool acted = false;
    const std::vector<float> out = Limit(song, &acted);
    EXPECT_TRUE(acted);
    // The release takes the gain most of the way back within half a second; exactly back within
    // two and a half.
    const size_t from = static_cast<size_t>(2.5 * kRate) * 2;
    size_t differing = 0;
    for (size_t i = from; i < song.size(); ++i) differing += out[i] != song[i];
    EXPECT_EQ(differing, 0u) << "the gain stays at " << out.back() / song.back();
}

TEST(SoundEndTracker, EndsWhereTheTailFallsBelowTheThresholdAfterTheGain) {
    // One second of tone, released at 1 s, then a tail falling 60 dB per second.
    const int64_t release = kRate;
    std::vector<float> s(static_cast<size_t>(4 * kRate) * 2);
    for (size_t i = 0; i < s.size() / 2; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double env = t < 1 ? 0.5 : 0.5 * DbToGain(-60 * (t - 1));
        s[2 * i] = s[2 * i + 1] = static_cast<float>(env * std::sin(2 * kPi * 200 * t));
    }
    struct Case {
        double gainDb;
        double endSeconds;  // where 0.5 * 10^(-60(t-1)/20) * gain reaches -60 dBFS
    };
    const Case cases[] = {{0, 1 + (60 + 20 * std::log10(0.5)) / 60},
                          {12, 1 + (72 + 20 * std::log10(0.5)) / 60}};
    for (const Case& c : cases) {
        SoundEndTracker tracker(2, release, kRate);
        tracker.AddFrames(s.data(), s.size() / 4);  // in two blocks, as a render hands them over
        tracker.AddFrames(s.data() + s.size() / 2, s.size() / 4);
        const double end =
            static_cast<double>(tracker.EndFrame(DbToGain(c.gainDb)) - tracker.FadeFrames()) / kRate;
        EXPECT_NEAR(end, c.endSeconds, 0.02) << "gain " << c.gainDb << " dB";
    }
}

TEST(SoundEndTracker, NeverEndsBeforeTheReleaseNorAfterTheRender) {
    const std::vector<float> silence(static_cast<size_t>(3 * kRate) * 2, 0.0f);
    SoundEndTracker silent(2, kRate, kRate);
    silent.AddFrames(silence.data(), silence.size() / 2);
    EXPECT_EQ(silent.EndFrame(1.0), kRate + silent.FadeFrames()) << "a silent tail ends at the release";

    const std::vector<float> held = Sine(2, 0.5);
    SoundEndTracker sounding(2, 2 * kRate, kRate);  // the note is held to the render's end
    sounding.AddFrames(held.data(), held.size() / 2);
    EXPECT_EQ(sounding.EndFrame(1.0), 2 * kRate);
}

}  // namespace
