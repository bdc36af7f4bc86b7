// The song's channel events as the instrument is sent them: every kind kept, timed on the tempo
// map across tracks, merged in the player's order, note-ons marked with the parts the reader
// gave their notes, and bytes no instrument may be sent left out.
#include "midi/song_events.h"

#include <gtest/gtest.h>

#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "smf_builder.h"

namespace {

using namespace smf;

struct Read {
    std::unique_ptr<SongData> song = NewSong();
    SongEvents events;
    bool ok = false;
};

Read ReadBoth(const Bytes& file) {
    Read r;
    TempoMap tempo;
    if (!ParseSong(*r.song, file.data(), file.size(), &tempo)) return r;
    r.ok = ReadSongEvents(file.data(), file.size(), *r.song, tempo, r.events);
    return r;
}

TEST(SongEvents, EveryChannelEventTimedAndMergedWithItsPart) {
    // Division 480. A tempo track that halves the tempo after one quarter; a piano voice on channel
    // 3 with a program, a controller and a pitch bend; a second voice on channel 4 whose note
    // ends by a note-on of velocity 0; drums.
    const Bytes file =
        Song(480, {Track({Tempo(0, 500000), Tempo(480, 1000000), EndOfTrack()}),
                   Track({Program(0, 3, 5), Event(0, {0xB3, 7, 100}), On(0, 3, 60), Event(240, {0xE3, 0, 80}),
                          Off(720, 3, 60), EndOfTrack()}),
                   Track({On(480, 4, 67), On(480, 4, 67, 0), On(0, 9, 36), Off(10, 9, 36), EndOfTrack()})});
    const Read r = ReadBoth(file);
    ASSERT_TRUE(r.ok) << MidiLoadFailureText(*r.song);
    struct Expected {
        double seconds;
        int status, data1, data2;
        int16_t part;
    };
    // Track 1's voice sounds first, so it is part 0.
    const Expected expected[] = {
        {0.0, 0xC3, 5, 0, kNoPart},
        {0.0, 0xB3, 7, 100, kNoPart},
        {0.0, 0x93, 60, 64, 0},
        {0.25, 0xE3, 0, 80, kNoPart},
        {0.5, 0x94, 67, 64, 1},
        {1.5, 0x83, 60, 0, kNoPart},
        {1.5, 0x84, 67, 0, kNoPart},
        {1.5, 0x99, 36, 64, kDrumsPart},
        {1.5 + 10.0 / 480, 0x89, 36, 0, kNoPart},
    };
    ASSERT_EQ(r.events.events.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const SongEvent& e = r.events.events[i];
        const Expected& x = expected[i];
        EXPECT_NEAR(e.seconds, x.seconds, 1e-9) << "event " << i;
        EXPECT_EQ((std::vector<int>{e.status, e.data1, e.data2, e.part}),
                  (std::vector<int>{x.status, x.data1, x.data2, x.part}))
            << "event " << i;
    }
    EXPECT_EQ(r.events.channels, (1u << 3) | (1u << 4) | (1u << 9));
}

TEST(SongEvents, HandsFoundByPitchAndBytesNoInstrumentMayTake) {
    // One track of piano on one channel, split into hands by pitch, and a note-on whose key byte
    // has its top bit set: the reader loads the file, and that event is not one to send.
    Bytes body = Event(0, {0x90, 0x85, 0x40});
    std::vector<std::pair<int, int>> struck;  // key, hand (0 the upper) of every note-on, in order
    for (int i = 0; i < 6; ++i) {
        const Bytes notes = Cat({On(0, 0, 40 + i), On(0, 0, 76 + i), Off(480, 0, 40 + i), Off(0, 0, 76 + i)});
        body.insert(body.end(), notes.begin(), notes.end());
        struck.insert(struck.end(), {{40 + i, 1}, {76 + i, 0}});
    }
    const Bytes end = EndOfTrack();
    body.insert(body.end(), end.begin(), end.end());
    const Bytes file = Song(480, {Chunk("MTrk", body)});
    const Read r = ReadBoth(file);
    ASSERT_TRUE(r.ok) << MidiLoadFailureText(*r.song);
    ASSERT_EQ(r.song->handRule, HandsByPitch);
    std::vector<std::pair<int, int>> parts;  // key, part of every note-on
    for (const SongEvent& e : r.events.events) {
        EXPECT_LT(e.data1, 0x80);
        if ((e.status & 0xF0) == 0x90) parts.emplace_back(e.data1, e.part);
    }
    EXPECT_EQ(parts, struck);
}

TEST(SongEvents, RefusesWhatTheReaderRefuses) {
    const Bytes cut = Song(480, {Track({On(0, 0, 60), Off(480, 0, 60), EndOfTrack()})});
    const Bytes shorter(cut.begin(), cut.end() - 3);
    SongData song{};
    SongEvents events;
    events.channels = 1;
    EXPECT_FALSE(ReadSongEvents(shorter.data(), shorter.size(), song, TempoMap{}, events));
    EXPECT_TRUE(events.events.empty());
    EXPECT_EQ(events.channels, 0);
}

}  // namespace
