#include "synth/metronome.h"

#include <algorithm>
#include <cmath>

namespace {

// The accent a fifth above the beat's tone, both in the range the ear finds sharpest, so the click
// cuts through a piano's sound without being taken for one of its notes.
constexpr double kBeatHz = 1320.0;
constexpr double kAccentHz = 1980.0;
constexpr float kBeatLevel = 0.35f;
constexpr float kAccentLevel = 0.5f;
// The click's tone dies away this fast: a tap, not a beep. It starts at its loudest (a cosine), so
// its very first sample marks the beat.
constexpr double kDecaySeconds = 0.006;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

ClickTrack::ClickTrack(const std::vector<Beat>& beats, double startSeconds, double speed, uint32_t sampleRate,
                       float volume)
    : rate_(sampleRate), volume_(std::clamp(volume, 0.0f, 1.0f)) {
    const double rate = static_cast<double>(sampleRate);
    const double pace = speed > 0 ? speed : 1.0;
    for (const Beat& b : beats) {
        if (b.seconds < startSeconds) continue;
        frames_.push_back(std::llround((b.seconds - startSeconds) / pace * rate));
        accents_.push_back(b.barStart);
    }
}

void ClickTrack::Mix(float* stereo, int64_t frames, int64_t firstFrame) {
    if (!(volume_ > 0)) return;
    const int64_t length = static_cast<int64_t>(kClickSeconds * rate_);
    const int64_t end = firstFrame + frames;
    while (next_ < frames_.size() && frames_[next_] + length <= firstFrame) ++next_;
    for (size_t c = next_; c < frames_.size() && frames_[c] < end; ++c) {
        const double hz = accents_[c] ? kAccentHz : kBeatHz;
        const float level = (accents_[c] ? kAccentLevel : kBeatLevel) * volume_;
        const int64_t from = std::max(firstFrame, frames_[c]);
        const int64_t to = std::min(end, frames_[c] + length);
        for (int64_t f = from; f < to; ++f) {
            const double t = static_cast<double>(f - frames_[c]) / rate_;
            const float v =
                level * static_cast<float>(std::cos(2.0 * kPi * hz * t) * std::exp(-t / kDecaySeconds));
            stereo[(f - firstFrame) * 2] += v;
            stereo[(f - firstFrame) * 2 + 1] += v;
        }
    }
}
