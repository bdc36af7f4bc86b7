#include "synth/scratch_writer.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "synth/render_stream.h"

namespace {

// The estimate of the song's gain is brought up to date every this many chunks (about a second).
constexpr int kChunksPerEstimate = 10;

bool WriteAll(int fd, const uint8_t* data, size_t size, std::string& error) {
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            error = put < 0 ? std::strerror(errno) : "nothing could be written";
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

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
        std::string error;
        const bool ok = failed_ || WriteAll(stream_.Fd(), reinterpret_cast<const uint8_t*>(data),
                                            frames * 2 * sizeof(float), error);
        if (ok) {
            stream_.Append(data, frames);
            if (meter_ != nullptr && ++chunks % kChunksPerEstimate == 0)
                stream_.EstimateGain(PlanNormalisation(meter_->IntegratedLufs(), meter_->SamplePeak()).gain);
        }
        {
            const std::lock_guard lock(mutex_);
            if (!ok && !failed_) {
                failed_ = true;
                error_ = error;
            }
            --inFlight_;
        }
        changed_.notify_all();
        slot = (slot + 1) % kSlots;
    }
}
