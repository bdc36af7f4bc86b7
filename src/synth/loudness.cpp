#include "synth/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <limits>

struct loudness_detail::MeterState {
    ebur128_state* st;
};

void loudness_detail::DeleteState::operator()(MeterState* state) const {
    ebur128_destroy(&state->st);
    delete state;
}

// --- The meter ---

bool LoudnessMeter::Open(unsigned channels, unsigned long sampleRate, bool truePeak) {
    // The histogram keeps the meter's memory the same for a song of any length.
    state_.reset();
    const int mode = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM |
                     (truePeak ? EBUR128_MODE_TRUE_PEAK : EBUR128_MODE_SAMPLE_PEAK);
    ebur128_state* st = ebur128_init(channels, sampleRate, mode);
    if (st != nullptr) state_.reset(new loudness_detail::MeterState{st});
    channels_ = state_ ? channels : 0;
    truePeak_ = truePeak;
    return state_ != nullptr;
}

void LoudnessMeter::AddFrames(const float* interleaved, size_t frames) {
    if (state_ && frames > 0) (void)ebur128_add_frames_float(state_->st, interleaved, frames);
}

double LoudnessMeter::IntegratedLufs() const {
    double lufs = -std::numeric_limits<double>::infinity();
    if (!state_ || ebur128_loudness_global(state_->st, &lufs) != EBUR128_SUCCESS) {
        return -std::numeric_limits<double>::infinity();
    }
    return lufs;
}

double LoudnessMeter::TruePeak() const {
    double highest = 0;
    for (unsigned c = 0; state_ && truePeak_ && c < channels_; ++c) {
        double peak = 0;
        if (ebur128_true_peak(state_->st, c, &peak) == EBUR128_SUCCESS) highest = std::max(highest, peak);
    }
    return highest;
}

double LoudnessMeter::SamplePeak() const {
    double highest = 0;
    for (unsigned c = 0; state_ && c < channels_; ++c) {
        double peak = 0;
        if (ebur128_sample_peak(state_->st, c, &peak) == EBUR128_SUCCESS) highest = std::max(highest, peak);
    }
    return highest;
}

NormalisePlan PlanNormalisation(double integratedLufs, double peak, double targetLufs, double ceilingDbtp) {
    NormalisePlan plan;
    if (peak <= 0) return plan;
    if (!std::isfinite(integratedLufs)) {
        // Sound too faint for the meter's absolute gate has no loudness to go by: its peaks are
        // brought to the ceiling instead.
        plan.gain = DbToGain(ceilingDbtp) / peak;
        return plan;
    }
    plan.gain = DbToGain(targetLufs - integratedLufs);
    plan.limit = peak * plan.gain > DbToGain(ceilingDbtp);
    return plan;
}

double RefineGain(double gain, double measuredLufs, double targetLufs) {
    if (!std::isfinite(measuredLufs)) return gain;
    return gain * DbToGain(targetLufs - measuredLufs);
}

// --- The limiter ---
//
// Each frame asks for the gain that keeps it, and the peaks just before and after it, under the
// ceiling. The gain applied to a frame is the mean over `lookahead_` frames of the window minimum
// of those wishes (after the release), and the output is delayed so that every term of that mean
// has already seen the frame's own wish: the gain therefore reaches what the frame needs before it
// leaves, and moves smoothly on the way.

namespace {

// Under the ceiling by a margin: the cubic estimate between samples falls short of the
// oversampled true peak that the meter measures, by up to the overshoot of a sudden step.
constexpr double kEstimateMarginDb = 1.0;

// The highest of a cubic through four samples between the middle two, at quarter steps.
float SegmentPeak(float p0, float p1, float p2, float p3) {
    float peak = 0;
    for (float t : {0.25f, 0.5f, 0.75f}) {
        const float t2 = t * t, t3 = t2 * t;
        const float v = 0.5f * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2 +
                                (-p0 + 3 * p1 - 3 * p2 + p3) * t3);
        peak = std::max(peak, std::fabs(v));
    }
    return peak;
}

}  // namespace

PeakLimiter::PeakLimiter(int channels, double sampleRate, double ceilingLinear, double lookaheadSeconds,
                         double releaseSeconds)
    : channels_(std::max(1, channels)),
      lookahead_(std::max<size_t>(1, static_cast<size_t>(lookaheadSeconds * sampleRate))),
      window_(lookahead_ + 2),
      ceiling_(static_cast<float>(ceilingLinear * DbToGain(-kEstimateMarginDb))),
      keep_(static_cast<float>(std::exp(-1.0 / std::max(1.0, releaseSeconds * sampleRate)))),
      restFrames_(lookahead_) {
    delay_.assign(window_ * static_cast<size_t>(channels_), 0.0f);
    history_.assign(3 * static_cast<size_t>(channels_), 0.0f);
    minQueue_.assign(window_ + 1, Wish{0, 1.0f});
    average_.assign(lookahead_, 1.0f);
    averageSum_ = static_cast<double>(lookahead_);
}

float PeakLimiter::PeakEstimate(const float* frame) {
    // history_ holds the three frames before this one, oldest first.
    float peak = 0;
    for (int c = 0; c < channels_; ++c) {
        const float p0 = history_[static_cast<size_t>(c)];
        const float p1 = history_[static_cast<size_t>(channels_ + c)];
        const float p2 = history_[static_cast<size_t>(2 * channels_ + c)];
        const float p3 = frame[c];
        const float sampled = std::max({std::fabs(p0), std::fabs(p1), std::fabs(p2), std::fabs(p3)});
        // The cubic's weights add up, in magnitude, to at most 1.25 between the middle samples, so
        // the curve of samples that far under the ceiling cannot reach it: most frames of a song
        // need no curve at all.
        peak = std::max(peak, sampled * 1.25f <= ceiling_
                                  ? std::fabs(p3)
                                  : std::max(std::fabs(p3), SegmentPeak(p0, p1, p2, p3)));
    }
    std::copy(history_.begin() + channels_, history_.end(), history_.begin());
    std::copy(frame, frame + channels_, history_.end() - channels_);
    return peak;
}

float PeakLimiter::StepGain(float wanted) {
    // Frame numbers wrap at 32 bits; the window is far shorter, so their differences stay right.
    const auto n = static_cast<uint32_t>(written_);
    // The queue holds the window's wishes rising from front to back; the front is its minimum.
    const size_t size = minQueue_.size();
    while (minTail_ != minHead_) {
        const size_t last = minTail_ == 0 ? size - 1 : minTail_ - 1;
        if (minQueue_[last].gain < wanted) break;
        minTail_ = last;
    }
    minQueue_[minTail_] = {n, wanted};
    if (++minTail_ == size) minTail_ = 0;
    const uint32_t oldest = n - static_cast<uint32_t>(window_) + 1;
    while (static_cast<int32_t>(minQueue_[minHead_].frame - oldest) < 0) {
        if (++minHead_ == size) minHead_ = 0;
    }
    const float minimum = minQueue_[minHead_].gain;
    // The way back to full gain shrinks by `keep_` a frame. It is kept as a distance, which a
    // float holds finely near 1, so that the gain reaches exactly 1, where the limiter passes
    // sound through untouched; as a gain it would stop short, a hair under 1 for good.
    distance_ = std::max(1.0f - minimum, distance_ * keep_);
    held_ = 1.0f - distance_;
    return Smooth();
}

// The gain for the frame leaving: the mean of the last lookahead_ held gains.
float PeakLimiter::Smooth() {
    acted_ = acted_ || held_ < 1.0f;
    float& slot = average_[averageAt_];
    if (++averageAt_ == lookahead_) averageAt_ = 0;
    averageSum_ += static_cast<double>(held_) - static_cast<double>(slot);
    slot = held_;
    if (held_ < 1.0f) {
        restFrames_ = 0;
    } else if (++restFrames_ == lookahead_) {
        // Every gain averaged is 1 now: the sum is made exact again, whatever rounding it gathered
        // on the way, so that the gain is exactly 1.
        averageSum_ = static_cast<double>(lookahead_);
    }
    return static_cast<float>(averageSum_ / static_cast<double>(lookahead_));
}

// The cubic's weights add up, in magnitude, to at most 1.25 between the middle samples, so a frame
// whose samples are this far under the ceiling, after three such frames, wishes for full gain: the
// test is the one PeakEstimate makes.
bool PeakLimiter::Quiet(const float* frame) const {
    for (int c = 0; c < channels_; ++c) {
        if (!(std::fabs(frame[c]) * 1.25f <= ceiling_)) return false;
    }
    return true;
}

// Puts a frame into the delay line; the frame leaving is the one Latency() frames back, in the
// slot to be written next.
void PeakLimiter::Delay(const float* frame) {
    const size_t ch = static_cast<size_t>(channels_);
    std::copy(frame, frame + ch, delay_.begin() + static_cast<ptrdiff_t>(delayAt_ * ch));
    if (++delayAt_ == window_) delayAt_ = 0;
    ++written_;
}

size_t PeakLimiter::StepFrame(const float* frame, float* out) {
    quietFrames_ = Quiet(frame) ? quietFrames_ + 1 : 0;
    const float peak = PeakEstimate(frame);
    const float gain = StepGain(peak > ceiling_ ? ceiling_ / peak : 1.0f);
    Delay(frame);
    if (written_ <= Latency()) return 0;
    const size_t ch = static_cast<size_t>(channels_);
    const float* old = delay_.data() + delayAt_ * ch;
    for (size_t c = 0; c < ch; ++c) out[c] = old[c] * gain;
    return 1;
}

// Once every wish in the window is for full gain (the last window_ + 2 frames were quiet, or the
// gain is back at 1, which it reaches only then), each quiet frame wishes for full gain as well:
// the minimum of the window is 1, and the gain only recovers, or stays at exactly 1. This does
// what StepFrame would, without the estimate and the queue; at rest a frame leaves as it came. It
// takes the quiet frames at the front of `in` and returns how many; `produced` counts the frames
// written to `out`.
size_t PeakLimiter::PassQuiet(const float* in, size_t frames, float* out, size_t& produced) {
    const size_t ch = static_cast<size_t>(channels_);
    size_t taken = 0;
    produced = 0;
    for (; taken < frames && Quiet(in + taken * ch); ++taken) {
        float gain = 1.0f;
        if (restFrames_ < lookahead_) {
            distance_ *= keep_;
            held_ = 1.0f - distance_;
            gain = Smooth();
        } else {
            // Every held gain averaged is 1: the mean stays exactly 1 wherever the ring stands.
            ++restFrames_;
            if (++averageAt_ == lookahead_) averageAt_ = 0;
        }
        Delay(in + taken * ch);
        if (written_ > Latency()) {
            const float* old = delay_.data() + delayAt_ * ch;
            for (size_t c = 0; c < ch; ++c) out[produced * ch + c] = old[c] * gain;
            ++produced;
        }
    }
    if (taken == 0) return 0;
    quietFrames_ += taken;
    // Each of these frames wished for full gain, so the queue holds the last alone.
    minHead_ = 0;
    minTail_ = 1;
    minQueue_[0] = {static_cast<uint32_t>(written_ - 1), 1.0f};
    const size_t kept = taken >= 3 ? 0 : 3 - taken;
    std::copy(history_.end() - static_cast<ptrdiff_t>(kept * ch), history_.end(), history_.begin());
    std::copy(in + (taken - (3 - kept)) * ch, in + taken * ch,
              history_.begin() + static_cast<ptrdiff_t>(kept * ch));
    return taken;
}

size_t PeakLimiter::Process(const float* in, size_t frames, float* out) {
    const size_t ch = static_cast<size_t>(channels_);
    size_t produced = 0;
    for (size_t i = 0; i < frames;) {
        if (quietFrames_ >= 3 && (restFrames_ >= lookahead_ || quietFrames_ >= window_ + 2)) {
            size_t made = 0;
            const size_t taken = PassQuiet(in + i * ch, frames - i, out + produced * ch, made);
            produced += made;
            i += taken;
            if (taken > 0) continue;
        }
        produced += StepFrame(in + i * ch, out + produced * ch);
        ++i;
    }
    return produced;
}

size_t PeakLimiter::Drain(float* out) {
    // Silence pushes the held frames out; as many come out as went in, up to the delay.
    const std::vector<float> silence(static_cast<size_t>(channels_), 0.0f);
    size_t produced = 0;
    for (size_t i = 0; i < Latency(); ++i) {
        produced += Process(silence.data(), 1, out + produced * static_cast<size_t>(channels_));
    }
    return produced;
}

// --- The end of the sound ---

SoundEndTracker::SoundEndTracker(int channels, int64_t releaseFrame, int sampleRate)
    : channels_(std::max(1, channels)),
      release_(std::max<int64_t>(0, releaseFrame)),
      blockFrames_(std::max(1, sampleRate / 100)),
      fadeFrames_(static_cast<int64_t>(kEndFadeSeconds * sampleRate)) {}

void SoundEndTracker::AddFrames(const float* interleaved, size_t frames) {
    for (size_t i = 0; i < frames; ++i, ++seen_) {
        if (seen_ < release_) continue;
        for (int c = 0; c < channels_; ++c) {
            blockPeak_ =
                std::max(blockPeak_,
                         std::fabs(interleaved[i * static_cast<size_t>(channels_) + static_cast<size_t>(c)]));
        }
        if ((seen_ - release_ + 1) % blockFrames_ == 0) {
            tailPeaks_.push_back(blockPeak_);
            blockPeak_ = 0;
        }
    }
}

void SoundEndTracker::SetRelease(int64_t releaseFrame) {
    if (!tailPeaks_.empty() || seen_ > release_) return;
    release_ = std::max(seen_, releaseFrame);
    blockPeak_ = 0;
}

int64_t SoundEndTracker::EndFrame(double gain) const {
    const double threshold = DbToGain(kEndThresholdDbfs);
    int64_t soundEnd = release_;
    const size_t whole = tailPeaks_.size();
    for (size_t b = whole + 1; b-- > 0;) {
        const float peak = b < whole ? tailPeaks_[b] : blockPeak_;
        if (static_cast<double>(peak) * gain >= threshold) {
            soundEnd = release_ + static_cast<int64_t>(b + 1) * blockFrames_;
            break;
        }
    }
    return std::min(seen_, soundEnd + fadeFrames_);
}

void ApplyGainAndFade(float* interleaved, size_t frames, int channels, int64_t first, double gain,
                      int64_t fadeStart, int64_t fadeFrames) {
    const size_t ch = static_cast<size_t>(std::max(1, channels));
    // The frames before the fade take the gain alone: nearly all of a song, in a loop of its own.
    // A gain of 1 leaves every float as it is.
    const size_t plain = first >= fadeStart
                             ? 0
                             : static_cast<size_t>(std::min<uint64_t>(
                                   frames, static_cast<uint64_t>(fadeStart) - static_cast<uint64_t>(first)));
    if (gain != 1.0) {
        for (size_t i = 0; i < plain * ch; ++i) interleaved[i] = static_cast<float>(interleaved[i] * gain);
    }
    for (size_t i = plain; i < frames; ++i) {
        const int64_t at = first + static_cast<int64_t>(i);
        const double left = fadeFrames > 0 ? static_cast<double>(fadeStart + fadeFrames - at) /
                                                 static_cast<double>(fadeFrames)
                                           : 0.0;
        const double g = gain * std::clamp(left, 0.0, 1.0);
        for (size_t c = 0; c < ch; ++c)
            interleaved[i * ch + c] = static_cast<float>(interleaved[i * ch + c] * g);
    }
}
