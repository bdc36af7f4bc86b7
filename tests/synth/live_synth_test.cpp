// The live synthesiser through its Mix path, as the sound device's thread drives it: what a key
// adds to a device buffer, its volume, and events and SoundFont loads from other threads.
#include "synth/live_synth.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "audio/volume.h"
#include "platform/sound.h"

namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr uint32_t kRate = 44100;
constexpr uint32_t kPeriod = 256;

// Mixes `periods` device periods into silence and returns the largest sample seen.
int Peak(LiveSynth& synth, int periods, std::vector<int16_t>* heard = nullptr) {
    int peak = 0;
    std::vector<int16_t> buffer(kPeriod * 2);
    for (int p = 0; p < periods; ++p) {
        std::fill(buffer.begin(), buffer.end(), int16_t{0});
        synth.Mix(buffer.data(), kPeriod, kRate);
        for (int16_t s : buffer) peak = std::max(peak, std::abs(int(s)));
        if (heard != nullptr) heard->insert(heard->end(), buffer.begin(), buffer.end());
    }
    return peak;
}

class LiveSynthTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(synth.LoadSoundFont(kSoundFont).Ok()); }
    LiveSynth synth;
};

}  // namespace

TEST_F(LiveSynthTest, AKeySoundsInTheFirstPeriodAfterItAndFallsSilentAfterItsRelease) {
    EXPECT_EQ(Peak(synth, 4), 0) << "sound before any key";
    ASSERT_TRUE(synth.NoteOn(60, 100));
    std::vector<int16_t> first;
    Peak(synth, 1, &first);
    EXPECT_TRUE(std::any_of(first.begin(), first.begin() + 64, [](int16_t s) { return s != 0; }))
        << "the key's sound does not start with the period after it";
    EXPECT_GT(Peak(synth, 20), 1000) << "the held key is barely heard";
    ASSERT_TRUE(synth.NoteOff(60));
    Peak(synth, 2 * kRate / kPeriod);  // the release and the reverb die away
    EXPECT_EQ(Peak(synth, 20), 0) << "still sounding two seconds after the release";

    synth.NoteOn(64, 100);
    const int held = Peak(synth, 10);
    synth.AllOff();
    Peak(synth, 1);
    // What is left is the reverb's tail, not the key.
    EXPECT_LT(Peak(synth, 4) * 10, held) << "AllOff left the key sounding";
}

TEST_F(LiveSynthTest, AddsToTheSongClampedAndFollowsTheVolumeCurve) {
    // Synthesisers fed alike render alike: one at half volume, one into a song near full scale.
    LiveSynth quiet, loud;
    for (LiveSynth* s : {&quiet, &loud}) ASSERT_TRUE(s->LoadSoundFont(kSoundFont).Ok());
    quiet.SetVolume(50);
    for (LiveSynth* s : {&synth, &quiet, &loud}) s->NoteOn(67, 120);
    std::vector<int16_t> full, half;
    Peak(synth, 8, &full);
    Peak(quiet, 8, &half);
    ASSERT_EQ(full.size(), half.size());
    const float gain = VolumeGain(50);
    for (size_t i = 0; i < full.size(); ++i) {
        ASSERT_NEAR(half[i], full[i] * gain, 1.0) << "sample " << i;
    }
    std::vector<int16_t> song(full.size());
    for (size_t i = 0; i < song.size(); ++i) song[i] = i % 2 ? int16_t(32000) : int16_t(-32000);
    for (size_t at = 0; at < song.size(); at += kPeriod * 2) loud.Mix(song.data() + at, kPeriod, kRate);
    int clamped = 0;
    for (size_t i = 0; i < song.size(); ++i) {
        const int sum = (i % 2 ? 32000 : -32000) + full[i];
        ASSERT_EQ(song[i], std::clamp(sum, -32768, 32767)) << "sample " << i;
        clamped += sum != song[i];
    }
    EXPECT_GT(clamped, 0) << "the key never took the song past full scale";

    // Silent at 0 %, and into a device of another rate nothing is mixed at all.
    quiet.SetVolume(0);
    EXPECT_EQ(Peak(quiet, 4), 0);
    std::vector<int16_t> other(kPeriod * 2, 5);
    synth.Mix(other.data(), kPeriod, 48000);
    EXPECT_EQ(std::count(other.begin(), other.end(), 5), long(other.size()));
}

TEST(LiveSynth, WithoutASoundFontItMixesNothingAndAFailedLoadKeepsTheOneBefore) {
    LiveSynth synth;
    synth.NoteOn(60, 100);
    EXPECT_EQ(Peak(synth, 4), 0);
    const Failure missing = synth.LoadSoundFont("/nonexistent/keys.sf2");
    EXPECT_EQ(missing.kind, FailureKind::SoundFont);
    EXPECT_NE(missing.text.find("/nonexistent/keys.sf2"), std::string::npos) << missing.text;
    EXPECT_FALSE(synth.Loaded());

    ASSERT_TRUE(synth.LoadSoundFont(kSoundFont).Ok());
    EXPECT_FALSE(synth.LoadSoundFont("/dev/null").Ok());
    synth.NoteOn(60, 100);
    EXPECT_GT(Peak(synth, 8), 1000) << "the failed load took the loaded SoundFont away";
}

TEST(LiveSynth, TheChosenInstrumentPlaysAndOutlivesASoundFontLoad) {
    LiveSynth piano, strings, reloaded;
    strings.SetInstrument(0, 40);
    reloaded.SetInstrument(0, 40);
    for (LiveSynth* s : {&piano, &strings, &reloaded}) ASSERT_TRUE(s->LoadSoundFont(kSoundFont).Ok());
    ASSERT_TRUE(reloaded.LoadSoundFont(kSoundFont).Ok());
    std::vector<std::vector<int16_t>> heard(3);
    int i = 0;
    for (LiveSynth* s : {&piano, &strings, &reloaded}) {
        s->NoteOn(60, 100);
        Peak(*s, 8, &heard[i++]);
    }
    EXPECT_NE(heard[0], heard[1]) << "the instrument chosen did not play";
    EXPECT_EQ(heard[1], heard[2]) << "a SoundFont load lost the instrument";
}

TEST(LiveSynthQueue, EveryEventFromManyThreadsArrivesOnceAndInEachThreadsOrder) {
    live_detail::EventQueue queue;
    constexpr int kThreads = 3, kEach = 20000;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&queue, t] {
            for (int i = 0; i < kEach;) {
                // key: the thread; velocity and bankHigh: the event's number within it
                const live_detail::Event e{live_detail::EventKind::NoteOn, uint8_t(t), uint8_t(i & 0xFF),
                                           uint8_t(i >> 8)};
                if (queue.Push(e)) ++i;
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    int taken = 0;
    live_detail::Event e;
    while (taken < kThreads * kEach) {
        if (!queue.Pop(e)) continue;
        ASSERT_LT(e.key, kThreads);
        ASSERT_EQ(e.velocity | e.bankHigh << 8, next[e.key] & 0xFFFF) << "thread " << int(e.key);
        ++next[e.key];
        ++taken;
    }
    for (auto& p : producers) p.join();
    EXPECT_FALSE(queue.Pop(e)) << "an event arrived twice";
}

TEST(LiveSynth, KeysAndSoundFontLoadsFromOtherThreadsWhileTheSoundThreadMixes) {
    LiveSynth synth;
    ASSERT_TRUE(synth.LoadSoundFont(kSoundFont).Ok());
    std::atomic<bool> done{false};
    std::atomic<int> loudest{0};
    std::thread sound([&] {
        while (!done.load()) loudest.store(std::max(loudest.load(), Peak(synth, 1)));
    });
    std::thread keys([&] {
        for (int i = 0; i < 2000; ++i) {
            synth.NoteOn(40 + i % 40, 90);
            synth.NoteOff(40 + (i + 20) % 40);
        }
    });
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(synth.LoadSoundFont(kSoundFont).Ok());
        synth.CollectRetired();
    }
    synth.SetInstrument(0, 40);
    keys.join();
    synth.AllOff();
    synth.NoteOn(60, 100);
    while (loudest.load() == 0) std::this_thread::yield();  // the sound thread has sounded
    done.store(true);
    sound.join();
    synth.AllOff();
    Peak(synth, 2 * kRate / kPeriod);  // what is still queued, then the reverb's tail
    EXPECT_EQ(Peak(synth, 20), 0) << "keys left sounding after AllOff";
}

// The whole way: a key played into a song that the sound device (SDL's "disk" driver, writing what
// it is handed to a file) is playing.
TEST(LiveSynth, AKeyReachesTheSoundDeviceMixedIntoThePlayingSong) {
    const std::string file = "/tmp/dorvik-live-keys-" + std::to_string(getpid()) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    platform::SoundOutput& output = platform::SdlSoundOutput();
    output.SetDevicePeriod(platform::kLiveDeviceFrames);
    std::unique_ptr<platform::SoundRing> song = output.CreateRing({kRate, 2, 16, false, 4}, kRate * 4);
    ASSERT_NE(song, nullptr);
    constexpr int16_t kSong = 1000;
    platform::RingRegions r;
    ASSERT_TRUE(song->Lock(0, 0, r, true));
    for (uint32_t i = 0; i < r.firstBytes / 2; ++i) std::memcpy(r.first + i * 2, &kSong, 2);
    song->Unlock(r);
    ASSERT_TRUE(song->Play());

    LiveSynth synth;
    ASSERT_TRUE(synth.LoadSoundFont(kSoundFont).Ok());
    output.AttachLiveMixer(&synth, kRate);
    synth.NoteOn(60, 100);
    // Played until the device has moved on a quarter of a second past the key.
    const uint32_t start = song->PlayCursor();
    while ((song->PlayCursor() + kRate * 4 - start) % (kRate * 4) < kRate) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    output.AttachLiveMixer(nullptr);
    song.reset();

    std::ifstream in(file, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(file.c_str());
    int songOnly = 0, withKey = 0;
    for (size_t i = 0; i + 2 <= raw.size(); i += 2) {
        int16_t s;
        std::memcpy(&s, raw.data() + i, 2);
        songOnly += s == kSong;
        withKey += s != kSong && s != 0;
    }
    EXPECT_GT(songOnly, 0) << "the song was not heard";
    EXPECT_GT(withKey, int(kRate / 10)) << "the key was not heard in the song";
}
