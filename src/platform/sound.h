// The sound layer: a looping ring of sample bytes that a device plays, and a periodic timer.
//
//   SoundRing        the ring's operations: lock a byte range as one or two regions, unlock,
//                    play looping, stop, read and set the play cursor, notification offsets
//   MemorySoundRing  the ring's bytes and bookkeeping; the cursor moves only when told to, so
//                    tests drive it by hand
//   SoundOutput      makes rings for a sample format; SdlSoundOutput() plays them on the sound
//                    device (falling back to a silent real-time device when there is none)
//   LiveMixer        sound made while it plays (the player's own keys), added on the device's
//                    thread to what the ring hands out, so that it is heard one period later
//   PeriodicTimer    calls a function every period on a thread of its own
//
// The play cursor a ring reports is the byte being heard, not the last byte handed to the device,
// so whatever is drawn from it stays in step with the sound. Notification flags are raised when
// that cursor passes their offsets and are taken (cleared) by whoever polls them; each ring has its
// own flags, so two players never see each other's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/sample_rate.h"

namespace platform {

struct SoundFormat {
    uint32_t samplesPerSec = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;  // 8 (unsigned), 16, 32 (signed), or 32 with isFloat
    bool isFloat = false;
    uint16_t blockAlign = 0;  // bytes per sample frame
};

// A locked byte range of a ring. A range that runs past the ring's end comes as two regions: the
// tail of the ring, then its start.
struct RingRegions {
    uint8_t* first = nullptr;
    uint32_t firstBytes = 0;
    uint8_t* second = nullptr;
    uint32_t secondBytes = 0;
};

inline constexpr int kMaxNotifications = 4;

class SoundRing {
  public:
    virtual ~SoundRing() = default;

    [[nodiscard]] virtual uint32_t Size() const = 0;

    // Locks `bytes` bytes from `offset` (the whole ring with `entireRing`) for writing. The regions
    // stay valid until Unlock, which makes what was written there the ring's. One lock at a time.
    [[nodiscard]] virtual bool Lock(uint32_t offset, uint32_t bytes, RingRegions& regions,
                                    bool entireRing = false) = 0;
    virtual void Unlock(const RingRegions& regions) = 0;

    // Plays from the cursor, round and round, until Stop.
    [[nodiscard]] virtual bool Play() = 0;
    // Halts where the cursor stands; bytes already handed to the device still play out, and the
    // cursor counts them.
    virtual void Stop() = 0;
    [[nodiscard]] virtual uint32_t PlayCursor() const = 0;
    virtual void SetPlayCursor(uint32_t offset) = 0;

    // Replaces the notification offsets (at most kMaxNotifications) and lowers all flags.
    [[nodiscard]] virtual bool SetNotifications(const uint32_t* offsets, int count) = 0;
    // Takes the raised flag with the lowest index and returns that index, or -1 when none is up.
    [[nodiscard]] virtual int TakeNotification() = 0;
    virtual void ResetNotifications() = 0;
};

// A ring held in memory. The cursor moves in Pull, which copies the bytes at the ring's read
// position out (to the device) and advances; tests call Advance instead.
//
// The reported cursor trails the read position by the bytes still queued in the device
// (`latencyBytes`, at most what was read since the last start), and notifications follow the
// reported cursor. Writes go to a shadow copy while locked and reach the ring in Unlock, so a
// writer never touches bytes that the reading side may be copying at that moment.
class MemorySoundRing : public SoundRing {
  public:
    // `silence` is the byte value played while the ring is stopped (0x80 for 8-bit samples).
    explicit MemorySoundRing(uint32_t bytes, uint8_t silence = 0, uint32_t latencyBytes = 0);

    uint32_t Size() const override { return uint32_t(bytes_.size()); }
    bool Lock(uint32_t offset, uint32_t bytes, RingRegions& regions, bool entireRing = false) override;
    void Unlock(const RingRegions& regions) override;
    bool Play() override;
    void Stop() override;
    uint32_t PlayCursor() const override;
    void SetPlayCursor(uint32_t offset) override;
    bool SetNotifications(const uint32_t* offsets, int count) override;
    int TakeNotification() override;
    void ResetNotifications() override;

    // Hands the next `count` bytes to `out` (silence while stopped) and moves the cursor on.
    void Pull(uint8_t* out, uint32_t count);
    // Moves the cursor on by `count` bytes while playing, as if they had been heard.
    void Advance(uint32_t count) { Pull(nullptr, count); }

    [[nodiscard]] bool Playing() const;
    // Copies of the ring's bytes, for checks.
    [[nodiscard]] std::vector<uint8_t> Contents() const;

  private:
    // With the lock held: the cursor moves `moved` bytes on, to `to`.
    void MoveHeard(uint32_t to, uint64_t moved);
    [[nodiscard]] uint64_t Lag() const;  // bytes handed out but not yet heard

    mutable std::mutex mutex_;
    std::vector<uint8_t> bytes_;
    std::vector<uint8_t> shadow_;  // where locked regions are written
    const uint8_t silence_;
    const uint32_t latencyBytes_;
    bool playing_ = false;
    bool locked_ = false;
    uint32_t readPos_ = 0;  // next byte handed out
    uint32_t heard_ = 0;    // the reported play cursor
    uint64_t readSinceStart_ = 0;
    int notificationCount_ = 0;
    uint32_t offsets_[kMaxNotifications] = {};
    bool raised_[kMaxNotifications] = {};
};

// Sound made live, mixed in on the sound device's thread right after the ring's bytes have been
// pulled for a period, so that it reaches the device in that same period rather than two seconds
// of ring later.
class LiveMixer {
  public:
    virtual ~LiveMixer() = default;
    // Adds `frames` frames of its sound into `stereo` (interleaved signed 16-bit left, right) at
    // `rate` frames per second. Runs on the device's thread, one call at a time: it must not
    // block, allocate or wait for a lock that another thread may hold for long.
    virtual void Mix(int16_t* stereo, uint32_t frames, uint32_t rate) = 0;
};

// Frames per device period unless asked otherwise, and what live sound asks for: 256 frames is
// 5.8 ms at 44.1 kHz, one period of waiting for a key's sound to reach the device.
inline constexpr uint32_t kDefaultDeviceFrames = 1024;
inline constexpr uint32_t kLiveDeviceFrames = 256;

class SoundOutput {
  public:
    virtual ~SoundOutput() = default;
    // A stopped, silent ring of `bytes` bytes that plays `format`, or null when that cannot be had.
    [[nodiscard]] virtual std::unique_ptr<SoundRing> CreateRing(const SoundFormat& format,
                                                                uint32_t bytes) = 0;

    // Mixes `mixer` (null: none) into one device: the newest ring of 16-bit stereo or, while
    // there is none, a device of its own at `liveRate` frames per second that plays nothing else.
    // When this returns, the mixer attached before is no longer being called and will not be
    // again, so its owner may destroy it; a mixer must be detached before it is destroyed. An
    // output without a device mixes nothing.
    virtual void AttachLiveMixer(LiveMixer* mixer, uint32_t liveRate = kSampleRate) {
        (void)mixer;
        (void)liveRate;
    }
    // Frames per period for the devices opened from now on (64 to 8192; kDefaultDeviceFrames until
    // asked). A device already open keeps its period until its ring is made again.
    virtual void SetDevicePeriod(uint32_t frames) { (void)frames; }
};

// The process's sound device. When no device can be opened it plays through a silent device that
// keeps real time, and says so once on standard error.
SoundOutput& SdlSoundOutput();

// Calls a function every `period` on a thread of its own, the first time one period after Start.
class PeriodicTimer {
  public:
    PeriodicTimer() = default;
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;
    ~PeriodicTimer() { Kill(); }

    // Starts the timer, killing a running one first.
    void Start(std::chrono::milliseconds period, std::function<void()> callback);
    // Stops the timer. A call that is running when Kill is called has finished when Kill returns,
    // so the caller may then change whatever the callback touches. Not to be called from the
    // callback itself.
    void Kill();
    [[nodiscard]] bool Running() const { return thread_.joinable(); }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace platform
