// The finishing pass on whole files: note ends tidied without ever losing a note, and bar lines.
#include "midi/note_timeline.h"

#include <gtest/gtest.h>

#include "midi/midi_reader.h"
#include "smf_builder.h"

using namespace smf;

namespace {

constexpr float kGap = 1.0f / 60.0f;

std::unique_ptr<SongData> Load(const Bytes& file) {
    auto song = NewSong();
    EXPECT_TRUE(ParseSong(*song, file.data(), file.size())) << "status " << song->status;
    return song;
}

TEST(Finishing, NoteEndsAreTidiedAndNoNoteIsLost) {
    // 480 ticks per quarter at 120 per minute: 960 ticks a second.
    struct Case {
        const char* name;
        Bytes events;
        std::vector<float> ends;  // part 0, in stored order
    };
    const Case cases[] = {
        {"a key played again as it ends is pulled apart by 1/60 s",
         Cat({On(0, 0, 60), Off(1920, 0, 60), On(0, 0, 60), Off(480, 0, 60)}),
         {2.0f - kGap, 2.5f}},
        {"a note shorter than the gap keeps its end",
         Cat({On(0, 0, 60), Off(8, 0, 60), On(0, 0, 60), Off(480, 0, 60)}),
         {8 / 960.0f, 488 / 960.0f}},
        {"a note never ended sounds on past the next note of its hand, to the end of its track",
         Cat({On(0, 0, 64), Off(0, 1, 64), On(960, 0, 67), Off(960, 0, 67)}),
         {2.0f, 2.0f}},
        {"a note never ended before a chord note on its start sounds to the end of the song",
         Cat({On(0, 0, 64), On(0, 0, 67), Off(960, 0, 67)}),
         {1.0f, 1.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto song = Load(Song(480, {Chunk("MTrk", c.events)}));
        const SongPart& part = song->parts[0];
        ASSERT_EQ(part.noteCount, static_cast<int>(c.ends.size()));
        for (int i = 0; i < part.noteCount; ++i) {
            EXPECT_NEAR(part.notes[i].end, c.ends[static_cast<size_t>(i)], 1e-6) << i;
            EXPECT_GT(part.notes[i].end, part.notes[i].start) << i;
        }
    }
}

TEST(Finishing, AVoiceIsTidiedAsAHandIsAndKnowsItsKeys) {
    // Channel 0 alone is read as a hand (of a violin, so that it is not split by pitch), channel 4
    // as a voice, whose notes are tidied as they are stored rather than in a pass after: the ends
    // must come out the same, bit for bit.
    auto events = [](int ch) {
        return Cat({Program(0, ch, 40), On(0, ch, 60), Off(1920, ch, 60), On(0, ch, 60), Off(480, ch, 60),
                    On(0, ch, 62), Off(8, ch, 62), On(0, ch, 62), Off(480, ch, 62), On(0, ch, 64),
                    On(10, ch, 64), On(960, ch, 40), Off(100, ch, 40), On(15, ch, 40), Off(0, ch, 64)});
    };
    auto hand = Load(Song(480, {Chunk("MTrk", events(0))}));
    auto voice = Load(Song(480, {Chunk("MTrk", events(4))}));
    ASSERT_EQ(hand->reading, ReadingHands);
    ASSERT_EQ(voice->reading, ReadingVoices);
    const SongPart& h = hand->parts[0];
    const SongPart& v = voice->parts[0];
    ASSERT_EQ(h.noteCount, 8);
    ASSERT_EQ(v.noteCount, h.noteCount);
    for (int i = 0; i < h.noteCount; ++i) {
        EXPECT_EQ(v.notes[i].start, h.notes[i].start) << i;
        EXPECT_EQ(v.notes[i].end, h.notes[i].end) << i;
    }
    for (const SongPart* part : {&h, &v}) {
        EXPECT_EQ(part->lowKey + 0, 40);
        EXPECT_EQ(part->highKey + 0, 64);
    }
    EXPECT_EQ(hand->parts[1].highKey + 0, 0) << "a hand without notes";
}

TEST(Finishing, NotesNeverEndedSoundToTheEndOfTheirTrack) {
    // 960 ticks a second. The player plays a track to its last event and goes on while anything
    // sounds, so a note nothing ends lasts at least until its own track is over.
    Bytes sixty;  // a note a second, none ever ended
    for (int i = 0; i < 60; ++i) sixty = Cat({sixty, On(i == 0 ? 0 : 960, 0, 30 + i)});
    struct Case {
        const char* name;
        std::vector<Bytes> tracks;
        std::vector<float> ends;  // every drawn note, in the order the parts hold them
        double duration;
    };
    const Case cases[] = {
        {"sixty notes, one a second, none ended", {Cat({sixty, EndOfTrack(960)})}, {}, 60.0},
        {"the end of track comes later than the last note",
         {Cat({On(0, 0, 64), On(960, 0, 67), Off(960, 0, 67), EndOfTrack(960)})},
         {3.0f, 2.0f},
         3.0},
        {"each note ends with its own track",
         {Cat({On(0, 0, 64), EndOfTrack(1920)}), Cat({On(0, 0, 67), Off(4800, 0, 67)})},
         {2.0f, 5.0f},
         5.0},
        {"a key struck again ends the note before, as the synthesiser does, less the gap",
         {Cat({On(0, 0, 64), On(960, 0, 64), EndOfTrack(960)})},
         {1.0f - kGap, 2.0f},
         2.0},
        {"a note on the track's last tick is still seen",
         {Cat({On(0, 0, 60), Off(960, 0, 60), On(0, 0, 62)})},
         {1.0f, 1.0f + kGap},
         1.0 + kGap},
        {"drums never ended count in the song's length",
         {Cat({On(0, 0, 60), Off(960, 0, 60)}), Cat({On(0, 9, 36), On(960, 9, 38), EndOfTrack(2880)})},
         {1.0f},
         4.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = Header(480, 1, static_cast<uint16_t>(c.tracks.size()));
        for (const Bytes& t : c.tracks) file = Cat({file, Chunk("MTrk", t)});
        auto song = Load(file);
        EXPECT_NEAR(song->duration, c.duration, 1e-5);
        std::vector<float> ends;
        for (int p = 0; p < song->partCount; ++p) {
            for (int i = 0; i < song->parts[p].noteCount; ++i) ends.push_back(song->parts[p].notes[i].end);
        }
        if (c.ends.empty()) {
            ASSERT_EQ(ends.size(), 60u);
            for (float end : ends) EXPECT_NEAR(end, 60.0f, 1e-4);
        } else {
            ASSERT_EQ(ends.size(), c.ends.size());
            for (size_t i = 0; i < ends.size(); ++i) EXPECT_NEAR(ends[i], c.ends[i], 1e-5) << i;
        }
    }
}

TEST(Finishing, BarLinesRunToTheFirstOneMoreThanFiveSecondsPastTheEnd) {
    // A 10 s song at 120 per minute: bars every 2 s from 0 s; the last is the first past 15 s.
    auto song = Load(Song(480, {Track({On(0, 0, 60), Off(9600, 0, 60)})}));
    ASSERT_EQ(song->barLineCount, 9);
    EXPECT_EQ(song->barLines[0], 0.0f);
    EXPECT_FLOAT_EQ(song->barLines[8], 16.0f);
    // At 1 us per quarter note, 4000 bars last 16 ms: the list stops at its table.
    auto fast = Load(Song(480, {Track({Tempo(0, 1), On(0, 0, 60), Off(900000, 0, 60)})}));
    EXPECT_EQ(fast->barLineCount, kMaxBarLines);
}

TEST(Finishing, TheTempoMapConvertsAnyTick) {
    // Division 480: 500,000 us to tick 960, then 250,000 us; a change at one tick twice keeps the later.
    TempoMap map;
    map.Build(480, {{960, 100000}, {960, 250000}});
    EXPECT_DOUBLE_EQ(map.Seconds(1920), 1.5);
    TempoMap::Walker walker(map);
    for (int64_t t : {0, 480, 960, 1440, 100000})
        EXPECT_FLOAT_EQ(walker.Seconds(t), static_cast<float>(map.Seconds(t)));
}

}  // namespace
