#include "platform/sound.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using platform::MemorySoundRing;
using platform::RingRegions;

namespace {

void Write(MemorySoundRing& ring, uint32_t offset, const std::vector<uint8_t>& bytes) {
    RingRegions r;
    ASSERT_TRUE(ring.Lock(offset, uint32_t(bytes.size()), r));
    std::memcpy(r.first, bytes.data(), r.firstBytes);
    if (r.second != nullptr) std::memcpy(r.second, bytes.data() + r.firstBytes, r.secondBytes);
    ring.Unlock(r);
}

}  // namespace

TEST(MemorySoundRing, LocksARangeThatRunsPastTheEndAsTwoRegions) {
    MemorySoundRing ring(10);
    RingRegions r;
    ASSERT_TRUE(ring.Lock(7, 5, r));
    EXPECT_EQ(r.firstBytes, 3u);
    EXPECT_EQ(r.secondBytes, 2u);
    ASSERT_NE(r.second, nullptr);
    RingRegions other;
    EXPECT_FALSE(ring.Lock(0, 1, other)) << "a second lock while one is held";
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    std::memcpy(r.first, bytes, 3);
    std::memcpy(r.second, bytes + 3, 2);
    EXPECT_EQ(ring.Contents(), std::vector<uint8_t>(10, 0)) << "nothing reaches the ring before Unlock";
    ring.Unlock(r);
    EXPECT_EQ(ring.Contents(), (std::vector<uint8_t>{4, 5, 0, 0, 0, 0, 0, 1, 2, 3}));

    ASSERT_TRUE(ring.Lock(0, 4, r));
    EXPECT_EQ(r.second, nullptr);
    EXPECT_EQ(r.first[0], 4) << "a locked region starts out with the ring's bytes";
    ring.Unlock(r);

    ASSERT_TRUE(ring.Lock(123, 0, r, true));
    EXPECT_EQ(r.firstBytes, 10u);
    EXPECT_EQ(r.secondBytes, 0u);
    ring.Unlock(r);

    for (auto [offset, bytes] : {std::pair{10u, 1u}, {0u, 11u}, {3u, 0u}}) {
        EXPECT_FALSE(ring.Lock(offset, bytes, r)) << offset << "+" << bytes;
    }
}

TEST(MemorySoundRing, PlaysRoundAndRoundAndSilenceWhileStopped) {
    MemorySoundRing ring(6, 0x80);
    Write(ring, 0, {1, 2, 3, 4, 5, 6});
    std::vector<uint8_t> out(4);
    ring.Pull(out.data(), 4);
    EXPECT_EQ(out, std::vector<uint8_t>(4, 0x80));
    EXPECT_EQ(ring.PlayCursor(), 0u);
    ASSERT_TRUE(ring.Play());
    ring.Pull(out.data(), 4);
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4}));
    ring.Pull(out.data(), 4);
    EXPECT_EQ(out, (std::vector<uint8_t>{5, 6, 1, 2}));
    EXPECT_EQ(ring.PlayCursor(), 2u);
    ring.Stop();
    ring.Pull(out.data(), 4);
    EXPECT_EQ(out, std::vector<uint8_t>(4, 0x80));
    ring.SetPlayCursor(5);
    ASSERT_TRUE(ring.Play());
    ring.Pull(out.data(), 2);
    EXPECT_EQ(out[0], 6);
    EXPECT_EQ(out[1], 1);
}

// The cursor is what is heard: the bytes still queued in the device are taken off, except right
// after a start, and a stop lets them play out.
TEST(MemorySoundRing, TheCursorTrailsWhatWasHandedOutByTheQueuedBytes) {
    MemorySoundRing ring(100, 0, 8);
    ASSERT_TRUE(ring.Play());
    std::vector<uint8_t> out(8);
    ring.Pull(out.data(), 8);
    EXPECT_EQ(ring.PlayCursor(), 0u);
    ring.Pull(out.data(), 8);
    EXPECT_EQ(ring.PlayCursor(), 8u);
    ring.Stop();
    EXPECT_EQ(ring.PlayCursor(), 16u);
    ASSERT_TRUE(ring.Play());
    ring.Pull(out.data(), 8);
    EXPECT_EQ(ring.PlayCursor(), 16u) << "a restart never moves the cursor back";
    ring.Pull(out.data(), 8);
    EXPECT_EQ(ring.PlayCursor(), 24u);
}

TEST(MemorySoundRing, RaisesEachFlagOnceItsByteIsHeardAndHandsTheLowestFirst) {
    MemorySoundRing ring(100, 0, 10);
    const uint32_t offsets[2] = {20, 70};
    ASSERT_TRUE(ring.SetNotifications(offsets, 2));
    ASSERT_TRUE(ring.Play());
    ring.Advance(30);  // handed out up to 30, heard up to 20: byte 20 not yet heard
    EXPECT_EQ(ring.TakeNotification(), -1);
    ring.Advance(1);
    EXPECT_EQ(ring.TakeNotification(), 0);
    EXPECT_EQ(ring.TakeNotification(), -1);
    ring.Advance(100);  // a whole lap: both marks passed
    EXPECT_EQ(ring.TakeNotification(), 0);
    EXPECT_EQ(ring.TakeNotification(), 1);
    EXPECT_EQ(ring.TakeNotification(), -1);
    ring.Advance(60);  // wraps round past 70 and 20 again... heard from 21 to 81
    EXPECT_EQ(ring.TakeNotification(), 1);
    ring.Advance(50);  // heard from 81 round to 31
    ring.ResetNotifications();
    EXPECT_EQ(ring.TakeNotification(), -1);
    const uint32_t bad[1] = {100};
    EXPECT_FALSE(ring.SetNotifications(bad, 1));
}

TEST(MemorySoundRing, ACursorMovedWhileStoppedStaysPut) {
    MemorySoundRing ring(100);
    const uint32_t offsets[1] = {10};
    ASSERT_TRUE(ring.SetNotifications(offsets, 1));
    ring.Advance(50);
    EXPECT_EQ(ring.PlayCursor(), 0u);
    EXPECT_EQ(ring.TakeNotification(), -1);
}

// Kill waits for a call in progress: the plain counter written by the callback is read right
// after Kill, which ThreadSanitizer would flag if the call could still be running.
TEST(PeriodicTimer, KillWaitsForTheRunningCallAndNoCallFollows) {
    platform::PeriodicTimer timer;
    int calls = 0;
    std::atomic<int> seen{0};
    for (int round = 0; round < 3; ++round) {
        timer.Start(std::chrono::milliseconds(1), [&] {
            ++calls;
            ++seen;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
        EXPECT_TRUE(timer.Running());
        const int target = seen.load() + 3;
        while (seen.load() < target) std::this_thread::yield();
        timer.Kill();
        EXPECT_FALSE(timer.Running());
        const int after = calls;
        EXPECT_GE(after, target);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(seen.load(), after);
    }
    timer.Kill();  // killing a dead timer is harmless
}

TEST(PeriodicTimer, StartingAgainReplacesTheRunningTimer) {
    platform::PeriodicTimer timer;
    std::atomic<int> first{0}, second{0};
    timer.Start(std::chrono::milliseconds(1), [&] { ++first; });
    while (first.load() == 0) std::this_thread::yield();
    timer.Start(std::chrono::milliseconds(1), [&] { ++second; });
    const int stopped = first.load();
    while (second.load() < 3) std::this_thread::yield();
    EXPECT_EQ(first.load(), stopped);
}
