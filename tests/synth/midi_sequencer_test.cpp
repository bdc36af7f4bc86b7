// The sequencer on scripted clocks: what goes out, and when it is due, as the song plays at a
// speed, loops, seeks, pauses, waits, and has parts muted or moved.
#include "synth/midi_sequencer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

SongEvent Ev(double seconds, int status, int data1, int data2 = 0, int part = kNoPart) {
    return {seconds, static_cast<uint8_t>(status), static_cast<uint8_t>(data1), static_cast<uint8_t>(data2),
            static_cast<int16_t>(part)};
}

SongEvents Song(std::vector<SongEvent> events) {
    SongEvents song;
    song.events = std::move(events);
    for (const SongEvent& e : song.events)
        song.channels = static_cast<uint16_t>(song.channels | (1u << (e.status & 15)));
    return song;
}

// Messages as "90 3c 64" strings, for messages that say what came.
std::vector<std::string> Text(const MidiSequencer::Out& out) {
    std::vector<std::string> lines;
    for (const SequencedMessage& m : out) {
        char text[12];
        if (m.size == 2) {
            std::snprintf(text, sizeof text, "%02x %02x", m.bytes[0], m.bytes[1]);
        } else {
            std::snprintf(text, sizeof text, "%02x %02x %02x", m.bytes[0], m.bytes[1], m.bytes[2]);
        }
        lines.emplace_back(text);
    }
    return lines;
}

using Lines = std::vector<std::string>;

// Two channels: a C on channel 0 at 0 s held to 1 s, an E on channel 1 from 1 to 2 s, the drums
// at 0.5 s, and the end of the song at 3 s.
SongEvents TwoVoices() {
    return Song({Ev(0.0, 0x90, 60, 100, 0), Ev(0.5, 0x99, 36, 90, kDrumsPart), Ev(0.6, 0x89, 36),
                 Ev(1.0, 0x80, 60), Ev(1.0, 0x91, 64, 80, 1), Ev(2.0, 0x81, 64), Ev(3.0, 0xB0, 7, 100)});
}

TEST(MidiSequencer, PlaysAtTheSpeedWithTheLatencyTakenOff) {
    const SongEvents song = TwoVoices();
    MidiSequencer s(song);
    MidiSequencer::Out out;
    s.SetSpeed(0.5, 0);
    s.SetLatency(0.1, 0);
    s.Play(10.0, out);
    EXPECT_EQ(Text(out), Lines{"90 3c 64"});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_DOUBLE_EQ(out[0].due, 9.9);  // due before it was asked for: sent at once
    out.clear();
    // The drums at 0.5 s of the song are 1 s away at half speed, less the latency.
    EXPECT_DOUBLE_EQ(s.NextDue(10.0), 10.9);
    s.Advance(10.85, out);
    EXPECT_TRUE(out.empty());
    s.Advance(10.9, out);
    EXPECT_EQ(Text(out), Lines{"99 24 5a"});
    out.clear();
    s.Advance(11.95, out);  // 1 s of the song: the C ends and the E starts, in the song's order
    EXPECT_EQ(Text(out), (Lines{"89 24 00", "80 3c 00", "91 40 50"}));
    EXPECT_DOUBLE_EQ(s.Position(11.95), 0.975);
    out.clear();
    EXPECT_FALSE(s.Finished(15.0));
    s.Advance(16.0, out);
    EXPECT_TRUE(s.Finished(16.0));
}

TEST(MidiSequencer, BreaksLetEveryNoteGoAndRestoreTheChannelsAfter) {
    // A channel with a program, a volume, a pitch bend and a bend range set through a registered
    // parameter before its note; a second channel that plays nothing yet.
    const SongEvents song = Song({Ev(0.0, 0xC0, 5), Ev(0.0, 0xB0, 101, 0), Ev(0.0, 0xB0, 100, 0),
                                  Ev(0.0, 0xB0, 6, 12), Ev(0.1, 0xB0, 7, 90), Ev(0.2, 0xE0, 0, 80),
                                  Ev(0.5, 0x90, 60, 100, 0), Ev(0.7, 0xB1, 7, 50), Ev(2.0, 0x80, 60)});
    MidiSequencer s(song);
    MidiSequencer::Out out;
    s.Play(0.0, out);
    s.Advance(1.0, out);
    out.clear();
    s.Pause(1.0, out);
    const Lines released{"80 3c 00", "b0 7b 00", "b0 79 00", "b1 7b 00", "b1 79 00"};
    EXPECT_EQ(Text(out), released);
    out.clear();
    s.Pause(1.5, out);
    s.Stop(1.5, out);
    EXPECT_TRUE(out.empty()) << "nothing sounds: nothing more to let go";
    // Seeking to 1 s: the channels get back what they had there, the parameter in its order; the
    // note that began before 1 s is not struck again.
    s.Seek(1.0, 2.0, out);
    s.Play(2.0, out);
    EXPECT_EQ(Text(out),
              (Lines{"c0 05", "b0 07 5a", "e0 00 50", "b1 07 32", "b0 65 00", "b0 64 00", "b0 06 0c"}));
    out.clear();
    s.Advance(3.5, out);
    EXPECT_TRUE(out.empty()) << "a note-off for a key that does not sound: " << Text(out)[0];
}

TEST(MidiSequencer, LoopWrapsLettingGoAtItsEnd) {
    const SongEvents song = Song({Ev(0.0, 0xC0, 1), Ev(0.5, 0x90, 50, 90, 0), Ev(1.0, 0x90, 60, 90, 0),
                                  Ev(1.5, 0xC0, 2), Ev(2.5, 0x90, 62, 90, 0), Ev(3.0, 0x90, 64, 90, 0)});
    MidiSequencer s(song);
    MidiSequencer::Out out;
    s.SetLoop(1.0, 3.0, 0.0, out);
    s.Play(0.0, out);
    s.Advance(2.9, out);
    EXPECT_EQ(Text(out), (Lines{"c0 01", "90 32 5a", "90 3c 5a", "c0 02", "90 3e 5a"}));
    out.clear();
    // Past the loop's end: the note at 3 s is not played, everything is let go where the song
    // turns, and the second pass begins with the program the loop's start had.
    s.Advance(4.0, out);
    EXPECT_EQ(Text(out), (Lines{"80 32 00", "80 3c 00", "80 3e 00", "b0 7b 00", "b0 79 00", "c0 01",
                                "90 3c 5a", "c0 02"}));
    EXPECT_DOUBLE_EQ(out[0].due, 3.0);
    EXPECT_DOUBLE_EQ(s.Position(4.0), 2.0);
    EXPECT_FALSE(s.Finished(100.0));
    // A speed change in the second pass keeps the place; the next wrap is where it should be.
    s.SetSpeed(2.0, 4.0);
    EXPECT_DOUBLE_EQ(s.Position(4.25), 2.5);
    EXPECT_DOUBLE_EQ(s.NextDue(4.0), 4.25);
    // With the loop gone the song plays on to its end.
    out.clear();
    s.SetLoop(0, 0, 4.25, out);
    s.Advance(4.5, out);
    EXPECT_EQ(Text(out).back(), "90 40 5a");
}

TEST(MidiSequencer, MutesAndTranspositionChangeWhatIsHeard) {
    const SongEvents song =
        Song({Ev(0.0, 0x90, 60, 100, 0), Ev(0.0, 0x90, 48, 100, 1), Ev(0.0, 0x99, 36, 100, kDrumsPart),
              Ev(0.0, 0x90, 127, 100, kNoPart), Ev(1.0, 0x80, 60), Ev(1.0, 0x80, 48), Ev(1.0, 0x89, 36),
              Ev(1.0, 0x80, 127), Ev(2.0, 0x90, 62, 100, 1)});
    MidiSequencer s(song);
    MidiSequencer::Out out;
    PartMutes mutes;
    mutes.parts.set(1);
    mutes.drums = true;
    s.SetMutes(mutes, 0, out);
    s.SetTransposition(2, 0, out);
    EXPECT_TRUE(out.empty()) << "nothing sounds yet: nothing to let go";
    s.Play(0.0, out);
    s.Advance(1.5, out);
    // Part 0 moved up, the key moved off the keyboard left out with its note-off.
    EXPECT_EQ(Text(out), (Lines{"90 3e 64", "80 3e 00"}));
    out.clear();
    // Hearing part 1 again lets go of what sounds (nothing) and plays its next note.
    s.SetMutes(PartMutes{}, 1.5, out);
    s.Advance(2.0, out);
    EXPECT_EQ(Text(out).back(), "90 40 64");
    out.clear();
    // A transposition that changes while a note sounds lets it go first, under its old key.
    s.SetTransposition(0, 2.5, out);
    EXPECT_EQ(Text(out), (Lines{"80 40 00", "b0 7b 00", "b0 79 00", "b9 7b 00", "b9 79 00"}));
}

TEST(MidiSequencer, WaitHoldsTheSongAndKeepsItsNotes) {
    const SongEvents song = Song({Ev(0.0, 0x90, 60, 100, 0), Ev(1.0, 0x80, 60), Ev(1.0, 0x90, 62, 100, 0)});
    MidiSequencer s(song);
    MidiSequencer::Out out;
    s.Play(0.0, out);
    s.Advance(0.5, out);
    out.clear();
    s.Wait(true, 0.5);
    s.Advance(30.0, out);
    EXPECT_TRUE(out.empty()) << "the song went on while it waited";
    EXPECT_DOUBLE_EQ(s.Position(30.0), 0.5);
    s.Wait(false, 30.0);
    s.Advance(30.5, out);
    EXPECT_EQ(Text(out), (Lines{"80 3c 00", "90 3e 64"}));
}

TEST(MidiSequencer, AKeyStruckAgainIsLetGoFirst) {
    const SongEvents song =
        Song({Ev(0.0, 0x90, 60, 100, 0), Ev(0.5, 0x90, 60, 90, 0), Ev(1.0, 0x80, 60), Ev(1.5, 0x80, 60)});
    MidiSequencer s(song);
    MidiSequencer::Out out;
    s.Play(0.0, out);
    s.Advance(2.0, out);
    EXPECT_EQ(Text(out), (Lines{"90 3c 64", "80 3c 00", "90 3c 5a", "80 3c 00"}));
}

}  // namespace

namespace {

// Kept in step with another clock, the song is moved by small amounts without a break: nothing is
// let go, a note already sent is not sent again, and what falls due sooner goes at once.
TEST(MidiSequencer, AShiftMovesTheClockWithoutBreakingTheFlow) {
    const SongEvents song = TwoVoices();
    MidiSequencer s(song);
    MidiSequencer::Out out;
    s.Play(10.0, out);
    out.clear();
    s.Shift(-0.2, 10.4);  // back over the start: the C is not struck again
    s.Advance(10.4, out);
    EXPECT_TRUE(out.empty()) << "got " << testing::PrintToString(Text(out));
    EXPECT_NEAR(s.Position(10.4), 0.2, 1e-9);
    s.Shift(0.35, 10.4);  // on past the drums: they go at once
    s.Advance(10.4, out);
    EXPECT_EQ(Text(out), Lines{"99 24 5a"});
    // Inside a loop, no shift carries the clock over the loop's end.
    s.SetLoop(0.0, 1.5, 10.4, out);
    out.clear();
    s.Shift(1.2, 10.4);
    EXPECT_NEAR(s.Position(10.4), 0.55, 1e-9);
}

}  // namespace
