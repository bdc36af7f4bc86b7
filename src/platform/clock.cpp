#include "platform/clock.h"

#include <chrono>

namespace platform {

using Clock = std::chrono::steady_clock;

int64_t SteadyCounterFrequency() {
    return static_cast<int64_t>(Clock::period::den / Clock::period::num);
}

int64_t SteadyCounterNow() {
    return static_cast<int64_t>(Clock::now().time_since_epoch().count());
}

double SteadySeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

}  // namespace platform
