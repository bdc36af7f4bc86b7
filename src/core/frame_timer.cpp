#include "core/frame_timer.h"

namespace {

// A counter difference in seconds: ticks to milliseconds in single precision, then to seconds
// in double precision and back to float. The order and precision of the steps are fixed so that
// every clock in the program rounds identically. A timer whose Init failed has no tick rate, and
// all its times read 0 rather than infinity or NaN.
float Seconds(int64_t ticks, float countsPerMillisecond) {
    if (!(countsPerMillisecond > 0.0f)) return 0.0f;
    const float milliseconds = static_cast<float>(ticks) / countsPerMillisecond;
    return static_cast<float>(static_cast<double>(milliseconds) / 1000.0);
}

// later - earlier, wrapping instead of overflowing: a stamp can be any value a caller stored,
// and a difference that does not fit is no reason for undefined behaviour.
int64_t Difference(int64_t later, int64_t earlier) {
    return static_cast<int64_t>(static_cast<uint64_t>(later) - static_cast<uint64_t>(earlier));
}

}  // namespace

bool FrameTimer::Init(platform::CounterSource source) {
    counter = source;
    frequency = counter.frequency != nullptr ? counter.frequency() : 0;
    // Integer division on purpose: a frequency that is not a whole number of kilohertz loses its
    // remainder here, exactly as the rest of the program expects.
    countsPerMillisecond = frequency >= 1000 ? static_cast<float>(frequency / 1000) : 0.0f;
    startCount = markCount = Now();
    lapSeconds = totalSeconds = 0.0f;
    return countsPerMillisecond > 0.0f;
}

void FrameTimer::Tick() {
    const int64_t now = Now();
    lapSeconds = Seconds(Difference(now, markCount), countsPerMillisecond);
    markCount = now;
    totalSeconds = Seconds(Difference(now, startCount), countsPerMillisecond);
}

float FrameTimer::Peek() {
    lapSeconds = Seconds(Difference(Now(), markCount), countsPerMillisecond);
    return lapSeconds;
}

float FrameTimer::SecondsSince(int64_t stamp) const {
    return Seconds(Difference(Now(), stamp), countsPerMillisecond);
}

int64_t FrameTimer::Now() const {
    return counter.now != nullptr ? counter.now() : 0;
}
