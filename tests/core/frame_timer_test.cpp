#include "core/frame_timer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A counter the test winds by hand, so every elapsed time is exact.
int64_t gFrequency = 0;
int64_t gNow = 0;
int64_t FakeFrequency() {
    return gFrequency;
}
int64_t FakeNow() {
    return gNow;
}
constexpr platform::CounterSource kFakeCounter{&FakeFrequency, &FakeNow};

TEST(FrameTimer, ConvertsTicksToSecondsWithTheFixedRounding) {
    // The odd cases pin the order of the steps: a plain ticks / frequency in double precision
    // lands on the neighbouring float for 524671 and 16851841 ticks, and a frequency that is not a
    // whole number of kilohertz loses its remainder before dividing.
    struct Case {
        int64_t frequency, ticks;
        float countsPerMillisecond, seconds;
    } const cases[] = {
        {10'000'000, 5'000'000, 10'000.0f, 0.5f},
        {10'000'000, 524'671, 10'000.0f, 0x1.adcf7ap-5f},
        {1'000'000'000, 16'851'841, 1e6f, 0x1.1419bcp-6f},
        {3'579'545, 3'579'545, 3'579.0f, 0x1.0009fap+0f},
        {1'000, 1, 1.0f, 0.001f},
    };
    for (const Case& c : cases) {
        gFrequency = c.frequency;
        gNow = -1'000;  // readings may be negative
        FrameTimer timer;
        ASSERT_TRUE(timer.Init(kFakeCounter)) << "frequency " << c.frequency;
        EXPECT_EQ(timer.countsPerMillisecond, c.countsPerMillisecond) << "frequency " << c.frequency;
        gNow += c.ticks;
        EXPECT_EQ(timer.Peek(), c.seconds) << c.ticks << " ticks at frequency " << c.frequency;
        EXPECT_EQ(timer.SecondsSince(-1'000), c.seconds) << c.ticks << " ticks at frequency " << c.frequency;
    }
}

TEST(FrameTimer, PeekKeepsTheMarkAndTickMovesIt) {
    gFrequency = 10'000'000;
    gNow = 500;
    FrameTimer timer;
    ASSERT_TRUE(timer.Init(kFakeCounter));
    gNow += 2'500'000;
    EXPECT_EQ(timer.Peek(), 0.25f);
    gNow += 2'500'000;
    EXPECT_EQ(timer.Peek(), 0.5f) << "second Peek, from the same mark";
    EXPECT_EQ(timer.totalSeconds, 0.0f) << "Peek leaves the total alone";

    timer.Tick();
    EXPECT_EQ(timer.lapSeconds, 0.5f);
    EXPECT_EQ(timer.totalSeconds, 0.5f) << "first Tick after Init: lap and total agree";
    timer.activityStamp = timer.Now();
    gNow += 10'000'000;
    timer.Tick();
    EXPECT_EQ(timer.lapSeconds, 1.0f) << "lap since the previous Tick";
    EXPECT_EQ(timer.totalSeconds, 1.5f) << "total since Init";
    EXPECT_EQ(timer.SecondsSince(timer.activityStamp), 1.0f);
    EXPECT_TRUE(std::isfinite(timer.SecondsSince(INT64_MIN))) << "a far stamp must not overflow";
}

TEST(FrameTimer, FailedInitReadsZeroInsteadOfDividingByZero) {
    for (int64_t frequency : {int64_t{0}, int64_t{999}, int64_t{-1'000'000}}) {
        gFrequency = frequency;
        gNow = 1'000;
        FrameTimer timer;
        EXPECT_FALSE(timer.Init(kFakeCounter)) << "frequency " << frequency;
        gNow += 5'000'000;
        timer.Tick();
        EXPECT_EQ(timer.Peek(), 0.0f) << "frequency " << frequency;
        EXPECT_EQ(timer.totalSeconds, 0.0f) << "frequency " << frequency;
        EXPECT_EQ(timer.SecondsSince(0), 0.0f) << "frequency " << frequency;
    }
}

}  // namespace
