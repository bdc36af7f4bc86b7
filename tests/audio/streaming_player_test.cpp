#include "audio/streaming_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "manual_output.h"
#include "wav_bytes.h"

using namespace wavtest;
using std::chrono::milliseconds;

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kSecond = kRate * 4;  // bytes of one second, 16-bit stereo

WavFormat Cd() {
    WavFormat f;
    f.formatTag = 1;
    f.channels = 2;
    f.samplesPerSec = kRate;
    f.avgBytesPerSec = kSecond;
    f.blockAlign = 4;
    f.bitsPerSample = 16;
    return f;
}

// Counting frames from 0 up to `total`, as the controller's reader would hand them out.
struct Source {
    uint32_t total = UINT32_MAX;
    uint32_t next = 0;
    int calls = 0;
    std::atomic<int> callsSeen{0};

    static int Fill(uint8_t* dst, uint32_t wanted, uint32_t* got, void* context) {
        auto* s = static_cast<Source*>(context);
        const uint32_t n = std::min(wanted, s->total - s->next);
        const Bytes b = CountingFrames(s->next, n);
        if (!b.empty()) std::memcpy(dst, b.data(), b.size());
        s->next += n;
        *got = n;
        ++s->calls;
        ++s->callsSeen;
        return 0;
    }
};

int64_t FrameInRing(const platform::MemorySoundRing& ring, uint32_t frame) {
    const Bytes b = ring.Contents();
    return FrameIndexOf(b.data() + frame * 4);
}

class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        player.Create(Cd());
        player.SetFillCallback(&Source::Fill, &source);
    }
    platform::MemorySoundRing& Ring() { return *out.ring; }
    void AdvanceFrames(uint32_t frames) { Ring().Advance(frames * 4); }

    ManualOutput out;
    Source source;
    StreamingPlayer player{out, milliseconds(0)};
};

}  // namespace

TEST_F(PlayerTest, BuildsATwoSecondRingWithANotificationInTheMiddleOfEachHalf) {
    ASSERT_TRUE(player.Prepared());
    EXPECT_EQ(Ring().Size(), 2 * kSecond);
    EXPECT_EQ(out.format.samplesPerSec, kRate);
    EXPECT_EQ(out.format.blockAlign, 4);
    player.Play();
    Ring().Advance(kSecond / 2 - 1);  // up to, not past, byte 88,199
    EXPECT_EQ(Ring().TakeNotification(), -1);
    Ring().Advance(1);
    EXPECT_EQ(Ring().TakeNotification(), 0);
    Ring().Advance(kSecond - 1);  // up to byte 264,599
    EXPECT_EQ(Ring().TakeNotification(), -1);
    Ring().Advance(1);
    EXPECT_EQ(Ring().TakeNotification(), 1);
    EXPECT_EQ(Ring().TakeNotification(), -1);  // auto-reset
}

TEST_F(PlayerTest, PrimesTheFirstHalfAndRefillsTheHalfOppositeEachNotification) {
    player.Play();
    EXPECT_EQ(source.calls, 1);
    EXPECT_EQ(FrameInRing(Ring(), 0), 0);
    EXPECT_EQ(FrameInRing(Ring(), kRate - 1), kRate - 1);
    EXPECT_EQ(FrameInRing(Ring(), kRate), -1);  // the second half is still silent

    player.OnTimer();  // nothing has come yet
    EXPECT_EQ(source.calls, 1);

    AdvanceFrames(kRate / 2);
    player.OnTimer();
    EXPECT_EQ(player.FirstMidpointCount(), 1u);
    EXPECT_EQ(FrameInRing(Ring(), kRate), kRate);
    EXPECT_EQ(FrameInRing(Ring(), 2 * kRate - 1), 2 * kRate - 1);
    EXPECT_EQ(FrameInRing(Ring(), 0), 0);  // the half being played is left alone

    AdvanceFrames(kRate);
    player.OnTimer();
    EXPECT_EQ(player.SecondMidpointCount(), 1u);
    EXPECT_EQ(FrameInRing(Ring(), 0), 2 * kRate);
    EXPECT_EQ(source.calls, 3);
}

TEST_F(PlayerTest, ASongShorterThanASecondIsFollowedBySilence) {
    source.total = 1000;
    player.Play();
    EXPECT_EQ(FrameInRing(Ring(), 999), 999);
    EXPECT_EQ(FrameInRing(Ring(), 1000), -1);
    AdvanceFrames(kRate / 2);
    player.OnTimer();
    const Bytes all = Ring().Contents();
    EXPECT_TRUE(std::all_of(all.begin() + 4000, all.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(PlayerTest, PositionMatchesTheWorkedFiguresAcrossLaps) {
    player.Play();
    EXPECT_EQ(player.GetPlayPosition(), 0u);
    AdvanceFrames(22050);
    player.OnTimer();
    AdvanceFrames(70000 - 22050);
    EXPECT_EQ(player.GetPlayPosition(), 70000u);
    player.OnTimer();  // event 1 of the first lap
    EXPECT_EQ(player.GetPlayPosition(), 70001u);
    AdvanceFrames(2 * kRate - 70000 + 100);  // wrapped: 100 frames into the second lap
    EXPECT_EQ(player.GetPlayPosition(), 88300u);
    player.Stop();
    EXPECT_EQ(player.GetPlayPosition(), 0u);
}

// Over several laps, with refills as often as a timer would run them, the position never goes
// back, stays within a frame of the frames really played, and the ring holds the right frame at
// the cursor. A step of 2,205 frames lands exactly on the one-and-a-half-second mark of each lap.
TEST_F(PlayerTest, PositionNeverGoesBackAndTheCursorHearsTheRightFrame) {
    struct Case {
        uint32_t stepFrames;
        int stepsPerTick;
    } cases[] = {{2205, 1}, {997, 1}, {2205, 6}, {441, 30}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "step " << c.stepFrames << ", tick every " << c.stepsPerTick);
        player.Stop();
        source.next = 0;
        player.Play();
        uint32_t played = 0, last = 0;
        int step = 0;
        while (played < 4 * 2 * kRate) {
            AdvanceFrames(c.stepFrames);
            played += c.stepFrames;
            if (++step % c.stepsPerTick == 0) player.OnTimer();
            const uint32_t pos = player.GetPlayPosition();
            ASSERT_GE(pos, last) << "at frame " << played;
            ASSERT_LE(pos - std::min(pos, played), 1u) << "at frame " << played;
            ASSERT_LE(played - std::min(pos, played), 0u) << "at frame " << played;
            ASSERT_EQ(FrameInRing(Ring(), Ring().PlayCursor() / 4), played) << "at frame " << played;
            last = pos;
        }
    }
}

// A pause before the first refill must not prime the first half again: that would drop the
// second that is still to be heard from it.
TEST_F(PlayerTest, PauseAndPlayContinueWithoutPrimingAgain) {
    for (uint32_t pauseAt : {kRate / 4, kRate / 2 + 100, kRate + kRate / 2 + 7}) {
        SCOPED_TRACE(pauseAt);
        player.Stop();
        source.next = 0;
        player.Play();
        uint32_t played = 0;
        auto walk = [&](uint32_t to) {
            while (played < to) {
                const uint32_t step = std::min(2000u, to - played);
                AdvanceFrames(step);
                played += step;
                player.OnTimer();
                ASSERT_EQ(FrameInRing(Ring(), Ring().PlayCursor() / 4), played);
            }
        };
        walk(pauseAt);
        const int calls = source.calls;
        const uint32_t pos = player.GetPlayPosition();
        player.Pause();
        EXPECT_FALSE(Ring().Playing());
        EXPECT_EQ(player.GetPlayPosition(), pos);
        player.Play();
        EXPECT_EQ(source.calls, calls);
        walk(pauseAt + 3 * kRate);
    }
}

TEST_F(PlayerTest, StopSilencesAndRewindsTheRing) {
    player.Play();
    AdvanceFrames(kRate / 2);
    player.OnTimer();
    AdvanceFrames(kRate + 10);  // event 1 raised but not yet handled
    player.Stop();
    EXPECT_FALSE(Ring().Playing());
    EXPECT_EQ(Ring().PlayCursor(), 0u);
    EXPECT_EQ(player.FirstMidpointCount(), 0u);
    EXPECT_EQ(player.SecondMidpointCount(), 0u);
    EXPECT_EQ(player.GetPlayPosition(), 0u);
    EXPECT_EQ(Ring().TakeNotification(), -1);
    const Bytes all = Ring().Contents();
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](uint8_t b) { return b == 0; }));
    player.OnTimer();  // nothing to refill
    EXPECT_EQ(source.calls, 2);
    player.Play();  // primes from wherever the source now stands
    EXPECT_EQ(source.calls, 3);
    EXPECT_EQ(FrameInRing(Ring(), 0), 2 * kRate);
}

TEST(Player, WithoutARingEveryOperationDoesNothing) {
    WavFormat inconsistent = Cd();
    inconsistent.avgBytesPerSec = kSecond + 4;  // a second of frames would overrun the staging block
    WavFormat noAlign = Cd();
    noAlign.blockAlign = 0;
    WavFormat compressed = Cd();
    compressed.formatTag = 0x55;
    struct Case {
        const char* name;
        WavFormat format;
        bool refuse;
    } cases[] = {{"inconsistent rate", inconsistent, false},
                 {"no block align", noAlign, false},
                 {"compressed", compressed, false},
                 {"device refuses", Cd(), true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualOutput out;
        out.refuse = c.refuse;
        Source source;
        StreamingPlayer player(out, milliseconds(0));
        player.Create(c.format);
        player.SetFillCallback(&Source::Fill, &source);
        EXPECT_FALSE(player.Prepared());
        player.Play();
        player.OnTimer();
        player.Pause();
        player.Stop();
        EXPECT_EQ(player.GetPlayPosition(), 0u);
        EXPECT_EQ(source.calls, 0);
    }
}

TEST(Player, PlaysNothingWithoutAFillCallback) {
    ManualOutput out;
    StreamingPlayer player(out, milliseconds(0));
    player.Create(Cd());
    player.Play();
    EXPECT_FALSE(out.ring->Playing());
}

// Each player has its own notifications: one player's cursor passing a mark never makes another
// refill.
TEST(Player, TwoPlayersDoNotShareNotifications) {
    ManualOutput outA, outB;
    Source a, b;
    StreamingPlayer playerA(outA, milliseconds(0)), playerB(outB, milliseconds(0));
    playerA.Create(Cd());
    playerB.Create(Cd());
    playerA.SetFillCallback(&Source::Fill, &a);
    playerB.SetFillCallback(&Source::Fill, &b);
    playerA.Play();
    playerB.Play();
    outA.ring->Advance(kSecond / 2);
    playerB.OnTimer();
    EXPECT_EQ(playerB.FirstMidpointCount(), 0u);
    EXPECT_EQ(b.calls, 1);
    playerA.OnTimer();
    EXPECT_EQ(playerA.FirstMidpointCount(), 1u);
    EXPECT_EQ(a.calls, 2);
}

TEST(Player, CreateAgainStartsAFreshRing) {
    ManualOutput out;
    Source source;
    StreamingPlayer player(out, milliseconds(0));
    player.Create(Cd());
    player.SetFillCallback(&Source::Fill, &source);
    player.Play();
    out.ring->Advance(kSecond / 2);
    player.OnTimer();
    player.Create(Cd());
    EXPECT_EQ(out.created, 2);
    EXPECT_EQ(player.FirstMidpointCount(), 0u);
    EXPECT_FALSE(out.ring->Playing());
    player.Play();  // a new ring is primed
    EXPECT_EQ(source.calls, 3);
    player.Release();
    EXPECT_FALSE(player.Prepared());
    EXPECT_EQ(player.GetPlayPosition(), 0u);
}

// With the real timer: pausing and stopping wait for a refill in progress, so the source's plain
// fields may be read right after (ThreadSanitizer checks this build).
TEST(Player, PauseAndStopWaitForTheRefillOnTheTimerThread) {
    ManualOutput out;
    Source source;
    StreamingPlayer player(out, milliseconds(1));
    player.Create(Cd());
    player.SetFillCallback(&Source::Fill, &source);
    for (int round = 0; round < 3; ++round) {
        player.Play();
        const int before = source.callsSeen.load();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (source.callsSeen.load() < before + 4 && std::chrono::steady_clock::now() < deadline) {
            out.ring->Advance(kSecond / 2);
            std::this_thread::sleep_for(milliseconds(1));
        }
        if (round == 1) {
            player.Stop();
        } else {
            player.Pause();
        }
        EXPECT_GE(source.calls, before + 4);
        EXPECT_EQ(source.next, uint32_t(source.calls) * kRate);
    }
}
