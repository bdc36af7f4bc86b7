#include "synth/stream_playback.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kChannels = RenderStream::kChannels;
// The gain follows the song's (estimated) gain with this time constant: fast enough to settle
// within a few seconds of a new estimate, slow enough that no step is heard.
constexpr double kGainSeconds = 0.5;
// The volume moves from silence to full in this long, in a straight line: a step of the control is
// heard at once, without a click, and silence is silence.
constexpr double kVolumeSeconds = 0.02;
// Frames read from the stream at a time.
constexpr size_t kReadFrames = 4096;
// The end of a loop fades into the frames before its start over this many frames (about 6 ms).
constexpr int64_t kLoopBlendFrames = 256;

}  // namespace

StreamPlayback::StreamPlayback(std::shared_ptr<const RenderStream> stream, StreamTimeline timeline)
    : stream_(std::move(stream)), timeline_(timeline) {
    if (!(timeline_.speed > 0)) timeline_.speed = 1.0;
    in_.resize(kReadFrames * kChannels);
    out_.resize(kReadFrames * kChannels);
    blend_.resize(kReadFrames * kChannels);
    Seek(0);
}

void StreamPlayback::Seek(int64_t frame) {
    const double rate = stream_->SampleRate();
    limiter_ = std::make_unique<PeakLimiter>(kChannels, rate, DbToGain(kCeilingDbtp));
    position_ = timeline_.StreamFrame(std::max<int64_t>(frame, 0));
    from_ = position_;
    readAt_ = position_;
    gain_ = stream_->Gain();
    readyFrames_ = 0;
    primed_ = false;
}

void StreamPlayback::SetLoop(const PlaybackLoop& loop) {
    songLoop_ = loop.Active() ? loop : PlaybackLoop{};
    loop_ = {};
    if (songLoop_.Active()) loop_ = {timeline_.StreamFrame(loop.start), timeline_.StreamFrame(loop.end)};
}

// Reads `frames` frames at readAt_ (silence where nothing is rendered or the song has ended),
// applies the gain and passes them through the limiter into ready_.
void StreamPlayback::Feed(size_t frames) {
    const double rate = stream_->SampleRate();
    const double target = stream_->Gain();
    const double step = 1.0 - std::exp(-1.0 / (kGainSeconds * rate));
    while (frames > 0) {
        // A read stops at the loop's end: what follows comes from its start.
        size_t n = std::min(frames, kReadFrames);
        const int64_t song = loop_.FrameAfter(from_, readAt_ - from_);
        if (loop_.Active() && from_ < loop_.end)
            n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), loop_.end - song));
        ReadSong(song, in_.data(), n);
        for (size_t i = 0; i < n; ++i) {
            gain_ += (target - gain_) * step;
            const auto g = static_cast<float>(gain_);
            in_[2 * i] *= g;
            in_[2 * i + 1] *= g;
        }
        const size_t made = limiter_->Process(in_.data(), n, out_.data());
        ready_.resize((readyFrames_ + made) * kChannels);
        std::copy(out_.begin(), out_.begin() + static_cast<ptrdiff_t>(made * kChannels),
                  ready_.begin() + static_cast<ptrdiff_t>(readyFrames_ * kChannels));
        readyFrames_ += made;
        readAt_ += static_cast<int64_t>(n);
        frames -= n;
    }
}

void StreamPlayback::ReadSong(int64_t frame, float* out, size_t frames) {
    const int64_t end = stream_->EndFrame();
    size_t got = 0;
    if (end < 0 || frame < end) {
        const size_t wanted = end < 0 ? frames : static_cast<size_t>(std::min<int64_t>(frames, end - frame));
        got = stream_->Read(frame, out, wanted);
    }
    std::fill(out + got * kChannels, out + frames * kChannels, 0.0f);
    if (!loop_.Active() || from_ >= loop_.end) return;
    // The last frames before the loop's end fade into the frames just before its start, so that
    // the frame after the end (the start) follows on from what was heard.
    const int64_t blend = std::min(kLoopBlendFrames, loop_.start);
    const int64_t first = std::max(frame, loop_.end - blend);
    const int64_t last = std::min(frame + static_cast<int64_t>(frames), loop_.end);
    if (blend <= 0 || first >= last) return;
    const auto count = static_cast<size_t>(last - first);
    const int64_t source = loop_.start - (loop_.end - first);
    const size_t read = stream_->Read(source, blend_.data(), count);
    std::fill(blend_.begin() + static_cast<ptrdiff_t>(read * kChannels),
              blend_.begin() + static_cast<ptrdiff_t>(count * kChannels), 0.0f);
    for (size_t i = 0; i < count; ++i) {
        const int64_t at = first + static_cast<int64_t>(i);
        const float w = static_cast<float>(at - (loop_.end - blend) + 1) / static_cast<float>(blend + 1);
        float* o = out + static_cast<size_t>(at - frame) * kChannels;
        for (int c = 0; c < kChannels; ++c)
            o[c] = o[c] * (1.0f - w) + blend_[i * kChannels + static_cast<size_t>(c)] * w;
    }
}

size_t StreamPlayback::Fill(int16_t* out, size_t frames, float volume) {
    if (!primed_) {
        // The limiter holds Latency() frames before the first comes out. They are taken in at the
        // first fill, not at the seek: the render may have reached them only since.
        Feed(limiter_->Latency());
        primed_ = true;
    }
    if (readyFrames_ < frames) Feed(frames - readyFrames_);
    const int64_t end = stream_->EndFrame();
    const int64_t fade = stream_->FadeFrames();
    const double rate = stream_->SampleRate();
    const auto volumeStep = static_cast<float>(1.0 / (kVolumeSeconds * rate));
    const float wantedVolume = std::clamp(volume, 0.0f, 1.0f);
    size_t songFrames = frames;
    for (size_t i = 0; i < frames; ++i) {
        const int64_t frame = loop_.FrameAfter(from_, position_ - from_ + static_cast<int64_t>(i));
        float scale = 1.0f;
        if (end >= 0) {
            if (frame >= end) {
                scale = 0.0f;
                songFrames = std::min(songFrames, i);
            } else if (fade > 0 && frame >= end - fade) {
                // The render's own fade: the same frames fall to silence in the same way.
                scale = static_cast<float>(end - frame) / static_cast<float>(fade);
            }
        }
        volume_ = wantedVolume > volume_ ? std::min(wantedVolume, volume_ + volumeStep)
                                         : std::max(wantedVolume, volume_ - volumeStep);
        scale *= volume_;
        for (int c = 0; c < kChannels; ++c) {
            const float value = ready_[i * kChannels + static_cast<size_t>(c)] * scale;
            const long whole = std::lrintf(value * 32768.0f);
            out[i * kChannels + static_cast<size_t>(c)] =
                static_cast<int16_t>(std::clamp(whole, -32767L, 32767L));
        }
    }
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<ptrdiff_t>(frames * kChannels));
    readyFrames_ -= frames;
    position_ += static_cast<int64_t>(frames);
    return songFrames;
}
