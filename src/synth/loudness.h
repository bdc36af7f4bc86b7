// Bringing a rendered song to one loudness without ever clipping it, and finding where its sound
// ends.
//
// The synthesiser renders in floating point, so nothing clips inside the render. The song is then
// measured as a whole (EBU R128 integrated loudness and true peak, by libebur128) and brought to
// kTargetLufs with one gain. Where that gain would take the true peak above kCeilingDbtp, a
// look-ahead limiter holds the peaks down instead of the whole song, so a faint piano piece and a
// loud band arrangement come out equally loud.
//
// The song ends when its sound does: past the release of its last note, at the last moment its
// level, after the gain, is at or above kEndThresholdDbfs, followed by a short fade. The tracker
// keeps only the peaks of the tail, so a song of any length costs a few kilobytes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

inline constexpr double kTargetLufs = -16.0;
inline constexpr double kCeilingDbtp = -1.0;
inline constexpr double kEndThresholdDbfs = -60.0;
inline constexpr double kEndFadeSeconds = 0.25;

namespace loudness_detail {
struct MeterState;  // libebur128's state, whose type has no name to declare here
struct DeleteState {
    void operator()(MeterState* state) const;
};
}  // namespace loudness_detail

// EBU R128 measures of interleaved float frames, fed in blocks as they are rendered.
class LoudnessMeter {
  public:
    // False when libebur128 refuses the format (no channels, no rate) or runs out of memory.
    // Without `truePeak` only the loudness is measured, at a fraction of the cost: the true peak
    // oversamples every channel.
    [[nodiscard]] bool Open(unsigned channels, unsigned long sampleRate, bool truePeak = true);
    void AddFrames(const float* interleaved, size_t frames);
    // Integrated loudness in LUFS; -infinity for silence (or nothing measured).
    [[nodiscard]] double IntegratedLufs() const;
    // The highest true peak of any channel so far, as a linear amplitude (1.0 is full scale).
    [[nodiscard]] double TruePeak() const;

  private:
    std::unique_ptr<loudness_detail::MeterState, loudness_detail::DeleteState> state_;
    unsigned channels_ = 0;
    bool truePeak_ = true;
};

// How a measured song is brought to the target: one gain, and whether the limiter must hold the
// peaks that the gain would push past the ceiling.
struct NormalisePlan {
    double gain = 1.0;   // linear
    bool limit = false;  // the peaks after the gain would pass the ceiling
};

// Silence keeps a gain of 1: there is nothing to bring up. Sound too faint to measure (below the
// meter's absolute gate) has its true peak brought to the ceiling.
[[nodiscard]] NormalisePlan PlanNormalisation(double integratedLufs, double truePeak,
                                              double targetLufs = kTargetLufs,
                                              double ceilingDbtp = kCeilingDbtp);

// A look-ahead peak limiter for interleaved stereo or mono float frames. The gain falls ahead of a
// peak, so no sample (nor the estimate of the peak between samples) leaves it above the ceiling,
// and recovers over `releaseSeconds`. The output runs `Latency()` frames behind the input; Drain
// hands over what is still held once the input has ended.
class PeakLimiter {
  public:
    PeakLimiter(int channels, double sampleRate, double ceilingLinear, double lookaheadSeconds = 0.005,
                double releaseSeconds = 0.1);

    [[nodiscard]] size_t Latency() const { return lookahead_ + 1; }
    // Takes `frames` frames and writes as many to `out` as leave the delay line: `frames` once it
    // has filled, fewer at the start. Returns the frames written.
    size_t Process(const float* in, size_t frames, float* out);
    // The frames still held after the last input; returns how many were written (at most Latency()).
    size_t Drain(float* out);

  private:
    float PeakEstimate(const float* frame);
    float StepGain(float wanted);

    int channels_;
    size_t lookahead_;
    float ceiling_;
    float release_;                   // per-frame share of the way back to full gain
    std::vector<float> delay_;        // Latency() + 1 frames of input, a ring
    std::vector<float> wanted_;       // the gain each recent frame needs, a ring of the same size
    std::vector<float> history_;      // the last three input frames, for the peak estimate
    std::vector<uint32_t> minQueue_;  // indexes of falling `wanted` values: the window's minimum
    std::vector<float> average_;      // the last lookahead_ held gains, a ring, for the smoothing
    double averageSum_ = 0;
    size_t minHead_ = 0, minTail_ = 0;
    uint64_t written_ = 0;  // frames taken in so far
    float held_ = 1.0f;     // the minimum after the release
};

// Where the sound of a song ends. Feed every rendered block in order; `releaseFrame` is where
// the song's last note has been released (its sound then fades on its own).
class SoundEndTracker {
  public:
    SoundEndTracker(int channels, int64_t releaseFrame, int sampleRate);
    void AddFrames(const float* interleaved, size_t frames);
    // Moves the release, for a song whose last release is known only once it has been rendered
    // up to it: the tracker was made with a release past anything it could see. The release never
    // moves before the frames already seen.
    void SetRelease(int64_t releaseFrame);
    // The frame at which the song ends once `gain` is applied: the end of the last 10 ms block
    // past the release whose peak reaches the threshold, plus the fade; never before the release,
    // never past the frames rendered.
    [[nodiscard]] int64_t EndFrame(double gain) const;
    [[nodiscard]] int64_t FadeFrames() const { return fadeFrames_; }
    [[nodiscard]] int64_t FramesSeen() const { return seen_; }

  private:
    int channels_;
    int64_t release_;
    int64_t blockFrames_;
    int64_t fadeFrames_;
    int64_t seen_ = 0;
    std::vector<float> tailPeaks_;  // one per block from the release on
    float blockPeak_ = 0;
};

// Applies `gain` and, over the frames [fadeStart, fadeStart + fadeFrames), a fade to silence, to
// interleaved frames that start at song frame `first`.
void ApplyGainAndFade(float* interleaved, size_t frames, int channels, int64_t first, double gain,
                      int64_t fadeStart, int64_t fadeFrames);

// The limiter takes some loudness with the peaks it holds. A pass with the limiter measures what
// came out; the next pass uses this gain, which makes up what the limiter took.
[[nodiscard]] double RefineGain(double gain, double measuredLufs, double targetLufs = kTargetLufs);

[[nodiscard]] inline double DbToGain(double db) {
    return std::pow(10.0, db / 20.0);
}
