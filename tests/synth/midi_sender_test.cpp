// The sender's thread against the steady clock, into the scripted output, while the test thread
// changes what plays: every note of the song arrives once and in order, and when the sender goes
// nothing is left sounding. Nothing here depends on how fast the machine is: the test waits for
// the song to finish, however long that takes.
#include "synth/midi_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// Forty notes 5 ms apart on two channels, each held 20 ms.
SongEvents Quick() {
    SongEvents song;
    for (int i = 0; i < 40; ++i) {
        const auto channel = static_cast<uint8_t>(i % 2);
        const double at = 0.005 * i;
        song.events.push_back({at, static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(40 + i), 100,
                               static_cast<int16_t>(channel)});
        song.events.push_back(
            {at + 0.02, static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(40 + i), 0, kNoPart});
    }
    std::stable_sort(song.events.begin(), song.events.end(),
                     [](const SongEvent& a, const SongEvent& b) { return a.seconds < b.seconds; });
    song.channels = 3;
    return song;
}

bool WaitFor(const MidiSender& sender) {
    for (int i = 0; i < 2000 && !sender.Finished(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return sender.Finished();
}

// What sounds on the instrument after `sent`: keys struck and not let go, by channel and key.
int Sounding(const std::vector<platform::ScriptedMidiOutput::Sent>& sent) {
    bool on[16][128] = {};
    for (const auto& m : sent) {
        const int channel = m.bytes[0] & 15;
        const int kind = m.bytes[0] & 0xF0;
        if (kind == 0x90) on[channel][m.bytes[1]] = true;
        if (kind == 0x80) on[channel][m.bytes[1]] = false;
        if (kind == 0xB0 && m.bytes[1] == 123)
            std::fill(std::begin(on[channel]), std::end(on[channel]), false);
    }
    int count = 0;
    for (const auto& channel : on)
        count += static_cast<int>(std::count(std::begin(channel), std::end(channel), true));
    return count;
}

TEST(MidiSender, EveryNoteArrivesInOrderAndNothingIsLeftSounding) {
    const SongEvents song = Quick();
    platform::ScriptedMidiOutput output;
    output.Plug("Piano");
    ASSERT_TRUE(output.Open("Piano").Ok());
    {
        MidiSender sender(song, &output);
        sender.SetSpeed(2.0);
        sender.Play();
        ASSERT_TRUE(WaitFor(sender));
    }
    std::vector<int> keys;
    for (const auto& m : output.SentSoFar()) {
        if ((m.bytes[0] & 0xF0) == 0x90) keys.push_back(m.bytes[1]);
    }
    ASSERT_EQ(keys.size(), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(keys[static_cast<size_t>(i)], 40 + i);
    EXPECT_EQ(Sounding(output.SentSoFar()), 0);
}

TEST(MidiSender, ChangesFromAnotherThreadWhilePlaying) {
    const SongEvents song = Quick();
    platform::ScriptedMidiOutput first, second;
    first.Plug("One");
    second.Plug("Two");
    ASSERT_TRUE(first.Open("One").Ok());
    ASSERT_TRUE(second.Open("Two").Ok());
    MidiSender sender(song, &first);
    sender.SetSpeed(0.25);
    sender.Play();
    PartMutes mutes;
    for (int i = 0; i < 20; ++i) {
        mutes.parts.set(0, i % 2 == 0);
        sender.SetMutes(mutes);
        sender.SetLatency(0.001 * i);
        sender.Shift(0.0005);
        // The player's own keys go out between the song's messages.
        const uint8_t on[3] = {0x9F, 100, 80}, off[3] = {0x8F, 100, 0};
        EXPECT_TRUE(sender.SendNow(on, 3) && sender.SendNow(off, 3));
        (void)sender.Position();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The output changes part-way: the first is let go of entirely before the second hears anything.
    sender.SetOutput(&second);
    EXPECT_EQ(Sounding(first.SentSoFar()), 0);
    sender.Seek(0.1);
    sender.SetSpeed(2.0);
    ASSERT_TRUE(WaitFor(sender));
    sender.Pause();
    EXPECT_EQ(Sounding(second.SentSoFar()), 0);
    // Unplugged under the sender: what it sends is refused, and counted.
    second.Unplug("Two");
    sender.Seek(0.0);
    sender.Play();
    ASSERT_TRUE(WaitFor(sender));
    EXPECT_GT(sender.Refused(), 0u);
}

}  // namespace
