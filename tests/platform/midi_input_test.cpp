// The MIDI input's judgement of names, the choice of input, and how a list that changes is
// followed, on the scripted input.
#include "platform/midi_input.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(MidiInput, JudgesPortsByTheirNames) {
    struct Case {
        const char* name;
        MidiBackend backend;
        const char* device;
        bool keyboard;
    };
    const Case cases[] = {
        {"Keystation 49:Keystation 49 MIDI 1 24:0", MidiBackend::Alsa, "Keystation 49:Keystation 49 MIDI 1",
         true},
        {"Midi Through:Midi Through Port-0 14:0", MidiBackend::Alsa, "Midi Through:Midi Through Port-0",
         false},
        {"dorvik-midi:out 130:0", MidiBackend::Alsa, "dorvik-midi:out", false},
        {"Dorvik Midi Player:out 131:1", MidiBackend::Alsa, "Dorvik Midi Player:out", false},
        // A name that merely ends in digits keeps them.
        {"Piano:Port 2", MidiBackend::Alsa, "Piano:Port 2", true},
        {"system:midi_capture_1", MidiBackend::Jack, "system:midi_capture_1", true},
        {"a2j:Midi Through [14] (capture): Midi Through Port-0", MidiBackend::Jack,
         "a2j:Midi Through [14] (capture): Midi Through Port-0", false},
        // JACK names have no address to take off, even when they look like one.
        {"Synth:out 1:2", MidiBackend::Jack, "Synth:out 1:2", true},
        {"Test keyboard:keys", MidiBackend::Jack, "Test keyboard:keys", true},
        {"My dorvik clone:keys", MidiBackend::Jack, "My dorvik clone:keys", true},
    };
    for (const Case& c : cases) {
        const MidiInputPort port = DescribeMidiPort(c.name, c.backend);
        EXPECT_EQ(port.name, c.name);
        EXPECT_EQ(port.device, c.device) << c.name;
        EXPECT_EQ(port.keyboard, c.keyboard) << c.name;
    }
}

TEST(MidiInput, PicksTheFirstKeyboardOrTheNameAskedFor) {
    std::vector<MidiInputPort> ports;
    for (const char* name : {"Midi Through:Midi Through Port-0 14:0", "Roland A-49:A-49 MIDI 1 20:0",
                             "Digital Piano:Digital Piano MIDI 1 24:0"}) {
        ports.push_back(DescribeMidiPort(name, MidiBackend::Alsa));
    }
    struct Case {
        const char* wanted;
        int expected;
    };
    const Case cases[] = {
        {"", 1},             // the through port is passed over
        {"Piano", 2},        // part of a name
        {"Through", 0},      // asked for by name, a through port is taken
        {"MIDI 1", 1},       // the first of two that match
        {"piano", -1},       // names match as they are written
        {"Keystation", -1},  // not there
    };
    for (const Case& c : cases)
        EXPECT_EQ(PickMidiInput(ports, c.wanted), c.expected) << '"' << c.wanted << '"';
    EXPECT_EQ(PickMidiInput({ports[0]}, ""), -1) << "no keyboard at all";
}

TEST(MidiInput, DeliversChannelMessagesOnly) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool kept;
    };
    const Case cases[] = {
        {{0x90, 60, 100}, true},   {{0x8F, 60, 0}, true}, {{0xB0, 64, 127}, true}, {{0xC0, 5}, true},
        {{0xD2, 90}, true},        {{0xE0, 0, 64}, true}, {{0xC0, 5, 0}, false},   {{0x90, 60}, false},
        {{0xF8}, false},           {{0xF2, 0, 0}, false}, {{60, 100}, false},      {{0x90, 200, 1}, false},
        {{0x90, 60, 1, 2}, false},
    };
    for (const Case& c : cases) {
        MidiMessage m;
        EXPECT_EQ(MakeMidiMessage(1.5, c.bytes.data(), c.bytes.size(), m), c.kept)
            << "status " << int(c.bytes[0]) << ", " << c.bytes.size() << " bytes";
        if (c.kept) {
            EXPECT_EQ(m.size, c.bytes.size());
            EXPECT_EQ(std::vector<uint8_t>(m.bytes, m.bytes + m.size), c.bytes);
        }
    }
}

TEST(MidiInput, FollowsDevicesPluggedInAndOut) {
    ScriptedMidiInput input;
    input.Plug("Piano:Piano MIDI 1 20:0");
    MidiInputWatch watch;
    MidiInputChanges first = watch.Poll(input);
    EXPECT_EQ(first.added, std::vector<std::string>{"Piano:Piano MIDI 1 20:0"});
    EXPECT_FALSE(first.openLost);

    ASSERT_TRUE(input.Open("Piano:Piano MIDI 1 20:0").Ok());
    input.Send({2.0, 3, {0x90, 60, 90}});
    input.Send({2.1, 1, {0xF8}});  // clock: never delivered
    input.Plug("Pads:Pads MIDI 1 24:0");
    const MidiInputChanges plugged = watch.Poll(input);
    EXPECT_EQ(plugged.added, std::vector<std::string>{"Pads:Pads MIDI 1 24:0"});
    EXPECT_TRUE(plugged.removed.empty());
    EXPECT_FALSE(plugged.openLost);

    input.Unplug("Piano:Piano MIDI 1 20:0");
    const MidiInputChanges unplugged = watch.Poll(input);
    EXPECT_TRUE(unplugged.openLost) << "the open input went";
    EXPECT_EQ(unplugged.removed, std::vector<std::string>{"Piano:Piano MIDI 1 20:0"});
    // What it played before it went is still there to read.
    std::vector<MidiMessage> read;
    ASSERT_EQ(input.Read(read), 1u);
    EXPECT_EQ(read[0].seconds, 2.0);
    EXPECT_EQ(read[0].bytes[1], 60);

    input.Close();
    EXPECT_FALSE(watch.Poll(input).openLost) << "nothing open, nothing lost";
    EXPECT_FALSE(input.Open("Piano:Piano MIDI 1 20:0").Ok()) << "an input that is gone does not open";
}

}  // namespace
}  // namespace platform
