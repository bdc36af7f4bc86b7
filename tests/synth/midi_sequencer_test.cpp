// The sequencer on scripted clocks: what goes out, and when it is due, as the song plays at a
// speed, loops, seeks, pauses, waits, and has parts muted or moved.
#include "synth/midi_sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
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

#include "synth/click_notes.h"

namespace {

// The song's C (0 to 1 s) and drums, with a click on every half second: two beats to a bar.
SongEvents Clicked() {
    SongEvents song = TwoVoices();
    std::vector<Beat> beats;
    for (int i = 0; i < 8; ++i) beats.push_back({i * 0.5, i % 2 == 0});
    AddClickNotes(beats, 1.0f, song);
    return song;
}

// Each click struck, as "key@due" on the caller's clock.
std::vector<std::string> Clicks(const MidiSequencer::Out& out) {
    std::vector<std::string> clicks;
    for (const SequencedMessage& m : out) {
        if (m.bytes[0] != (0x90 | kPercussionChannel)) continue;
        if (m.bytes[1] != kAccentClickKey && m.bytes[1] != kBeatClickKey) continue;
        char text[32];
        std::snprintf(text, sizeof text, "%s@%.2f", m.bytes[1] == kAccentClickKey ? "bar" : "beat", m.due);
        clicks.emplace_back(text);
    }
    return clicks;
}

TEST(ClickNotes, FallAmongTheSongsEventsAndEndBeforeTheNextBeat) {
    SongEvents song = Song({Ev(0.0, 0x90, 60, 100, 0), Ev(0.04, 0x80, 60)});
    AddClickNotes({{0.0, true}, {0.03, false}}, 0.5f, song);
    std::vector<std::string> order;
    for (const SongEvent& e : song.events) {
        char text[24];
        std::snprintf(text, sizeof text, "%02x %d @%.3f", e.status, e.data1, e.seconds);
        order.emplace_back(text);
    }
    EXPECT_EQ(order, (Lines{"90 60 @0.000", "99 76 @0.000", "89 76 @0.015", "99 77 @0.030", "80 60 @0.040",
                            "89 77 @0.080"}));
    EXPECT_EQ(song.events[1].data2, AccentClickVelocity(0.5f));
    EXPECT_LT(BeatClickVelocity(0.5f), AccentClickVelocity(0.5f));
    EXPECT_GT(AccentClickVelocity(1.0f), AccentClickVelocity(0.5f));
    SongEvents quiet = TwoVoices();
    AddClickNotes({{0.0, true}}, 0.0f, quiet);
    EXPECT_EQ(quiet.events.size(), TwoVoices().events.size()) << "a metronome at no volume strikes nothing";
}

// The clicks keep to the song's clock as its notes do: speed, loop, seek and wait, and they are
// struck only while the metronome is on, whatever the drums' mute.
TEST(MidiSequencer, TheMetronomeClicksOnTheSongsClockWhileItIsOn) {
    const SongEvents song = Clicked();
    MidiSequencer s(song);
    MidiSequencer::Out out;
    PartMutes mutes;
    mutes.drums = true;
    s.SetMutes(mutes, 0, out);
    s.SetSpeed(0.5, 0);
    s.Play(0.0, out);
    s.Advance(0.9, out);
    EXPECT_EQ(Clicks(out), Lines{}) << "the metronome is off until it is turned on";
    s.SetMetronome(true);
    out.clear();
    s.Advance(2.0, out);  // at half speed: beats at 1 s (the one at 0.5 s of the song) and 2 s
    EXPECT_EQ(Clicks(out), (Lines{"beat@1.00", "bar@2.00"}));
    EXPECT_EQ(Text(out).back(), "99 4c 7f");

    // Waiting holds the clicks with the song.
    out.clear();
    s.Wait(true, 2.0);
    s.Advance(10.0, out);
    s.Wait(false, 10.0);
    s.Advance(11.0, out);
    EXPECT_EQ(Clicks(out), Lines{"beat@11.00"});

    // A loop over the second bar clicks it again on each pass; a seek clicks on from its place.
    out.clear();
    s.SetSpeed(1.0, 11.0);
    s.SetLoop(1.0, 2.0, 11.0, out);  // the song is at 1.5 s
    out.clear();
    s.Advance(13.0, out);
    EXPECT_EQ(Clicks(out), (Lines{"bar@11.50", "beat@12.00", "bar@12.50", "beat@13.00"}));
    s.SetLoop(0, 0, 13.0, out);
    out.clear();
    s.Seek(3.0, 13.0, out);
    s.Advance(13.5, out);
    EXPECT_EQ(Clicks(out), (Lines{"bar@13.00", "beat@13.50"}));

    // Turned off with a click sounding: no more clicks, and the one struck is still let go.
    s.SetMetronome(false);
    out.clear();
    s.Advance(20.0, out);
    EXPECT_EQ(Clicks(out), Lines{});
    EXPECT_EQ(Text(out).front(), "89 4d 00");
}

}  // namespace

namespace {

// How many keys `out` leaves sounding, a channel's All Notes Off ending all of its own.
int Sounding(const MidiSequencer::Out& out) {
    bool on[16][128] = {};
    for (const SequencedMessage& m : out) {
        const int channel = m.bytes[0] & 15, kind = m.bytes[0] & 0xF0;
        if (kind == 0x90) on[channel][m.bytes[1]] = m.bytes[2] > 0;
        if (kind == 0x80) on[channel][m.bytes[1]] = false;
        if (kind == 0xB0 && m.bytes[1] == 123)
            std::fill(std::begin(on[channel]), std::end(on[channel]), false);
    }
    int count = 0;
    for (const auto& keys : on) count += static_cast<int>(std::count(std::begin(keys), std::end(keys), true));
    return count;
}

// A bar counted in on the caller's clock: the clicks fall on their beats less the latency, the
// song starts by itself as the bar ends, and nothing of it goes before.
TEST(MidiSequencer, ACountInClicksABarAndTheSongStartsAsItEnds) {
    const SongEvents song = TwoVoices();
    const std::vector<Beat> bar{{10.0, true}, {10.5, false}, {11.0, false}, {11.5, false}};
    MidiSequencer s(song);
    MidiSequencer::Out out;
    s.SetSpeed(0.5, 0);
    s.SetLatency(0.1, 0);
    s.CountIn(0.0, bar, 12.0, 10.0, out);
    EXPECT_EQ(Clicks(out), Lines{"bar@9.90"});
    // A change during the bar (here the drums muted) keeps the song's start where it was.
    PartMutes mutes;
    mutes.drums = true;
    s.SetMutes(mutes, 10.7, out);
    s.Advance(11.85, out);
    EXPECT_EQ(Clicks(out), (Lines{"bar@9.90", "beat@10.40", "beat@10.90", "beat@11.40"}));
    EXPECT_EQ(Text(out).back(), "89 4d 00") << "every click is let go before the song starts";
    EXPECT_DOUBLE_EQ(s.Position(11.85), 0.0);
    EXPECT_DOUBLE_EQ(s.NextDue(11.85), 11.9);
    out.clear();
    s.Advance(11.9, out);
    EXPECT_EQ(Text(out), Lines{"90 3c 64"});
    EXPECT_DOUBLE_EQ(out[0].due, 11.9);
    EXPECT_DOUBLE_EQ(s.Position(13.0), 0.5) << "the song runs at the practice speed from the bar's end";

    // Asked for late (a jump part-way through a bar), the clicks already past are left out.
    out.clear();
    s.SetLatency(0.0, 14.0);
    s.Advance(14.0, out);
    ASSERT_EQ(Sounding(out), 1);
    s.CountIn(2.0, {{14.0, true}, {14.5, false}, {15.0, false}}, 15.5, 14.6, out);
    EXPECT_EQ(Clicks(out).size(), 0u);
    EXPECT_EQ(Sounding(out), 0) << "the song's E is let go for the bar";
    s.Advance(15.01, out);
    EXPECT_EQ(Clicks(out), Lines{"beat@15.00"});

    // A pause drops the clicks still to come and lets the one sounding go; played again, the song
    // goes on at once, without them.
    out.clear();
    s.Pause(15.02, out);
    s.Advance(20.0, out);
    EXPECT_EQ(Sounding(out), 0);
    EXPECT_EQ(Clicks(out).size(), 0u);
    s.Seek(0.0, 20.0, out);
    out.clear();
    s.Play(20.0, out);
    EXPECT_EQ(Text(out), Lines{"90 3c 64"});
}

// Playing along, each pass of the loop is counted in again by the caller: the song stops at the
// loop's end with everything let go, and strikes nothing of the loop's start until counted in.
TEST(MidiSequencer, PassesCountedInStopAtTheLoopsEnd) {
    const SongEvents song = Song(
        {Ev(0.0, 0xC0, 1), Ev(1.0, 0x90, 60, 90, 0), Ev(2.5, 0x90, 62, 90, 0), Ev(3.0, 0x90, 64, 90, 0)});
    MidiSequencer s(song);
    MidiSequencer::Out out;
    s.SetPassesCountedIn(true);
    s.SetLoop(1.0, 3.0, 0.0, out);
    s.Play(0.0, out);
    s.Advance(3.2, out);
    EXPECT_EQ(Text(out),
              (Lines{"c0 01", "90 3c 5a", "90 3e 5a", "80 3c 00", "80 3e 00", "b0 7b 00", "b0 79 00"}));
    EXPECT_DOUBLE_EQ(out[3].due, 3.0);
    EXPECT_GT(s.NextDue(3.2), 1e6) << "nothing is due until the next pass is counted in";
    out.clear();
    s.Advance(3.5, out);
    EXPECT_TRUE(out.empty()) << "got " << testing::PrintToString(Text(out));
    s.CountIn(1.0, {{3.5, true}, {4.0, false}}, 4.5, 3.5, out);
    s.Advance(4.5, out);
    EXPECT_EQ(Text(out).back(), "90 3c 5a");
    EXPECT_EQ(Text(out)[1], "c0 01") << "the pass starts with the channels as the loop's start has them";
}

}  // namespace
