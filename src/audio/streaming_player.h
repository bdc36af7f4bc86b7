// StreamingPlayer: the streaming sound player. It plays a two-second ring that is refilled one
// second at a time from a 300 ms timer, and tells how many sample frames have been played.
//
// The player knows nothing of files: it pulls sample bytes through a fill callback. The ring's
// halves [0, A) and [A, 2A), A being one second of bytes, are refilled alternately, each when the
// play cursor is half a second into the other one; two notification offsets mark those moments.
//
// Threads: OnTimer runs on the refill timer's thread; everything else on the caller's (the UI)
// thread. Pause, Stop and Create kill the timer, and killing it waits for a refill in progress, so
// once they return nothing reads through the fill callback until the next Play.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/wav_reader.h"
#include "platform/sound.h"

class StreamingPlayer {
  public:
    // Writes at most framesWanted frames at `destination` and sets *framesRead (0 at the end of
    // the data or on a failed read). The result is not looked at.
    using FillCallback = int (*)(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                                 void* context);

    static constexpr uint32_t kRefillPeriodMs = 300;

    // `output` makes the rings; it must outlive the player. A `refillPeriod` of 0 starts no timer:
    // the owner calls OnTimer itself (tests step the refills that way).
    explicit StreamingPlayer(platform::SoundOutput& output, std::chrono::milliseconds refillPeriod =
                                                                std::chrono::milliseconds(kRefillPeriodMs));
    StreamingPlayer(const StreamingPlayer&) = delete;
    StreamingPlayer& operator=(const StreamingPlayer&) = delete;
    virtual ~StreamingPlayer();

    // (Re)builds the ring, its notifications and the staging block for `waveFormat`. When the
    // device refuses, the player is left unprepared: no ring, and every operation below does nothing.
    void Create(const WavFormat& waveFormat);
    // Drops the ring, leaving the player unprepared.
    void Release();

    void SetFillCallback(FillCallback callback, void* context);

    // Primes the first half when the ring stands silent after Create or Stop, plays the ring
    // looping from its cursor and starts the refill timer.
    void Play();
    // Stops the ring where it is and kills the refill timer; cursor, contents and counters stay.
    void Pause();
    // Stops, silences and rewinds the ring, and resets the counters.
    void Stop();
    // Sample frames played since the last Stop (0 without a ring).
    [[nodiscard]] uint32_t GetPlayPosition() const;
    // Refills one half when a notification has come; called by the refill timer.
    void OnTimer();

    [[nodiscard]] bool Prepared() const { return buffer != nullptr; }
    [[nodiscard]] uint32_t FirstMidpointCount() const { return firstMidpointCount.load(); }
    [[nodiscard]] uint32_t SecondMidpointCount() const { return secondMidpointCount.load(); }
    [[nodiscard]] platform::SoundRing* Ring() const { return buffer.get(); }

  private:
    void CopyStaging(const platform::RingRegions& regions);
    void KillTimer();

    WavFormat format;                             // the WAV's format, taken at Create
    platform::SoundOutput* device;                // makes the rings; not owned
    std::unique_ptr<platform::SoundRing> buffer;  // the ring: two seconds of audio
    std::vector<uint8_t> staging;                 // one second, filled before it goes into the ring
    FillCallback fillCallback = nullptr;
    void* fillContext = nullptr;
    platform::PeriodicTimer timer;
    std::chrono::milliseconds refillPeriod;
    // Notifications handled since the last Stop: written by the refill, read by GetPlayPosition.
    std::atomic<uint32_t> firstMidpointCount{0};
    std::atomic<uint32_t> secondMidpointCount{0};
    // The first half holds the start of what is to play. Cleared by Create and Stop, set by the
    // priming in Play: a pause before the first refill must not prime over audio not yet heard.
    bool primed = false;
};
