// The MIDI output's rules on the scripted output: which output a name means, and an instrument
// that is unplugged and plugged back while open.
#include "platform/midi_output.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(MidiOutput, PicksTheInstrumentANameMeans) {
    const std::vector<MidiOutputPort> ports = {
        DescribeMidiOutputPort("Midi Through:Midi Through Port-0 14:0", MidiBackend::Alsa),
        DescribeMidiOutputPort("dorvik-midi:input", MidiBackend::Jack),
        DescribeMidiOutputPort("Digital Piano:Digital Piano MIDI 1 20:0", MidiBackend::Alsa),
        DescribeMidiOutputPort("Synth:in", MidiBackend::Jack),
    };
    EXPECT_FALSE(ports[0].instrument);
    EXPECT_FALSE(ports[1].instrument) << "a port of our own would play the song back into us";
    EXPECT_EQ(ports[2].device, "Digital Piano:Digital Piano MIDI 1");
    const struct {
        const char* wanted;
        int index;
    } cases[] = {
        {"piano", 2},    // any case
        {"MIDI", 2},     // an instrument before the through port that also matches
        {"through", 0},  // asked for by name, it is taken all the same
        {"in", 3},       // an instrument after our own port, which matches first
        {"trumpet", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(PickMidiOutput(ports, c.wanted), c.index) << c.wanted;
}

TEST(MidiOutput, AnInstrumentUnpluggedWhileOpenIsNoticed) {
    ScriptedMidiOutput output;
    MidiOutputWatch watch;
    output.Plug("Piano:in");
    EXPECT_EQ(watch.Poll(output).added, std::vector<std::string>{"Piano:in"});
    EXPECT_FALSE(output.Open("Organ:in").Ok());
    ASSERT_TRUE(output.Open("Piano:in").Ok());
    const uint8_t note[3] = {0x90, 60, 100};
    const uint8_t bad[3] = {0x90, 0x80, 100};
    EXPECT_TRUE(output.Send(note, 3));
    EXPECT_FALSE(output.Send(bad, 3)) << "a data byte with its top bit set went out";
    EXPECT_FALSE(output.Send(note, 2));

    output.Unplug("Piano:in");
    const MidiOutputChanges gone = watch.Poll(output);
    EXPECT_TRUE(gone.openLost);
    EXPECT_EQ(gone.removed, std::vector<std::string>{"Piano:in"});
    EXPECT_FALSE(output.Send(note, 3));
    output.Plug("Piano:in");
    EXPECT_FALSE(watch.Poll(output).openLost);
    EXPECT_TRUE(output.Send(note, 3));
    EXPECT_EQ(output.TakeSent().size(), 2u);
    EXPECT_TRUE(output.SentSoFar().empty());
}

TEST(MidiOutput, TellsWhenTheInputAndOutputAreOneInstrument) {
    const struct {
        const char* input;
        const char* output;
        MidiBackend backend;
        bool same;
    } cases[] = {
        {"Digital Piano:Digital Piano MIDI 1 20:0", "Digital Piano:Digital Piano MIDI 1 20:0",
         MidiBackend::Alsa, true},
        {"Digital Piano:Digital Piano MIDI 1 24:0", "Digital Piano:Digital Piano MIDI 1 20:0",
         MidiBackend::Alsa, true},  // plugged in again at another address
        {"Keystation:Keystation MIDI 1 20:0", "Synth:Synth MIDI 1 24:0", MidiBackend::Alsa, false},
        {"Digital:Piano 20:0", "Digital Piano:Piano 24:0", MidiBackend::Alsa,
         false},  // a prefix is not a match
        {"Midi Through:Midi Through Port-0 14:0", "Midi Through:Midi Through Port-0 14:0", MidiBackend::Alsa,
         false},
        {"a2j:Digital Piano [20] (capture): Digital Piano MIDI 1",
         "a2j:Digital Piano [20] (playback): Digital Piano MIDI 1", MidiBackend::Jack, true},
        {"a2j:Keystation [20] (capture): Keystation MIDI 1", "a2j:Synth [24] (playback): Synth MIDI 1",
         MidiBackend::Jack, false},
        {"system:midi_capture_1", "system:midi_playback_1", MidiBackend::Jack, false},  // cannot tell
        {"", "", MidiBackend::Alsa, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameMidiInstrument(c.input, c.output, c.backend), c.same) << c.input << " / " << c.output;
    }
}

}  // namespace
}  // namespace platform
