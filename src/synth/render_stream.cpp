#include "synth/render_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

RenderStream::RenderStream(std::unique_ptr<RenderFile> scratch, uint32_t sampleRate, int64_t expectedFrames)
    : scratch_(std::move(scratch)),
      sampleRate_(sampleRate),
      expectedFrames_(std::max<int64_t>(expectedFrames, 1)),
      framesPerColumn_(std::max<int64_t>(1, (expectedFrames_ + kOverviewColumns - 1) / kOverviewColumns)),
      columns_(std::make_unique<Column[]>(kOverviewColumns)) {}

void RenderStream::Append(const float* interleaved, size_t frames) {
    const int64_t first = ready_.load(std::memory_order_relaxed);
    // The frames go column by column: the extremes of each stretch are found without the lock, in
    // a loop over plain floats, and only merged under it. Frames past the expected length gather
    // in the last column.
    for (size_t i = 0; i < frames;) {
        const int64_t at = first + static_cast<int64_t>(i);
        const int64_t column = std::min<int64_t>(at / framesPerColumn_, kOverviewColumns - 1);
        const size_t n =
            column == kOverviewColumns - 1
                ? frames - i
                : std::min<size_t>(frames - i, static_cast<size_t>((column + 1) * framesPerColumn_ - at));
        Column stretch;
        stretch.minLeft = stretch.maxLeft = interleaved[2 * i];
        stretch.minRight = stretch.maxRight = interleaved[2 * i + 1];
        for (size_t k = i + 1; k < i + n; ++k) {
            const float left = interleaved[2 * k];
            const float right = interleaved[2 * k + 1];
            stretch.minLeft = std::min(stretch.minLeft, left);
            stretch.maxLeft = std::max(stretch.maxLeft, left);
            stretch.minRight = std::min(stretch.minRight, right);
            stretch.maxRight = std::max(stretch.maxRight, right);
        }
        {
            const std::lock_guard lock(overviewMutex_);
            Column& into = columns_[static_cast<size_t>(column)];
            into.minLeft = std::min(into.minLeft, stretch.minLeft);
            into.maxLeft = std::max(into.maxLeft, stretch.maxLeft);
            into.minRight = std::min(into.minRight, stretch.minRight);
            into.maxRight = std::max(into.maxRight, stretch.maxRight);
        }
        i += n;
    }
    ready_.store(first + static_cast<int64_t>(frames), std::memory_order_release);
}

void RenderStream::EstimateGain(double gain) {
    if (!Completed() && std::isfinite(gain) && gain > 0) gain_.store(gain, std::memory_order_release);
}

void RenderStream::Complete(double gain, int64_t endFrame, int64_t fadeFrames) {
    endFrame_.store(std::clamp<int64_t>(endFrame, 0, ReadyFrames()));
    fadeFrames_.store(std::max<int64_t>(fadeFrames, 0));
    if (std::isfinite(gain) && gain > 0) gain_.store(gain, std::memory_order_release);
    state_.store(State::Complete, std::memory_order_release);
}

void RenderStream::Abandon() {
    State expected = State::Rendering;
    state_.compare_exchange_strong(expected, State::Abandoned, std::memory_order_acq_rel);
}

size_t RenderStream::Read(int64_t frame, float* out, size_t frames) const {
    constexpr size_t kFrameBytes = sizeof(float) * kChannels;
    const int64_t ready = ReadyFrames();
    if (frame < 0 || frame >= ready) return 0;
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(frames), ready - frame));
    auto* bytes = reinterpret_cast<uint8_t*>(out);
    const size_t size = wanted * kFrameBytes;
    size_t have = 0;
    while (have < size) {
        const ssize_t n = pread(scratch_->fd(), bytes + have, size - have,
                                static_cast<off_t>(static_cast<uint64_t>(frame) * kFrameBytes + have));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += static_cast<size_t>(n);
    }
    return have / kFrameBytes;
}

float RenderStream::RenderedShare() const {
    if (Over()) return 1.0f;
    return static_cast<float>(
        std::min(1.0, static_cast<double>(ReadyFrames()) / static_cast<double>(expectedFrames_)));
}

void RenderStream::TakeOverview(AudioOverview& overview) const {
    const double gain = Gain();
    const auto sample = [gain](float value) {
        return static_cast<int16_t>(std::clamp(std::lround(value * gain * 32767.0), -32767L, 32767L));
    };
    overview.wavSampleRate = sampleRate_;
    overview.wavChannels = kChannels;
    overview.wavDataBytes = static_cast<uint32_t>(
        std::min<int64_t>(ReadyFrames() * kChannels * 2, static_cast<int64_t>(UINT32_MAX)));
    const std::lock_guard lock(overviewMutex_);
    for (size_t i = 0; i < static_cast<size_t>(kOverviewColumns); ++i) {
        const Column& column = columns_[i];
        overview.overviewMinLeft[i] = sample(column.minLeft);
        overview.overviewMaxLeft[i] = sample(column.maxLeft);
        overview.overviewMinRight[i] = sample(column.minRight);
        overview.overviewMaxRight[i] = sample(column.maxRight);
    }
}
