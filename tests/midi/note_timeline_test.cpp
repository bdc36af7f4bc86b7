// The note timeline: parts and channels, note pairing, tempo map and tick conversion, and the
// finishing pass.
#include "midi/note_timeline.h"

#include <gtest/gtest.h>

#include "midi/midi_reader.h"
#include "smf_builder.h"

using namespace smf;

namespace {

constexpr float kGap = 1.0f / 60.0f;

class Timeline : public ::testing::Test {
  protected:
    Timeline() : song_(NewSong()), b_(*song_) { b_.SetDivision(480); }

    const SongPart& Part(int p) const { return song_->parts[p]; }

    std::unique_ptr<SongData> song_;
    SongBuilder b_;
};

TEST_F(Timeline, TicksBecomeSecondsCountingOneTickMore) {
    struct Case {
        const char* name;
        int32_t tick;
        float seconds;
    };
    const Case cases[] = {
        {"tick 0", 0, 0.001041f},
        {"tick 480", 480, 0.501041f},
        // Long songs keep their timing: ticks past a million are not all given one time.
        {"tick 1,200,000", 1200000, 1250.001041f},
        {"tick 2,000,000", 2000000, 2083.334375f},
    };
    for (const Case& c : cases) EXPECT_FLOAT_EQ(b_.TickToSeconds(c.tick), c.seconds) << c.name;
}

TEST_F(Timeline, TempoChangesSplitTheMap) {
    b_.AddTempo(250000, 960);
    // 960 ticks at 500,000 plus 961 at 250,000, each segment's quotient truncated.
    EXPECT_FLOAT_EQ(b_.TickToSeconds(1920), 1.50052f);
    EXPECT_FLOAT_EQ(b_.TickToSeconds(959), 1.0f);
    EXPECT_FLOAT_EQ(b_.TickToSeconds(960), 1.000520f);

    // Two changes at one tick: the first one's segment is empty and the second one rules.
    b_.AddTempo(1000000, 2000);
    b_.AddTempo(125000, 2000);
    const float at2000 = b_.TickToSeconds(2000);
    EXPECT_FLOAT_EQ(b_.TickToSeconds(2480), at2000 + 480 * 125000 / 480 / 1e6f);
}

TEST_F(Timeline, ALaterTracksTempoChangesReplaceTheEarlierOnes) {
    b_.AddTempo(250000, 0);
    b_.AddTempo(1000000, 480);
    b_.StartChunk();
    b_.AddTempo(500000, 960);  // replaces both changes of the first track
    EXPECT_FLOAT_EQ(b_.TickToSeconds(1920), 1921.0f * 500000 / 480 / 1e6f);
}

TEST_F(Timeline, ANewHeaderRetimesTheMap) {
    b_.AddTempo(250000, 960);
    b_.SetDivision(960);
    EXPECT_FLOAT_EQ(b_.TickToSeconds(1920), (960 * 500000 / 960 + 961 * 250000 / 960) / 1e6f);
}

TEST_F(Timeline, NotesPairWithTheirNoteOffs) {
    ASSERT_EQ(b_.AddNoteOn(0, 60, 90, 480), 0);
    b_.AddNoteOff(0, 60, 480);                  // same tick: zero length
    ASSERT_EQ(b_.AddNoteOn(0, 62, 0, 960), 0);  // velocity 0 for a silent key: nothing
    ASSERT_EQ(b_.AddNoteOn(0, 64, 100, 960), 0);
    ASSERT_EQ(Part(0).noteCount, 2);
    EXPECT_EQ(Part(0).notes[0].start, Part(0).notes[0].end);
    EXPECT_EQ(Part(0).notes[0].velocity, 90);
    EXPECT_EQ(Part(0).notes[1].end, 0.0f) << "no note-off yet";
    EXPECT_DOUBLE_EQ(song_->duration, Part(0).notes[0].end);

    ASSERT_EQ(b_.AddNoteOn(0, 64, 0, 1440), 0);  // velocity 0 ends the note
    EXPECT_FLOAT_EQ(Part(0).notes[1].end, b_.TickToSeconds(1440));
    EXPECT_DOUBLE_EQ(song_->duration, Part(0).notes[1].end);
}

TEST_F(Timeline, ChannelRuleAndParts) {
    struct Case {
        const char* name;
        std::vector<int> channels;  // note-ons in order, one track
        int refusedAt;              // index of the refused note-on, or -1
    };
    const Case cases[] = {
        {"channels 1 and 2", {1, 2, 1}, -1},
        {"channel 2 then 0", {2, 0}, -1},
        {"channel 0 then 2", {0, 2}, 1},
        {"channel 3", {1, 3}, 1},
        {"channel 15", {15}, 0},
    };
    for (const Case& c : cases) {
        auto song = NewSong();
        SongBuilder b(*song);
        b.SetDivision(480);
        int refusedAt = -1;
        for (size_t i = 0; i < c.channels.size() && refusedAt < 0; ++i) {
            if (b.AddNoteOn(c.channels[i], 60 + static_cast<int>(i), 64, 0) != 0)
                refusedAt = static_cast<int>(i);
        }
        EXPECT_EQ(refusedAt, c.refusedAt) << c.name;
    }
}

TEST(TimelineParts, ChannelsOneAndTwoEndInOrderAfterTheSwap) {
    auto both = NewSong();
    const Bytes type0 =
        Cat({Header(480, 0, 1), Track({On(0, 1, 72), On(0, 2, 48), Off(480, 1, 72), Off(0, 2, 48)})});
    ASSERT_TRUE(ParseSong(*both, type0.data(), type0.size()));
    ASSERT_EQ(both->parts[0].noteCount, 1);
    ASSERT_EQ(both->parts[1].noteCount, 1);
    EXPECT_EQ(both->parts[0].notes[0].key, 72) << "channel 1 is the first part";
    EXPECT_EQ(both->parts[1].notes[0].key, 48) << "channel 2 is the second part";

    auto onlyOne = NewSong();
    const Bytes channel1 = Cat({Header(480, 0, 1), Track({On(0, 1, 72), Off(480, 1, 72)})});
    ASSERT_TRUE(ParseSong(*onlyOne, channel1.data(), channel1.size()));
    EXPECT_EQ(onlyOne->parts[0].noteCount, 0);
    EXPECT_EQ(onlyOne->parts[1].noteCount, 1);
}

TEST(TimelineParts, ChannelZeroTracksTakeTurnsAndTheFourthIsDropped) {
    auto track = [](int key) { return Track({On(0, 0, key), Off(480, 0, key)}); };
    const Bytes file =
        Cat({Header(480), Track({Tempo(0, 500000)}), track(60), track(62), track(64), track(65)});
    auto song = NewSong();
    ASSERT_TRUE(ParseSong(*song, file.data(), file.size()));
    EXPECT_EQ(song->noteTracks, 3);
    ASSERT_EQ(song->parts[0].noteCount, 2);
    EXPECT_EQ(song->parts[0].notes[0].key, 60);
    EXPECT_EQ(song->parts[0].notes[1].key, 64) << "the third track joins the first part";
    ASSERT_EQ(song->parts[1].noteCount, 1);
    EXPECT_EQ(song->parts[1].notes[0].key, 62);
}

TEST(TimelineParts, ANoteOffInALaterTrackEndsNothing) {
    const Bytes file = Cat({Header(480, 0, 2), Track({On(0, 1, 60)}), Track({Off(480, 1, 60)})});
    auto song = NewSong();
    ASSERT_TRUE(ParseSong(*song, file.data(), file.size()));
    ASSERT_EQ(song->parts[1].noteCount, 1);
    EXPECT_EQ(song->parts[1].notes[0].end, 0.0f);
    EXPECT_EQ(song->duration, 0.0);
}

TEST_F(Timeline, AFullPartDropsNotesWithoutDisturbingStoredOnes) {
    for (int i = 0; i < kMaxPartNotes - 1; ++i) {
        ASSERT_EQ(b_.AddNoteOn(0, 40, 64, i), 0);
        b_.AddNoteOff(0, 40, i);
    }
    ASSERT_EQ(b_.AddNoteOn(0, 61, 64, 40000), 0);  // the last note that fits
    b_.AddNoteOff(0, 61, 40100);
    const float storedEnd = Part(0).notes[kMaxPartNotes - 1].end;
    const double duration = song_->duration;

    ASSERT_EQ(b_.AddNoteOn(0, 61, 64, 50000), 0);  // dropped
    b_.AddNoteOff(0, 61, 60000);
    EXPECT_EQ(Part(0).noteCount, kMaxPartNotes);
    EXPECT_EQ(Part(0).notes[kMaxPartNotes - 1].end, storedEnd)
        << "the dropped note's note-off moved a stored note";
    EXPECT_EQ(song_->duration, duration);
}

TEST_F(Timeline, FinishingTidiesNoteEnds) {
    // Part 0: key 60 ends at 2.0 s and starts again at 2.0 s; key 64 twice with one note-off.
    // Division 480 at 120 per minute: tick 1919 is 2.0 s, tick 2399 is 2.5 s.
    ASSERT_EQ(b_.AddNoteOn(0, 60, 64, 0), 0);
    b_.AddNoteOff(0, 60, 1919);
    ASSERT_EQ(b_.AddNoteOn(0, 60, 64, 1919), 0);
    b_.AddNoteOff(0, 60, 2399);
    ASSERT_EQ(b_.AddNoteOn(0, 64, 64, 2399), 0);
    ASSERT_EQ(b_.AddNoteOn(0, 64, 64, 2879), 0);  // a second note-on, no note-off between
    b_.AddNoteOff(0, 64, 3359);
    ASSERT_EQ(b_.AddNoteOn(0, 67, 64, 3839), 0);  // the part's last note never ends
    const double duration = song_->duration;
    b_.FinishSong();

    const SongPart& p = Part(0);
    ASSERT_EQ(p.noteCount, 5);
    EXPECT_FLOAT_EQ(p.notes[0].end, 2.0f - kGap) << "repeated key: pulled apart by 1/60 s";
    EXPECT_FLOAT_EQ(p.notes[1].end, 2.5f);
    EXPECT_FLOAT_EQ(p.notes[2].end, 3.0f - kGap) << "closed 1/60 s before the next note of the part";
    EXPECT_FLOAT_EQ(p.notes[3].end, 3.5f);
    EXPECT_EQ(p.notes[4].end, 0.0f);
    EXPECT_EQ(song_->duration, duration) << "tidying does not change the duration";
}

TEST_F(Timeline, BarLinesRunToTheFirstOneMoreThanFiveSecondsPastTheEnd) {
    // A 10 s song at 120 per minute: bars every 2 s from 0.001 s; the last is the first past 15 s.
    ASSERT_EQ(b_.AddNoteOn(0, 60, 64, 0), 0);
    b_.AddNoteOff(0, 60, 9599);
    ASSERT_FLOAT_EQ(static_cast<float>(song_->duration), 10.0f);
    b_.FinishSong();
    ASSERT_EQ(song_->barLineCount, 9);
    EXPECT_FLOAT_EQ(song_->barLines[0], 0.001041f);
    EXPECT_FLOAT_EQ(song_->barLines[8], 16.001041f);
    for (int i = 1; i < song_->barLineCount; ++i) EXPECT_GT(song_->barLines[i], song_->barLines[i - 1]);
}

TEST_F(Timeline, BarLinesStopAtTheTableSize) {
    // At 1 us per quarter note, 4000 bars last 16 ms: without the cap the lines would run on far
    // past the table.
    b_.AddTempo(1, 0);
    ASSERT_EQ(b_.AddNoteOn(0, 60, 64, 0), 0);
    b_.AddNoteOff(0, 60, 900000);
    b_.FinishSong();
    EXPECT_EQ(song_->barLineCount, kMaxBarLines);
}

TEST(TimelineNoHeader, ASongWithoutHeaderHasNoBarLines) {
    auto song = NewSong();
    SongBuilder b(*song);
    b.FinishSong();
    EXPECT_EQ(song->barLineCount, 0);
    EXPECT_EQ(b.TickToSeconds(480), 0.0f);
}

}  // namespace
