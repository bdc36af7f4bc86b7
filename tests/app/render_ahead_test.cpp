// Playing a song while its render runs ahead, with a render and a sound device the test moves:
// playback waits for the render when it is sent (or catches up) ahead of it, goes on once the render
// is ahead again, plays the frames of the place it was sent to, and takes the song's length from
// the render once it is complete.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "manual_output.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"

using std::chrono::milliseconds;

namespace {

constexpr uint32_t kRate = 44100;
// Frames are numbered in their samples, quietly enough that playback passes them unchanged.
constexpr int kPerStep = 16000;

int64_t FrameIndexAt(const std::vector<uint8_t>& ring, uint32_t offset) {
    const auto left = static_cast<int16_t>(ring[offset] | ring[offset + 1] << 8);
    const auto right = static_cast<int16_t>(ring[offset + 2] | ring[offset + 3] << 8);
    if (left < 1 || left > kPerStep || right > -1) return -1;
    return int64_t{-1 - right} * kPerStep + (left - 1);
}

class RenderAheadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        c = std::make_unique<PlayerController>();
        c->shared.song = std::make_unique<SongData>();
        c->shared.song->duration = 20.0;
        c->CreatePlayer(out, milliseconds(0));
        auto file = std::make_unique<RenderFile>();
        const Failure made = file->CreateTemporary("/tmp");
        ASSERT_TRUE(made.Ok()) << made.text;
        stream = std::make_shared<RenderStream>(std::move(file), kRate, 20 * kRate);
        ASSERT_TRUE(c->transport.PrepareStreamPlayback(stream));
    }
    // The render reaches `seconds`.
    void RenderTo(double seconds) {
        const auto to = static_cast<int64_t>(seconds * kRate);
        std::vector<float> frames;
        for (int64_t i = stream->ReadyFrames(); i < to; ++i) {
            frames.push_back(static_cast<float>(1 + i % kPerStep) / 32768.0f);
            frames.push_back(static_cast<float>(-1 - i / kPerStep) / 32768.0f);
        }
        ASSERT_EQ(write(stream->Fd(), frames.data(), frames.size() * sizeof(float)),
                  static_cast<ssize_t>(frames.size() * sizeof(float)));
        stream->Append(frames.data(), frames.size() / 2);
    }
    // The sound device plays `seconds`, with the refills a timer would run, and a frame drawn.
    void Hear(double seconds) {
        auto frames = static_cast<uint32_t>(seconds * kRate);
        while (frames > 0) {
            const uint32_t step = std::min(frames, 4410u);
            out.ring->Advance(step * 4);
            c->transport.Player()->OnTimer();
            frames -= step;
        }
        c->transport.Update();
    }
    int64_t FrameHeard() { return FrameIndexAt(out.ring->Contents(), out.ring->PlayCursor()); }

    ManualOutput out;
    std::unique_ptr<PlayerController> c;
    std::shared_ptr<RenderStream> stream;
};

}  // namespace

TEST_F(RenderAheadTest, WaitsForTheRenderAndPlaysWhereItWasSent) {
    // Space straight after the load: a second is rendered, not enough to start on.
    RenderTo(1.0);
    c->transport.Start();
    EXPECT_EQ(c->transport.Coarse(), PlayState::Playing);
    EXPECT_TRUE(c->transport.WaitingForRender());
    EXPECT_FALSE(out.ring->Playing());
    RenderTo(4.0);
    c->transport.Update();
    EXPECT_FALSE(c->transport.WaitingForRender());
    ASSERT_TRUE(out.ring->Playing());
    EXPECT_EQ(FrameHeard(), 0);

    // The render stalls (a busy machine): playback holds where it is heard, before it runs dry.
    Hear(1.0);
    EXPECT_FALSE(c->transport.WaitingForRender());
    EXPECT_EQ(FrameHeard(), int64_t{kRate});
    Hear(0.6);
    ASSERT_TRUE(c->transport.WaitingForRender());
    const uint32_t held = c->transport.Frame();
    EXPECT_NEAR(held, 1.6 * kRate, 10);
    EXPECT_NEAR(c->transport.HeardSongTime(), 1.6, 0.01) << "the clock stands while it waits";
    EXPECT_FALSE(out.ring->Playing());

    // A seek past the render waits there, showing the place it was sent to.
    c->transport.SeekTo(12 * kRate);
    EXPECT_TRUE(c->transport.WaitingForRender());
    EXPECT_NEAR(c->transport.HeardSongTime(), 12.0, 0.001);
    RenderTo(14.0);
    c->transport.Update();
    EXPECT_TRUE(c->transport.WaitingForRender()) << "not far enough ahead yet";
    RenderTo(16.0);
    c->transport.Update();
    ASSERT_FALSE(c->transport.WaitingForRender());
    EXPECT_EQ(FrameHeard(), int64_t{12 * kRate});
    Hear(0.5);
    EXPECT_EQ(FrameHeard(), int64_t{12 * kRate + kRate / 2});

    // The render completes shorter than the file said: the song's length is where its sound ends,
    // and playback no longer waits for anything.
    stream->Complete(1.0, 17 * kRate, 0);
    c->transport.TakeRenderedLength(17 * kRate);
    EXPECT_DOUBLE_EQ(c->shared.song->duration, 17.0);
    EXPECT_EQ(c->transport.TotalFrames(), int32_t(17 * kRate));
    Hear(1.6);
    EXPECT_FALSE(c->transport.WaitingForRender());
    EXPECT_TRUE(out.ring->Playing());
}

// Pause and stop end a wait; play from a paused place the render has passed starts at once.
TEST_F(RenderAheadTest, PauseAndStopEndAWait) {
    RenderTo(2.0);
    c->transport.Start();
    ASSERT_TRUE(c->transport.WaitingForRender());
    c->transport.Pause();
    EXPECT_FALSE(c->transport.WaitingForRender());
    EXPECT_EQ(c->transport.Coarse(), PlayState::Paused);
    RenderTo(8.0);
    c->transport.Start();
    EXPECT_FALSE(c->transport.WaitingForRender());
    EXPECT_TRUE(out.ring->Playing());
    c->transport.SeekTo(15 * kRate);
    EXPECT_TRUE(c->transport.WaitingForRender());
    c->transport.Stop();
    EXPECT_FALSE(c->transport.WaitingForRender());
    EXPECT_EQ(c->transport.Frame(), 0u);
}

// L marks where a loop starts, then where it ends; the song then comes back to the start at the
// end, the frames heard being the loop's own, until L ends it.
TEST_F(RenderAheadTest, MarksAndPlaysALoop) {
    RenderTo(20.0);
    stream->Complete(1.0, 20 * kRate, 0);
    c->transport.TakeRenderedLength(20 * kRate);
    c->transport.Start();
    ASSERT_TRUE(out.ring->Playing());
    Hear(1.0);
    c->transport.MarkLoop();
    EXPECT_EQ(c->shared.practice.loopMark, int64_t{kRate});
    EXPECT_FALSE(c->transport.Playback()->Loop().Active()) << "one mark is no loop yet";
    Hear(2.0);
    c->transport.MarkLoop();
    ASSERT_TRUE(c->transport.Playback()->Loop().Active());
    EXPECT_EQ(c->transport.Playback()->Loop().start, int64_t{kRate});
    EXPECT_EQ(c->transport.Playback()->Loop().end, int64_t{3 * kRate});
    EXPECT_EQ(c->shared.practice.loopMark, -1);
    const SongView view = c->ViewOfSong();
    EXPECT_DOUBLE_EQ(view.loopStart, 1.0);
    EXPECT_DOUBLE_EQ(view.loopEnd, 3.0);
    // Five passes later the song is still inside the loop, and what is heard is where it says.
    for (int pass = 0; pass < 5; ++pass) {
        Hear(0.7);
        const uint32_t frame = c->transport.Frame();
        EXPECT_GE(frame, kRate);
        EXPECT_LT(frame, 3 * kRate);
        EXPECT_EQ(FrameHeard(), int64_t{frame});
        EXPECT_NEAR(c->transport.HeardSongTime(), frame / double(kRate), 0.05);
    }
    // L again: the loop ends and the song plays on through its end.
    c->transport.MarkLoop();
    EXPECT_FALSE(c->transport.Playback()->Loop().Active());
    const uint32_t before = c->transport.Frame();
    Hear(3.0);
    EXPECT_EQ(c->transport.Frame(), before + 3 * kRate);
}
