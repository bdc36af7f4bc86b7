#include "synth/scratch_writer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/file_access.h"
#include "synth/render_stream.h"

namespace {

// The estimate of the song's gain is brought up to date every this many chunks (about a second).
constexpr int kChunksPerEstimate = 10;

}  // namespace

void ScratchWriter::Run() {
    // On Linux the niceness is the calling thread's own; a refusal only leaves it as it was.
    if (lowPriority_) (void)setpriority(PRIO_PROCESS, 0, getpriority(PRIO_PROCESS, 0) + 5);
    int slot = 0;
    int chunks = 0;
    for (;;) {
        size_t frames = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || inFlight_ > 0; });
            if (inFlight_ == 0) return;
            frames = frames_[slot];
        }
        // The slot is this thread's until it is given back below.
        const float* data = slots_[slot].data();
        if (meter_ != nullptr) meter_->AddFrames(data, frames);
        Failure written;
        const bool ok = failed_ || (written = WriteAll(stream_.Fd(), data, frames * 2 * sizeof(float))).Ok();
        if (ok) {
            stream_.Append(data, frames);
            if (meter_ != nullptr && ++chunks % kChunksPerEstimate == 0)
                stream_.EstimateGain(PlanNormalisation(meter_->IntegratedLufs(), meter_->SamplePeak()).gain);
        }
        {
            const std::lock_guard lock(mutex_);
            if (!ok && !failed_) {
                failed_ = true;
                error_ = written.text;
            }
            --inFlight_;
        }
        changed_.notify_all();
        slot = (slot + 1) % kSlots;
    }
}
