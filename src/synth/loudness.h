// Bringing a rendered song to one loudness without ever clipping it, and finding where its sound
// ends.
//
// The synthesiser renders in floating point, so nothing clips inside the render. The song is then
// measured as a whole (EBU R128 integrated loudness and sample peak, by libebur128) and brought to
// kTargetLufs with one gain. Every sample then goes through a look-ahead limiter that holds the
// true peak under kCeilingDbtp: it leaves sound that stays well under the ceiling exactly as it
// was, and holds down only the peaks the gain would push past it, so a faint piano piece and a
// loud band arrangement come out equally loud. Measuring the true peak first would oversample
// every sample of the song, which costs about as much as synthesising it.
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
    // Without `truePeak` only the loudness and the sample peak are measured, at a fifth of the
    // cost: the true peak oversamples every channel.
    [[nodiscard]] bool Open(unsigned channels, unsigned long sampleRate, bool truePeak = true);
    void AddFrames(const float* interleaved, size_t frames);
    // Integrated loudness in LUFS; -infinity for silence (or nothing measured).
    [[nodiscard]] double IntegratedLufs() const;
    // The highest true peak of any channel so far, as a linear amplitude (1.0 is full scale);
    // 0 when the meter was opened without it.
    [[nodiscard]] double TruePeak() const;
    // The largest magnitude of any sample so far, linear.
    [[nodiscard]] double SamplePeak() const;

  private:
    std::unique_ptr<loudness_detail::MeterState, loudness_detail::DeleteState> state_;
    unsigned channels_ = 0;
    bool truePeak_ = true;
};

// How a measured song is brought to the target: one gain, and whether the limiter will hold peaks
// that the gain pushes past the ceiling.
struct NormalisePlan {
    double gain = 1.0;   // linear
    bool limit = false;  // the limiter holds peaks down (the render corrects it once it has run)
};

// From the song's loudness and its highest peak, a sample peak (or a true peak where one was
// measured): `limit` says whether that peak passes the ceiling after the gain. A sample peak can
// lie under the ceiling while the true peak between the samples passes it; the limiter, which
// every render goes through, holds that down as well. Silence keeps a gain of 1: there is nothing
// to bring up. Sound too faint to measure (below the meter's absolute gate) has its peak brought
// to the ceiling.
[[nodiscard]] NormalisePlan PlanNormalisation(double integratedLufs, double peak,
                                              double targetLufs = kTargetLufs,
                                              double ceilingDbtp = kCeilingDbtp);

// A look-ahead peak limiter for interleaved stereo or mono float frames. The gain falls ahead of a
// peak, so no sample (nor the estimate of the peak between samples) leaves it above the ceiling,
// and recovers over `releaseSeconds`. The output runs `Latency()` frames behind the input; Drain
// hands over what is still held once the input has ended.
//
// Once the gain has recovered fully, sound that stays well under the ceiling leaves it exactly as
// it came, only delayed, and at the cost of a copy: every render of a song goes through it.
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
    // Whether the gain has fallen below 1 at any frame so far.
    [[nodiscard]] bool Acted() const { return acted_; }

  private:
    // A recent frame's wish, by its number, in the queue that finds the window's minimum.
    struct Wish {
        uint32_t frame;
        float gain;
    };

    float PeakEstimate(const float* frame);
    float StepGain(float wanted);
    float Smooth();
    [[nodiscard]] bool Quiet(const float* frame) const;
    size_t StepFrame(const float* frame, float* out);
    size_t PassQuiet(const float* in, size_t frames, float* out, size_t& produced);
    void Delay(const float* frame);

    int channels_;
    size_t lookahead_;
    size_t window_;  // frames of wishes the minimum is taken over, and of the delay line
    float ceiling_;
    float keep_;                  // per-frame share of the distance to full gain that remains
    std::vector<float> delay_;    // window_ frames of input, a ring
    std::vector<float> history_;  // the last three input frames, for the peak estimate
    std::vector<Wish> minQueue_;  // rising wishes of the window, a ring: the front is its minimum
    std::vector<float> average_;  // the last lookahead_ held gains, a ring, for the smoothing
    double averageSum_ = 0;
    size_t minHead_ = 0, minTail_ = 0;  // the queue's ends
    size_t delayAt_ = 0;                // the delay slot the next frame goes into
    size_t averageAt_ = 0;              // the smoothing slot the next gain goes into
    uint64_t written_ = 0;              // frames taken in so far
    float held_ = 1.0f;                 // the minimum after the release
    float distance_ = 0.0f;             // of held_ from full gain
    size_t quietFrames_ = 3;            // input frames in a row, to the last, that are Quiet()
    size_t restFrames_ = 0;             // frames in a row, to the last, at full held gain
    bool acted_ = false;
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
