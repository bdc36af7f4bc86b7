// What a learner is told and helped by: the song's beats for the metronome and the count-in, the
// tempo shown, loops snapped to bars with the trainer's speed, the letters of the computer
// keyboard, and the figures of a pass in follow mode.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "midi/loop_bars.h"
#include "midi/midi_reader.h"
#include "midi/play_follow.h"
#include "midi/qwerty_keyboard.h"
#include "midi/song_beats.h"
#include "play_song.h"
#include "smf_builder.h"

namespace {

smf::Bytes Meter(uint32_t delta, int numerator, int power) {
    return smf::Event(
        delta, {0xFF, 0x58, 0x04, static_cast<uint8_t>(numerator), static_cast<uint8_t>(power), 24, 8});
}

// A song of one long note with the given tempo and meter events in its first track, at 480 ticks
// a quarter.
TempoMap TempoOf(std::initializer_list<smf::Bytes> events) {
    smf::Bytes conductor;
    for (const smf::Bytes& e : events) conductor.insert(conductor.end(), e.begin(), e.end());
    const smf::Bytes end = smf::EndOfTrack();
    conductor.insert(conductor.end(), end.begin(), end.end());
    const smf::Bytes file =
        smf::Song(480, {smf::Chunk("MTrk", conductor),
                        smf::Track({smf::On(0, 0, 60), smf::Off(480 * 40, 0, 60), smf::EndOfTrack()})});
    auto song = std::make_unique<SongData>();
    TempoMap tempo;
    EXPECT_TRUE(ParseSong(*song, file.data(), file.size(), &tempo));
    return tempo;
}

TEST(Beats, FollowTheMeterAndTheTempoAndAccentEachBar) {
    struct Case {
        const char* what;
        TempoMap tempo;
        double until;
        std::vector<Beat> want;
    };
    const Case cases[] = {
        {"no signature: 4/4 at 120",
         TempoOf({}),
         2.5,
         {{0, true}, {0.5, false}, {1, false}, {1.5, false}, {2, true}, {2.5, false}}},
        {"3/4",
         TempoOf({Meter(0, 3, 2)}),
         2.0,
         {{0, true}, {0.5, false}, {1, false}, {1.5, true}, {2, false}}},
        // 6/8 counts eighths: six to the bar, each a quarter of a second at 120 quarters a minute.
        {"6/8",
         TempoOf({Meter(0, 6, 3)}),
         1.5,
         {{0, true}, {0.25, false}, {0.5, false}, {0.75, false}, {1, false}, {1.25, false}, {1.5, true}}},
        // The tempo halves after the first bar; a new signature starts its own bar where it stands.
        {"tempo change, then 2/4 mid-bar",
         TempoOf({smf::Tempo(1920, 1000000), Meter(480, 2, 2)}),
         4.0,
         {{0, true}, {0.5, false}, {1, false}, {1.5, false}, {2, true}, {3, true}, {4, false}}},
        // A numerator of 0 cannot be counted: it is read as one beat a bar.
        {"damaged numerator", TempoOf({Meter(0, 0, 2)}), 1.0, {{0, true}, {0.5, true}, {1, true}}},
    };
    for (const Case& c : cases) {
        const std::vector<Beat> got = SongBeats(c.tempo, c.until);
        ASSERT_EQ(got.size(), c.want.size()) << c.what;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].seconds, c.want[i].seconds, 1e-9) << c.what << " beat " << i;
            EXPECT_EQ(got[i].barStart, c.want[i].barStart) << c.what << " beat " << i;
        }
    }
}

TEST(Beats, CountInIsOneBarOfTheMeterAtThePlayedSpeedAndTheTempoShowsInBpm) {
    const TempoMap tempo = TempoOf({Meter(0, 3, 2), smf::Tempo(1920, 400000)});
    const std::vector<double> atStart = CountInBeats(tempo, 0.0, 0.5);
    ASSERT_EQ(atStart.size(), 3u) << "a bar of 3/4";
    EXPECT_NEAR(atStart[0], -3.0, 1e-9) << "quarters of 0.5 s at half speed";
    EXPECT_NEAR(atStart[2], -1.0, 1e-9);
    const std::vector<double> later = CountInBeats(tempo, 3.0, 1.0);
    ASSERT_EQ(later.size(), 3u);
    EXPECT_NEAR(later[0], -1.2, 1e-9) << "the tempo in force at the start of the pass";

    EXPECT_DOUBLE_EQ(BeatsPerMinuteAt(tempo, 0.5, 1.0), 120.0);
    EXPECT_DOUBLE_EQ(BeatsPerMinuteAt(tempo, 0.5, 0.75), 90.0);
    EXPECT_DOUBLE_EQ(BeatsPerMinuteAt(tempo, 2.5, 1.0), 150.0) << "after the change at 2 s";
}

TEST(LoopBars, SnapsToTheNearestBarUnlessExactAndAnEndIsAlwaysPastTheStart) {
    auto song = SongWithParts({{{0.0f, 60}}, {}});
    const float lines[] = {0.0f, 2.0f, 4.0f, 6.0f};
    std::copy(std::begin(lines), std::end(lines), song->barLines);
    song->barLineCount = 4;
    const struct {
        double t;
        bool exact;
        double start, end;  // SnapToBar, and SnapLoopEnd from a start at 2
    } cases[] = {
        {0.9, false, 0.0, 4.0}, {1.1, false, 2.0, 4.0}, {2.9, false, 2.0, 4.0}, {5.2, false, 6.0, 6.0},
        {9.0, false, 6.0, 6.0}, {2.5, true, 2.5, 2.5},  {1.0, true, 1.0, -1.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(SnapToBar(*song, c.t, c.exact), c.start) << c.t << (c.exact ? " exact" : "");
        EXPECT_DOUBLE_EQ(SnapLoopEnd(*song, 2.0, c.t, c.exact), c.end) << c.t << (c.exact ? " exact" : "");
    }
    EXPECT_DOUBLE_EQ(SnapLoopEnd(*song, 6.0, 7.0, false), -1.0) << "no bar line after the last";
}

TEST(LoopBars, TrainerRaisesTheSpeedOnlyAfterACleanPass) {
    PlayScore clean;
    clean.hits = 8;
    clean.late = 2;
    PlayScore missed = clean;
    missed.missed = 1;
    PlayScore wrong = clean;
    wrong.wrong = 1;
    const PlayScore none;
    const struct {
        int speed;
        const PlayScore* pass;
        int want;
    } cases[] = {{50, &clean, 55},   {33, &clean, 35},  {98, &clean, 100}, {100, &clean, 100},
                 {120, &clean, 120}, {50, &missed, 50}, {50, &wrong, 50},  {50, &none, 50}};
    for (const auto& c : cases)
        EXPECT_EQ(LoopTrainer::NextSpeed(c.speed, *c.pass), c.want) << "from " << c.speed << "%";
}

TEST(ComputerKeyboard, EachLetterNamesTheKeyItPlays) {
    QwertyKeyboard keys;
    const char letters[] = "AWSEDFTGYHUJKOLP;'";
    for (int slot = 0; slot < 18; ++slot) {
        const int key = QwertyKeyboard::kFirstBase + slot;
        EXPECT_EQ(QwertyKeyboard::LetterFor(QwertyKeyboard::kFirstBase, key), letters[slot]) << key;
        // The letter shown is the one that plays the key.
        const TypedNote typed = keys.KeyDown(static_cast<uint32_t>(letters[slot]), false);
        EXPECT_EQ(typed.key, key) << letters[slot];
    }
    EXPECT_EQ(QwertyKeyboard::LetterFor(60, 59), 0) << "below A";
    EXPECT_EQ(QwertyKeyboard::LetterFor(12, 20), 0) << "off the piano: no letter, as no note";
}

TEST(PassFigures, SayEarlyOrLateOnAverageTheAccuracyAndTheDynamics) {
    auto song = SongWithParts({{{1.0f, 60}, {2.0f, 62}, {3.0f, 64}, {4.0f, 65}}, {}});
    PlayedParts part;
    part.set(0);
    const struct {
        const char* what;
        double offset;  // real seconds from each note to its key
        int velocity;   // the song's are 80
        const char* want;
    } cases[] = {
        {"behind, hard", 0.1, 110, "4 of 4 notes, 50% accurate; 100 ms late on average; too loud"},
        {"ahead, soft", -0.03, 40, "4 of 4 notes, 100% accurate; 30 ms early on average; too soft"},
        {"with it, even", 0.002, 86, "4 of 4 notes, 100% accurate; on time on average; even"},
        {"computer keyboard", 0.0, 0, "4 of 4 notes, 100% accurate; on time on average"},
    };
    for (const auto& c : cases) {
        FollowScorer score;
        score.Load(*song, part);
        for (int n = 0; n < 4; ++n) {
            const double at = 1.0 + n + c.offset;
            score.Advance(at - 0.01, at - 0.01);
            (void)score.KeyDown(60 + (n < 1 ? 0 : n == 1 ? 2 : n == 2 ? 4 : 5), at, c.velocity);
        }
        ASSERT_EQ(score.PassesEnded(), 1) << c.what;
        EXPECT_EQ(PassSummaryText(score.LastPass()), c.want) << c.what;
    }
    PlayScore mixed;
    mixed.hits = 1;
    mixed.missed = 1;
    mixed.wrong = 2;
    EXPECT_EQ(PassSummaryText(mixed), "1 of 2 notes, 25% accurate; on time on average; 2 wrong keys");
}

}  // namespace
