// The normalised render's second thread: it measures the loudness of the synthesiser's float
// chunks and writes them to the render's stream (its scratch file), while the synthesis goes on.
// What it has written may be played at once; it keeps the stream's estimate of the song's gain
// up to date as it measures.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/failure.h"
#include "synth/loudness.h"

class RenderStream;

// Stereo frames per chunk handed over.
inline constexpr size_t kScratchChunkFrames = 4096;

// The synthesis hands its float chunks to a second thread, which measures their loudness and writes
// them to the scratch file. A few chunks are in flight at once, so neither thread waits
// on the other for long; the memory stays a few chunks whatever the song's length.
class ScratchWriter {
  public:
    // With `lowPriority` the thread gives way to the program's others (a window that plays while
    // it renders). Without a meter nothing is measured: the stream's gain is another's.
    ScratchWriter(LoudnessMeter* meter, RenderStream& stream, bool lowPriority)
        : meter_(meter), stream_(stream), lowPriority_(lowPriority) {
        for (auto& slot : slots_) slot.assign(kScratchChunkFrames * 2, 0.0f);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScratchWriter() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    ScratchWriter(const ScratchWriter&) = delete;
    ScratchWriter& operator=(const ScratchWriter&) = delete;

    // The next buffer to fill, of kScratchChunkFrames frames; waits while every buffer is in flight.
    float* Buffer() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return inFlight_ < kSlots; });
        return slots_[next_].data();
    }
    // Hands over the buffer Buffer() gave, with `frames` frames in it.
    void Submit(size_t frames) {
        {
            const std::lock_guard lock(mutex_);
            frames_[next_] = frames;
            next_ = (next_ + 1) % kSlots;
            ++inFlight_;
        }
        changed_.notify_all();
    }
    // Waits until every chunk handed over has been measured and written; a Write failure with
    // the system's reason alone when a write failed.
    Failure Drain() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return inFlight_ == 0; });
        return failed_ ? Failure::Because(FailureKind::Write, error_) : Failure::None();
    }
    bool Failed() {
        const std::lock_guard lock(mutex_);
        return failed_;
    }

  private:
    static constexpr int kSlots = 4;

    void Run();

    LoudnessMeter* meter_;
    RenderStream& stream_;
    const bool lowPriority_;
    std::vector<float> slots_[kSlots];
    size_t frames_[kSlots] = {};
    int next_ = 0;      // the slot the synthesis fills next
    int inFlight_ = 0;  // slots handed over and not yet written
    bool stop_ = false;
    bool failed_ = false;
    std::string error_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};
