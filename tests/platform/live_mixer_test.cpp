// The live mixer on the real sound device, through SDL's "disk" driver, which writes what each
// period hands it to a file in real time. The tests wait for conditions, never for a time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>

#include "platform/sound.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr int16_t kSong = 1000;  // every sample of the test's song
constexpr int16_t kLive = 7;     // what the test's mixer adds

// Adds kLive to every sample and counts its calls and the frames it was asked for.
class AddingMixer final : public platform::LiveMixer {
  public:
    void Mix(int16_t* stereo, uint32_t frames, uint32_t rate) override {
        for (uint32_t i = 0; i < frames * 2; ++i) stereo[i] = int16_t(stereo[i] + kLive);
        lastFrames.store(frames);
        lastRate.store(rate);
        calls.fetch_add(1);
    }
    std::atomic<int> calls{0};
    std::atomic<uint32_t> lastFrames{0};
    std::atomic<uint32_t> lastRate{0};
};

void WaitForCalls(const AddingMixer& mixer, int atLeast) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (mixer.calls.load() < atLeast) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline)
            << "the mixer was called " << mixer.calls.load() << " times, expected at least " << atLeast;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class LiveMixerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", File().c_str(), 1);
        platform::SdlSoundOutput().SetDevicePeriod(platform::kLiveDeviceFrames);
    }
    static void TearDownTestSuite() { std::remove(File().c_str()); }
    static std::string File() { return "/tmp/dorvik-live-mixer-" + std::to_string(getpid()) + ".raw"; }
};

}  // namespace

TEST_F(LiveMixerTest, AddsToTheSongWhileItPlaysAndStopsTheMomentItIsDetached) {
    platform::SoundOutput& output = platform::SdlSoundOutput();
    const platform::SoundFormat format{kRate, 2, 16, false, 4};
    std::unique_ptr<platform::SoundRing> ring = output.CreateRing(format, kRate * 4);
    ASSERT_NE(ring, nullptr);
    platform::RingRegions r;
    ASSERT_TRUE(ring->Lock(0, 0, r, true));
    for (uint32_t i = 0; i < r.firstBytes / 2; ++i) std::memcpy(r.first + i * 2, &kSong, 2);
    ring->Unlock(r);
    ASSERT_TRUE(ring->Play());

    AddingMixer mixer;
    output.AttachLiveMixer(&mixer);
    WaitForCalls(mixer, 20);
    output.AttachLiveMixer(nullptr);
    const int calls = mixer.calls.load();
    EXPECT_EQ(mixer.lastFrames.load(), platform::kLiveDeviceFrames);
    EXPECT_EQ(mixer.lastRate.load(), kRate);
    // The ring goes on playing; the mixer must not be called again.
    const uint32_t cursor = ring->PlayCursor();
    while (ring->PlayCursor() == cursor) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(mixer.calls.load(), calls) << "called after it was detached";
    ring->Stop();
    ring.reset();  // closing the device flushes its file

    std::ifstream in(File(), std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<int16_t, int> seen;
    int16_t last = 0;
    for (size_t i = 0; i + 2 <= raw.size(); i += 2) {
        int16_t s;
        std::memcpy(&s, raw.data() + i, 2);
        seen[s]++;
        if (s != 0) last = s;
    }
    EXPECT_GT(seen[kSong + kLive], 0) << "the live sound never reached the device";
    EXPECT_EQ(last, kSong) << "the song did not play on alone after the mixer was detached";
    for (const auto& [value, count] : seen) {
        EXPECT_TRUE(value == 0 || value == kLive || value == kSong || value == kSong + kLive)
            << count << " samples of " << value;
    }
}

TEST_F(LiveMixerTest, WithoutASongItMixesIntoADeviceOfItsOwn) {
    AddingMixer mixer;
    platform::SoundOutput& output = platform::SdlSoundOutput();
    output.AttachLiveMixer(&mixer, 48000);
    WaitForCalls(mixer, 5);
    EXPECT_EQ(mixer.lastRate.load(), 48000u);

    // A song of another sample format cannot take the mixer over; one of 16-bit stereo does.
    std::unique_ptr<platform::SoundRing> bytes = output.CreateRing({kRate, 1, 8, false, 1}, kRate);
    ASSERT_NE(bytes, nullptr);
    std::unique_ptr<platform::SoundRing> song = output.CreateRing({kRate, 2, 16, false, 4}, kRate * 4);
    ASSERT_NE(song, nullptr);
    const int before = mixer.calls.load();
    WaitForCalls(mixer, before + 5);
    EXPECT_EQ(mixer.lastRate.load(), kRate) << "the song's device did not take the mixer over";
    song.reset();
    const int after = mixer.calls.load();
    WaitForCalls(mixer, after + 5);
    EXPECT_EQ(mixer.lastRate.load(), 48000u) << "the mixer's own device did not come back";
    output.AttachLiveMixer(&mixer, 22050);
    const int reopened = mixer.calls.load();
    WaitForCalls(mixer, reopened + 5);
    EXPECT_EQ(mixer.lastRate.load(), 22050u) << "the mixer's own device kept its old rate";
    output.AttachLiveMixer(nullptr);
    bytes.reset();
}
