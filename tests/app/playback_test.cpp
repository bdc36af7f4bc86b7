// The transport's operations over a real WAV file and a ring the test moves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "app/session_state.h"
#include "app/transport.h"
#include "audio/streaming_player.h"
#include "audio/wav_reader.h"
#include "manual_output.h"
#include "wav_bytes.h"

using namespace wavtest;
using std::chrono::milliseconds;

namespace {

constexpr uint32_t kRate = 44100;

class PlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/dorvik-playback-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
        t = std::make_unique<Transport>(s);
        s.song = std::make_unique<SongData>();
        s.song->duration = 2.0;
        s.outputWavPath = folder + "/output.wav";
        t->CreatePlayer(out, milliseconds(0));
    }
    void TearDown() override {
        t.reset();
        std::remove((folder + "/output.wav").c_str());
        rmdir(folder.c_str());
    }
    void WriteWav(const Bytes& b) { ASSERT_TRUE(WriteFile(s.outputWavPath, b)); }
    // Plays `frames` frames with the refills a timer would run.
    void PlayFrames(uint32_t frames) {
        while (frames > 0) {
            const uint32_t step = std::min(frames, 4410u);
            out.ring->Advance(step * 4);
            t->Player()->OnTimer();
            frames -= step;
        }
    }
    int64_t FrameAtCursor() {
        const Bytes b = out.ring->Contents();
        return FrameIndexOf(b.data() + out.ring->PlayCursor());
    }
    bool RingSilent() {
        const Bytes b = out.ring->Contents();
        return std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == 0; });
    }

    std::string folder;
    ManualOutput out;
    SessionState s;
    std::unique_ptr<Transport> t;
};

}  // namespace

// Nothing playable comes of a missing, foreign or empty file: no ring, no frame count, the play
// state as it was, and a song time that stays finite whatever is pressed.
TEST_F(PlaybackTest, AFileWithNothingToPlayLeavesTheSongUnplayable) {
    Bytes noWav = Chunk("RIFX", Bytes(64, 1));
    Bytes empty = Riff({Chunk("fmt ", FmtBody(1, 2, kRate, 16)), Chunk("data", {})});
    Bytes noFmt = Riff({Chunk("data", CountingFrames(0, 100))});
    struct Case {
        const char* name;
        const Bytes* file;  // null: no file at all
    } cases[] = {{"missing", nullptr}, {"not a WAV", &noWav}, {"no data", &empty}, {"no format", &noFmt}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        // A playable song first, so that what it left behind must go too.
        WriteWav(CountingWav(kRate));
        ASSERT_TRUE(t->PreparePlayback());
        ASSERT_EQ(t->TotalFrames(), int32_t(kRate));
        std::remove(s.outputWavPath.c_str());
        if (k.file != nullptr) WriteWav(*k.file);
        // Paused at a place in the playable song: the state outlasts what goes.
        t->Start();
        t->Pause();
        EXPECT_FALSE(t->PreparePlayback());
        EXPECT_EQ(t->TotalFrames(), 0);
        EXPECT_FALSE(t->Player()->Prepared());
        EXPECT_EQ(t->Coarse(), PlayState::Paused);
        EXPECT_EQ(t->HeardSongTime(), -1.0);
        t->Start();
        EXPECT_EQ(t->Coarse(), PlayState::Playing);
        EXPECT_EQ(t->HeardSongTime(), -1.0);
        t->SeekTo(5);
        t->Stop();
        EXPECT_EQ(t->Coarse(), PlayState::Stopped);
        EXPECT_EQ(t->HeardSongTime(), -1.0);
    }
}

TEST_F(PlaybackTest, PreparingTakesTheFrameCountAndLengthensAShorterSong) {
    struct Case {
        double songSeconds;
        uint32_t wavFrames;
        double expected;
    } cases[] = {{2.0, 3 * kRate, 3.0}, {5.0, 3 * kRate, 5.0}, {2.0, 2 * kRate + 1, 2.0 + 1.0 / kRate}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.songSeconds);
        s.song->duration = k.songSeconds;
        WriteWav(CountingWav(k.wavFrames));
        // A song before, paused at a place (none before the first): the place goes, the state stays.
        if (t->TotalFrames() > 77) t->SeekTo(77);
        const TransportState before = t->State();
        ASSERT_TRUE(t->PreparePlayback());
        EXPECT_EQ(t->TotalFrames(), int32_t(k.wavFrames));
        EXPECT_DOUBLE_EQ(s.song->duration, k.expected);
        EXPECT_EQ(t->SeekOffset(), 0u);
        EXPECT_EQ(t->State(), before);
        EXPECT_EQ(out.ring->Size(), 2 * 4 * kRate);
    }
}

TEST_F(PlaybackTest, PlaysTheFileFromItsFirstFrameAndTheSongTimeFollows) {
    WriteWav(CountingWav(4 * kRate));
    s.song->duration = 4.0;
    ASSERT_TRUE(t->PreparePlayback());
    t->Start();
    EXPECT_EQ(t->Coarse(), PlayState::Playing);
    EXPECT_DOUBLE_EQ(t->HeardSongTime(), 1.0 / 30);
    PlayFrames(3 * kRate + 5);
    EXPECT_EQ(FrameAtCursor(), 3 * kRate + 5);
    EXPECT_NEAR(t->HeardSongTime(), 3.0 + 5.0 / kRate + 1.0 / 30, 1.5 / kRate);
}

TEST_F(PlaybackTest, SeekWhilePausedStaysPausedAndPlaysOnFromTheNewPlace) {
    WriteWav(CountingWav(4 * kRate));
    s.song->duration = 4.0;
    ASSERT_TRUE(t->PreparePlayback());
    t->Start();
    PlayFrames(kRate / 3);
    t->Pause();
    EXPECT_EQ(t->Coarse(), PlayState::Paused);
    EXPECT_TRUE(s.refreshBits & RefreshNotesView);
    s.refreshBits = 0;

    const uint32_t f = 2 * kRate + 123;
    t->SeekTo(f);
    EXPECT_EQ(t->Coarse(), PlayState::Paused);
    EXPECT_EQ(t->SeekOffset(), f);
    EXPECT_TRUE(s.refreshBits & RefreshNotesView);
    EXPECT_FALSE(out.ring->Playing());
    EXPECT_EQ(out.ring->PlayCursor(), 0u);
    EXPECT_TRUE(RingSilent());
    const double atSeek = double(f) * 4.0 / (4 * kRate) + 1.0 / 30;
    EXPECT_DOUBLE_EQ(t->HeardSongTime(), atSeek);

    t->Start();
    EXPECT_EQ(FrameAtCursor(), f);
    EXPECT_DOUBLE_EQ(t->HeardSongTime(), atSeek);
    PlayFrames(kRate);
    EXPECT_EQ(FrameAtCursor(), f + kRate);
}

TEST_F(PlaybackTest, SeekWhilePlayingPlaysOnAtOnceAndSeekWhileStoppedWaitsThere) {
    WriteWav(CountingWav(4 * kRate));
    ASSERT_TRUE(t->PreparePlayback());
    t->Start();
    PlayFrames(kRate);
    t->SeekTo(kRate / 2);
    EXPECT_TRUE(out.ring->Playing());
    EXPECT_EQ(FrameAtCursor(), kRate / 2);
    PlayFrames(2 * kRate);
    EXPECT_EQ(FrameAtCursor(), kRate / 2 + 2 * kRate);

    t->Stop();
    t->SeekTo(3 * kRate);
    EXPECT_EQ(t->Coarse(), PlayState::Paused);
    EXPECT_FALSE(out.ring->Playing());
    t->Start();
    PlayFrames(kRate / 2);
    EXPECT_EQ(FrameAtCursor(), 3 * kRate + kRate / 2);
}

TEST_F(PlaybackTest, StopRewindsTheReaderAndSilencesThePlayer) {
    WriteWav(CountingWav(3 * kRate));
    ASSERT_TRUE(t->PreparePlayback());
    t->Start();
    PlayFrames(kRate);
    t->SeekTo(kRate);
    PlayFrames(kRate / 2);
    t->Stop();
    EXPECT_EQ(t->Coarse(), PlayState::Stopped);
    EXPECT_EQ(t->SeekOffset(), 0u);
    EXPECT_TRUE(s.refreshBits & RefreshNotesView);
    EXPECT_EQ(t->Wav()->dataChunk.size, t->Wav()->dataSize);
    EXPECT_FALSE(out.ring->Playing());
    EXPECT_TRUE(RingSilent());
    EXPECT_EQ(t->Player()->GetPlayPosition(), 0u);
    t->Start();
    EXPECT_EQ(FrameAtCursor(), 0);
}

TEST_F(PlaybackTest, BackToTheStartKeepsThePlayState) {
    WriteWav(CountingWav(3 * kRate));
    ASSERT_TRUE(t->PreparePlayback());
    t->Start();
    PlayFrames(kRate + 99);
    t->Rewind();
    EXPECT_EQ(t->Coarse(), PlayState::Playing);
    EXPECT_TRUE(out.ring->Playing());
    EXPECT_EQ(FrameAtCursor(), 0);

    PlayFrames(kRate);
    t->Pause();
    t->Rewind();
    EXPECT_EQ(t->Coarse(), PlayState::Paused);
    EXPECT_FALSE(out.ring->Playing());
    EXPECT_DOUBLE_EQ(t->HeardSongTime(), 1.0 / 30);  // above 0: the next play needs no count-in
    t->Start();
    EXPECT_EQ(FrameAtCursor(), 0);
}

TEST_F(PlaybackTest, FillFromWaveHandsOutWholeFramesUntilTheEnd) {
    WriteWav(CountingWav(1000));
    ASSERT_TRUE(t->PreparePlayback());
    Bytes buf(4 * 600);
    uint32_t got = 99;
    Transport::FillFromWave(buf.data(), 600, &got, t.get());
    EXPECT_EQ(got, 600u);
    EXPECT_EQ(FrameIndexOf(buf.data() + 4 * 599), 599);
    Transport::FillFromWave(buf.data(), 600, &got, t.get());
    EXPECT_EQ(got, 400u);
    Transport::FillFromWave(buf.data(), 600, &got, t.get());
    EXPECT_EQ(got, 0u);
    // A song played from its render leaves no reader to fill from.
    EXPECT_FALSE(t->PrepareStreamPlayback(nullptr));
    got = 99;
    Transport::FillFromWave(buf.data(), 600, &got, t.get());
    EXPECT_EQ(got, 0u);
}

// The volume scales what the player is fed, by the square of its share: full volume passes the
// render's bytes untouched, and no volume is silence. The file itself is never changed.
TEST_F(PlaybackTest, TheVolumeScalesWhatIsPlayedAndNothingElse) {
    const Bytes file = CountingWav(kRate);
    const Bytes frames = CountingFrames(0, kRate / 2);
    const struct {
        float percent;
        float gain;
    } cases[] = {{100, 1.0f}, {50, 0.25f}, {0, 0.0f}, {80, 0.64f}};
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.percent << "%");
        WriteWav(file);
        ASSERT_TRUE(t->PreparePlayback());
        t->SetVolume(k.percent);
        EXPECT_FLOAT_EQ(t->Gain(), k.gain);
        t->Start();  // primes the ring through the fill callback
        const Bytes ring = out.ring->Contents();
        ASSERT_GE(ring.size(), frames.size());
        if (k.percent == 100) {
            EXPECT_TRUE(std::equal(frames.begin(), frames.end(), ring.begin())) << "not bit-identical";
        }
        int wrong = 0;
        for (size_t i = 0; i < frames.size(); i += 2) {
            const auto in = static_cast<int16_t>(frames[i] | frames[i + 1] << 8);
            const auto got = static_cast<int16_t>(ring[i] | ring[i + 1] << 8);
            if (got != static_cast<int16_t>(std::lround(in * k.gain)) && ++wrong <= 3)
                ADD_FAILURE() << "sample " << i / 2 << ": " << in << " became " << got;
        }
        t->Stop();
    }
    EXPECT_TRUE(ReadFile(s.outputWavPath) == file) << "the render on disk was changed";
}

TEST_F(PlaybackTest, SetVolumeRoundsAndClamps) {
    const struct {
        float asked;
        int kept;
    } cases[] = {{72.4f, 72}, {72.5f, 73}, {-3, 0}, {250, 100}, {0, 0}, {100, 100}};
    for (const auto& k : cases) {
        t->SetVolume(k.asked);
        EXPECT_EQ(s.volumePercent, k.kept) << k.asked;
        EXPECT_FLOAT_EQ(t->Gain(), float(k.kept * k.kept) / 10000) << k.asked;
    }
    t->SetVolume(NAN);
    EXPECT_EQ(s.volumePercent, 100) << "NaN is no volume; the one before stays";
}
