// Playback through the real sound layer on SDL's "disk" driver, which writes whatever the device
// is handed to a file in real time. The tests wait on conditions with generous time limits and
// never check how long anything took.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "platform/sound.h"
#include "wav_bytes.h"

using namespace wavtest;

namespace {

constexpr uint32_t kRate = 44100;

class DiskPlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/dorvik-disk-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (folder + "/heard.raw").c_str(), 1);
        c = std::make_unique<PlayerController>();
        c->shared.song = std::make_unique<SongData>();
        c->shared.outputWavPath = folder + "/output.wav";
        c->CreatePlayer(platform::SdlSoundOutput());
    }
    void TearDown() override {
        c.reset();
        for (const char* f : {"/output.wav", "/heard.raw"}) std::remove((folder + f).c_str());
        rmdir(folder.c_str());
    }

    void Prepare(uint32_t frames) {
        ASSERT_TRUE(WriteFile(c->shared.outputWavPath, CountingWav(frames)));
        c->shared.song->duration = double(frames) / kRate;
        ASSERT_TRUE(c->transport.PreparePlayback());
    }
    uint32_t SongFrame() const {
        return c->transport.Player()->GetPlayPosition() + c->transport.SeekOffset();
    }
    void WaitForFrame(uint32_t frame) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (SongFrame() < frame) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "stuck at frame " << SongFrame();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // Ends playback and returns the frame index of every frame the device was handed, -1 for
    // silence. Closing the device flushes its file.
    std::vector<int64_t> Heard() {
        c->transport.Stop();
        c.reset();
        const Bytes raw = ReadFile(folder + "/heard.raw");
        std::vector<int64_t> frames;
        for (size_t i = 0; i + 4 <= raw.size(); i += 4) {
            const int64_t f = FrameIndexOf(raw.data() + i);
            if (f < 0) {
                EXPECT_EQ(raw[i] | raw[i + 1] | raw[i + 2] | raw[i + 3], 0) << "noise at byte " << i;
            }
            frames.push_back(f);
        }
        return frames;
    }
    // The sounding frames, in the order heard.
    static std::vector<int64_t> Sounding(const std::vector<int64_t>& heard) {
        std::vector<int64_t> s;
        for (int64_t f : heard) {
            if (f >= 0) s.push_back(f);
        }
        return s;
    }
    static std::vector<int64_t> Range(int64_t from, int64_t to) {
        std::vector<int64_t> r;
        for (int64_t i = from; i < to; ++i) r.push_back(i);
        return r;
    }

    std::string folder;
    std::unique_ptr<PlayerController> c;
};

}  // namespace

TEST_F(DiskPlaybackTest, PlaysEveryFrameInOrderThenSilence) {
    const uint32_t total = 2 * kRate + kRate / 2;
    Prepare(total);
    c->transport.Start();
    WaitForFrame(total + kRate / 2);
    const std::vector<int64_t> heard = Heard();
    EXPECT_EQ(Sounding(heard), Range(0, total));
    // Silence before the first frame is the device running before the start; after the last
    // frame there is nothing but silence.
    size_t last = heard.size();
    while (last > 0 && heard[last - 1] < 0) --last;
    EXPECT_GT(heard.size() - last, size_t(kRate / 4)) << "the silence after the end was heard";
}

TEST_F(DiskPlaybackTest, PauseThenPlayContinuesFromTheFrameWhereItStopped) {
    const uint32_t total = 3 * kRate;
    Prepare(total);
    c->transport.Start();
    // Once before the first refill and once after it.
    for (uint32_t at : {kRate / 4, kRate + kRate / 3}) {
        WaitForFrame(at);
        c->transport.Pause();
        const uint32_t paused = SongFrame();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_EQ(SongFrame(), paused) << "the position moved while paused";
        c->transport.Start();
    }
    WaitForFrame(total + kRate / 4);
    EXPECT_EQ(Sounding(Heard()), Range(0, total));
}

TEST_F(DiskPlaybackTest, SeekThenPlayContinuesFromTheSeekFrame) {
    const uint32_t total = 3 * kRate;
    const uint32_t whilePlaying = 2 * kRate, whilePaused = kRate / 2 + 7;
    Prepare(total);
    c->transport.Start();
    WaitForFrame(kRate / 3);
    c->transport.SeekTo(whilePlaying);
    WaitForFrame(whilePlaying + kRate / 3);
    c->transport.Pause();
    c->transport.SeekTo(whilePaused);
    c->transport.Start();
    WaitForFrame(total + kRate / 4);
    const std::vector<int64_t> s = Sounding(Heard());

    // Three runs: from 0, from the first seek frame, from the second, each in order without a gap.
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (int64_t f : s) {
        if (runs.empty() || f != runs.back().second) runs.push_back({f, f});
        runs.back().second = f + 1;
    }
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(runs[1].first, whilePlaying);
    EXPECT_EQ(runs[2].first, whilePaused);
    EXPECT_EQ(runs[2].second, total);
}
