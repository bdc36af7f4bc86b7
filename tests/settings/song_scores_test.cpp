// The best play-along results: which run beats which, the file's lines read back tolerantly, and a
// round trip through the data folder.
#include "settings/song_scores.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

PlayScore Scored(int hits, int early, int late, int missed, int wrong, double errorMs = 20, int speed = 100) {
    PlayScore s;
    s.hits = hits;
    s.early = early;
    s.late = late;
    s.missed = missed;
    s.wrong = wrong;
    s.meanErrorMs = errorMs;
    s.speedPercent = speed;
    s.complete = true;
    return s;
}

TEST(ScoreMemory, ARunBeatsTheBestByPointsThenSpeedThenTiming) {
    const PlayScore best = Scored(80, 10, 10, 0, 0);  // 180 of 200 points
    PlayScore partial = Scored(100, 0, 0, 0, 0);
    partial.complete = false;
    const struct {
        const char* name;
        PlayScore run;
        bool beats;
    } cases[] = {
        {"more hits", Scored(90, 5, 5, 0, 0), true},
        {"the same points from other counts", Scored(85, 0, 10, 5, 0), false},
        {"wrong keys cost as missed notes do", Scored(90, 5, 5, 0, 12), false},
        {"equal points at a faster speed", Scored(80, 10, 10, 0, 0, 30, 110), true},
        {"equal points and speed, closer timing", Scored(80, 10, 10, 0, 0, 19.5), true},
        {"a tie keeps the best", Scored(80, 10, 10, 0, 0), false},
        {"a part of the song, however well", partial, false},
        {"nothing played", Scored(0, 0, 0, 0, 0), false},
    };
    for (const auto& c : cases) EXPECT_EQ(BeatsBest(c.run, best), c.beats) << c.name;
    EXPECT_TRUE(BeatsBest(Scored(1, 0, 0, 9, 3), PlayScore{})) << "any complete run beats none";
}

TEST(ScoreMemory, ReadsItsLinesAndPassesOverWhatItCannotRead) {
    const struct {
        const char* line;
        bool read;
    } cases[] = {
        {"best 1 = 10 2 3 4 5 12.5 100", true},
        {"  best\t1+2 =10 2 3 4 5 12.5 100\r", true},
        {"best 256 = 1 0 0 0 0 0 25", true},
        {"best 2+1 = 10 2 3 4 5 12.5 100", false},  // parts out of order
        {"best 1+1 = 10 2 3 4 5 12.5 100", false},
        {"best 01 = 10 2 3 4 5 12.5 100", false},
        {"best 257 = 10 2 3 4 5 12.5 100", false},
        {"best ../x = 10 2 3 4 5 12.5 100", false},
        {"best 1 = 10 2 3 4 5 12.5", false},        // no speed
        {"best 1 = 10 2 3 4 5 12.5 100 7", false},  // more than a score
        {"best 1 = 10 -2 3 4 5 12.5 100", false},
        {"best 1 = 0 0 0 0 5 12.5 100", false},        // no notes
        {"best 1 = 3000000000 0 0 0 0 1 100", false},  // more notes than a song holds
        {"best 1 = 10 2 3 4 5 nan 100", false},
        {"best 1 = 10 2 3 4 5 5000 100", false},
        {"best 1 = 10 2 3 4 5 12.5 300", false},
        {"bestest 1 = 10 2 3 4 5 12.5 100", false},
        {"# parts = hits early late missed wrong mean-error-ms speed-percent", false},
    };
    for (const auto& c : cases) {
        ScoreMemory memory;
        ParseScoreMemory(memory, c.line, std::string(c.line).size());
        EXPECT_EQ(memory.bests.size(), c.read ? 1u : 0u) << c.line;
    }
    const std::string text =
        "best 1 = 1 0 0 0 0 0 100\nrubbish\nbest 2 = 3 0 0 0 0 0 100\nbest 1 = 5 0 0 0 0 0 100\n";
    ScoreMemory memory;
    ParseScoreMemory(memory, text.data(), text.size());
    ASSERT_EQ(memory.bests.size(), 2u);
    ASSERT_NE(memory.Find("1"), nullptr);
    EXPECT_EQ(memory.Find("1")->hits, 5) << "of two lines for one part the later counts";
    EXPECT_EQ(memory.Find("2")->hits, 3);
}

TEST(ScoreMemory, KeptBesideTheSongAndReadBack) {
    const fs::path home = fs::temp_directory_path() / ("dorvik-scores-" + std::to_string(getpid()));
    fs::create_directories(home);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    const std::string key = "0123456789abcdef-42";
    EXPECT_TRUE(ReadScoreMemory(key).bests.empty());
    ScoreMemory memory;
    EXPECT_TRUE(memory.Offer("1+2", Scored(7, 1, 2, 3, 4, 15.125, 75)));
    EXPECT_FALSE(memory.Offer("1+2", Scored(1, 1, 2, 9, 4))) << "a worse run is not kept";
    EXPECT_FALSE(memory.Offer("both", Scored(9, 0, 0, 0, 0))) << "not a parts label";
    EXPECT_TRUE(memory.Offer("3", Scored(9, 0, 0, 0, 0)));
    ASSERT_TRUE(WriteScoreMemory(key, memory));
    EXPECT_TRUE(fs::exists(home / "dorvik-midi-player" / "songs" / (key + ".scores.txt")));
    const ScoreMemory back = ReadScoreMemory(key);
    ASSERT_EQ(back.bests.size(), 2u);
    const PlayScore* both = back.Find("1+2");
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->hits, 7);
    EXPECT_EQ(both->early, 1);
    EXPECT_EQ(both->late, 2);
    EXPECT_EQ(both->missed, 3);
    EXPECT_EQ(both->wrong, 4);
    EXPECT_DOUBLE_EQ(both->meanErrorMs, 15.125);
    EXPECT_EQ(both->speedPercent, 75);
    EXPECT_TRUE(both->complete);
    EXPECT_FALSE(WriteScoreMemory("../settings", memory)) << "a key names no other file";
    fs::remove_all(home);
}

}  // namespace
