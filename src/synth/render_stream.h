// The song's sound as far as it has been rendered, for playing while the render runs on ahead.
//
// The normalised render writes the synthesiser's float output, unclipped, into a scratch file; the
// stream owns that file and says how much of it is there. The render's threads append to it and,
// once the synthesis is over, say how loud the song is to be and where it ends; the player reads
// from any place already rendered, at the same time, on a thread of its own. The file stays as
// long as anybody holds the stream, so a song keeps playing from it after its render has ended.
//
// Until the song has been measured whole, the gain it will be brought to is estimated from what
// has been rendered so far, and the waveform overview of the time bar is gathered as the frames
// come, over the length the song is expected to have.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/audio_overview.h"
#include "synth/render_file.h"

class RenderStream {
  public:
    static constexpr int kChannels = 2;

    // Takes over `scratch`, empty, into which the render writes its stereo float frames at
    // `sampleRate`; `expectedFrames` is the length the overview is gathered over (the song's
    // length as read, or a guess), at least one.
    RenderStream(std::unique_ptr<RenderFile> scratch, uint32_t sampleRate, int64_t expectedFrames);
    RenderStream(const RenderStream&) = delete;
    RenderStream& operator=(const RenderStream&) = delete;

    [[nodiscard]] int Fd() const { return scratch_->fd(); }
    [[nodiscard]] uint32_t SampleRate() const { return sampleRate_; }

    // The song's gain is `source`'s from now on, whatever this stream is told: a part of the song
    // rendered again (slower, or with parts silent) plays as loud as the whole song's render. Set
    // before the stream is shared.
    void FollowGainOf(std::shared_ptr<const RenderStream> source) { gainSource_ = std::move(source); }

    // --- The render's side.
    // `frames` more frames, `interleaved`, are in the file now and may be read.
    void Append(const float* interleaved, size_t frames);
    // The gain the song would be brought to if it ended here.
    void EstimateGain(double gain);
    // The song is rendered: its gain, and where its sound ends with the fade before that end.
    void Complete(double gain, int64_t endFrame, int64_t fadeFrames);
    // No more frames will come, and the song has no end to go by: the render failed or was stopped.
    void Abandon();

    // --- The player's side; any thread.
    [[nodiscard]] int64_t ReadyFrames() const { return ready_.load(std::memory_order_acquire); }
    [[nodiscard]] bool Completed() const { return state_.load(std::memory_order_acquire) == State::Complete; }
    // Complete or abandoned: what is ready is all there will be.
    [[nodiscard]] bool Over() const { return state_.load(std::memory_order_acquire) != State::Rendering; }
    // Where the song ends, once complete; before that, -1.
    [[nodiscard]] int64_t EndFrame() const { return Completed() ? endFrame_.load() : -1; }
    [[nodiscard]] int64_t FadeFrames() const { return Completed() ? fadeFrames_.load() : 0; }
    // The song's gain once complete; before that, the estimate (1 until there is one).
    [[nodiscard]] double Gain() const {
        return gainSource_ ? gainSource_->Gain() : gain_.load(std::memory_order_acquire);
    }
    // Reads up to `frames` frames from `frame` on into `out`; returns how many were ready. What
    // could not be read (not yet rendered, or a failed read) is not written.
    size_t Read(int64_t frame, float* out, size_t frames) const;

    // --- The overview, for the time bar.
    // The share of the expected length rendered so far, 0 to 1; 1 once complete.
    [[nodiscard]] float RenderedShare() const;
    // The overview of what has been rendered, at the gain the song is brought to (or its
    // estimate); columns not yet rendered are flat.
    void TakeOverview(AudioOverview& overview) const;

  private:
    enum class State : uint8_t { Rendering, Complete, Abandoned };

    std::unique_ptr<RenderFile> scratch_;
    const uint32_t sampleRate_;
    const int64_t expectedFrames_;
    const int64_t framesPerColumn_;
    std::atomic<int64_t> ready_{0};
    std::atomic<State> state_{State::Rendering};
    std::atomic<double> gain_{1.0};
    std::shared_ptr<const RenderStream> gainSource_;
    // Written before the state turns Complete; a second pass of the render may move them again.
    std::atomic<int64_t> endFrame_{-1};
    std::atomic<int64_t> fadeFrames_{0};

    // Per column, the lowest and highest float of each channel; guarded by the mutex.
    mutable std::mutex overviewMutex_;
    struct Column {
        float minLeft = 0, maxLeft = 0, minRight = 0, maxRight = 0;
    };
    std::unique_ptr<Column[]> columns_;
};
