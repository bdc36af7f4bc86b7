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
        {"a note never ended runs to 1/60 s before the next note of its hand",
         Cat({On(0, 0, 64), Off(0, 1, 64), On(960, 0, 67), Off(960, 0, 67)}),
         {1.0f - kGap, 2.0f}},
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
