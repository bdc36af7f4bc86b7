// The high-resolution counter the frame timer is built on: a monotonic count of ticks and the
// number of ticks per second.
#pragma once

#include <cstdint>

namespace platform {

// A source of counter readings. The real one reads the steady clock; tests hand in their own so
// that elapsed times are exact and nothing depends on how busy the machine is.
struct CounterSource {
    int64_t (*frequency)();  // ticks per second; 0 means the counter is unavailable
    int64_t (*now)();        // current reading
};

[[nodiscard]] int64_t SteadyCounterFrequency();
[[nodiscard]] int64_t SteadyCounterNow();
// The same counter in seconds: the clock MIDI messages are stamped on and the player's keys are
// timed by.
[[nodiscard]] double SteadySeconds();

inline constexpr CounterSource kSteadyCounter{&SteadyCounterFrequency, &SteadyCounterNow};

}  // namespace platform
