// The program's high-resolution clock. Two independent instances exist: the frame loop's, whose
// running total decides when the next frame is drawn, and the controller's playback clock, whose
// lap measures the count-in before playback and which also keeps the time of the last mouse
// activity in full view for the overlay.
//
// Elapsed times are kept in seconds as float. Every counter difference is turned into seconds the
// same way (see the .cpp), so that the two clocks and the overlay agree to the last bit.
#pragma once

#include <cstdint>

#include "platform/clock.h"

struct FrameTimer {
    int64_t activityStamp = 0;          // raw reading of the last mouse activity in full view (see Now())
    int64_t frequency = 0;              // counter ticks per second
    float countsPerMillisecond = 0.0f;  // frequency / 1000 in whole ticks; 0 when Init failed
    int64_t startCount = 0;             // reading at Init()
    int64_t markCount = 0;              // reading at the last Tick(), at Init() before the first
    float lapSeconds = 0.0f;            // seconds from markCount to the last Tick() or Peek()
    float totalSeconds = 0.0f;          // seconds from startCount to the last Tick()

    platform::CounterSource counter{};  // where readings come from; set by Init()

    // Reads the counter's frequency and starts both the lap and the total. Returns false when
    // the counter is unavailable or too coarse to count milliseconds (below 1000 ticks per
    // second); the owners carry on regardless, so every elapsed time then reads 0.
    bool Init(platform::CounterSource source = platform::kSteadyCounter);

    void Tick();   // lapSeconds and totalSeconds up to now; the mark moves to now
    float Peek();  // lapSeconds up to now, without moving the mark; returns it

    [[nodiscard]] float SecondsSince(int64_t stamp) const;  // from a raw reading of Now() to now
    [[nodiscard]] int64_t Now() const;                      // a raw reading; 0 before Init()
};
