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
    const int mode = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM | (truePeak ? EBUR128_MODE_TRUE_PEAK : 0);
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

NormalisePlan PlanNormalisation(double integratedLufs, double truePeak, double targetLufs,
                                double ceilingDbtp) {
    NormalisePlan plan;
    if (truePeak <= 0) return plan;
    if (!std::isfinite(integratedLufs)) {
        // Sound too faint for the meter's absolute gate has no loudness to go by: its peaks are
        // brought to the ceiling instead.
        plan.gain = DbToGain(ceilingDbtp) / truePeak;
        return plan;
    }
    plan.gain = DbToGain(targetLufs - integratedLufs);
    plan.limit = truePeak * plan.gain > DbToGain(ceilingDbtp);
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
      ceiling_(static_cast<float>(ceilingLinear * DbToGain(-kEstimateMarginDb))),
      release_(static_cast<float>(1.0 - std::exp(-1.0 / std::max(1.0, releaseSeconds * sampleRate)))) {
    const size_t window = lookahead_ + 2;
    delay_.assign(window * static_cast<size_t>(channels_), 0.0f);
    wanted_.assign(window, 1.0f);
    history_.assign(3 * static_cast<size_t>(channels_), 0.0f);
    minQueue_.assign(window + 1, 0);
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
    const size_t window = wanted_.size();
    const uint32_t n = static_cast<uint32_t>(written_ % (uint64_t{1} << 31));
    wanted_[written_ % window] = wanted;
    // The queue holds indexes of the window whose wishes rise from front to back; the front is
    // the window's minimum.
    const size_t qsize = minQueue_.size();
    auto wantedAt = [&](uint32_t i) { return wanted_[i % window]; };
    while (minTail_ != minHead_ && wantedAt(minQueue_[(minTail_ + qsize - 1) % qsize]) >= wanted) {
        minTail_ = (minTail_ + qsize - 1) % qsize;
    }
    minQueue_[minTail_] = n;
    minTail_ = (minTail_ + 1) % qsize;
    const uint32_t oldest = n >= window ? n - static_cast<uint32_t>(window) + 1 : 0;
    while (static_cast<int32_t>(minQueue_[minHead_] - oldest) < 0) minHead_ = (minHead_ + 1) % qsize;
    const float minimum = wantedAt(minQueue_[minHead_]);

    held_ = std::min(minimum, held_ + (1.0f - held_) * release_);
    float& slot = average_[written_ % lookahead_];
    averageSum_ += static_cast<double>(held_) - static_cast<double>(slot);
    slot = held_;
    return static_cast<float>(averageSum_ / static_cast<double>(lookahead_));
}

size_t PeakLimiter::Process(const float* in, size_t frames, float* out) {
    const size_t window = wanted_.size();
    const size_t ch = static_cast<size_t>(channels_);
    size_t produced = 0;
    for (size_t i = 0; i < frames; ++i) {
        const float* frame = in + i * ch;
        const float peak = PeakEstimate(frame);
        const float gain = StepGain(peak > ceiling_ ? ceiling_ / peak : 1.0f);
        std::copy(frame, frame + ch, delay_.begin() + static_cast<ptrdiff_t>((written_ % window) * ch));
        ++written_;
        // The frame leaving is the one Latency() frames back; its slot is the next to be written.
        if (written_ > Latency()) {
            const float* old = delay_.data() + (written_ % window) * ch;
            for (size_t c = 0; c < ch; ++c) out[produced * ch + c] = old[c] * gain;
            ++produced;
        }
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
    for (size_t i = 0; i < frames; ++i) {
        const int64_t at = first + static_cast<int64_t>(i);
        double g = gain;
        if (at >= fadeStart) {
            const double left = fadeFrames > 0 ? static_cast<double>(fadeStart + fadeFrames - at) /
                                                     static_cast<double>(fadeFrames)
                                               : 0.0;
            g *= std::clamp(left, 0.0, 1.0);
        }
        for (size_t c = 0; c < ch; ++c)
            interleaved[i * ch + c] = static_cast<float>(interleaved[i * ch + c] * g);
    }
}
