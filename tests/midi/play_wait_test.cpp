// Wait mode driven as the controller drives it: a clock moved frame by frame, the song going only
// as far as wait mode lets it, and keys struck at scripted real moments.
#include "midi/play_wait.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "play_song.h"

namespace {

constexpr double kFrame = 0.01;

KeySet Keys(std::initializer_list<int> keys) {
    KeySet set;
    for (int k : keys) set.set(static_cast<size_t>(k));
    return set;
}

PlayedParts Part(int p) {
    PlayedParts parts;
    parts.set(static_cast<size_t>(p));
    return parts;
}

// The controller's side: real time runs on, the song clock at its speed from where it was let go.
struct Player {
    WaitMode wait;
    double real = 0.0;
    double song = 0.0;
    double speed = 1.0;

    Player(const SongData& s, const PlayedParts& parts, double atSpeed = 1.0) : speed(atSpeed) {
        wait.Load(s, parts);
        wait.SetSpeed(speed);
    }
    // Runs `seconds` of real time in frames.
    const WaitState& Run(double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += kFrame) {
            real += kFrame;
            song = wait.Advance(song + kFrame * speed, real).songSeconds;
        }
        return wait.State();
    }
    // Runs until the song reaches `songSeconds` or is held.
    void RunTo(double songSeconds) {
        while (song + kFrame * speed <= songSeconds + 1e-9 && !wait.State().holding) Run(kFrame);
    }
    const WaitState& Down(int key, double after = 0.0) { return wait.KeyDown(key, real + after); }
    const WaitState& Up(int key) { return wait.KeyUp(key); }
};

TEST(WaitMode, StepsGroupChordsByOnsetAndTakeEachKeyOnce) {
    // Hand 1 and hand 2 meet on key 60 at 1.0; 1.03 joins that chord, 1.06 is past it.
    auto song = SongWithParts({{{1.0f, 60}, {1.03f, 64}, {1.06f, 67}, {2.0f, 72}}, {{1.0f, 60}, {1.0f, 48}}});
    PlayedParts both = Part(0) | Part(1);
    WaitMode wait;
    wait.Load(*song, both);
    ASSERT_EQ(wait.StepCount(), 3);
    EXPECT_EQ(wait.StepKeys(0), Keys({48, 60, 64}));
    EXPECT_EQ(wait.StepKeys(1), Keys({67}));
    EXPECT_EQ(wait.StepKeys(2), Keys({72}));
    wait.Load(*song, Part(1));
    EXPECT_EQ(wait.StepCount(), 1) << "only the chosen part's notes";
    EXPECT_EQ(wait.StepKeys(0), Keys({48, 60}));
}

TEST(WaitMode, HoldsAtEachNoteUntilItsKeyAndPassesOverWrongKeys) {
    auto song = SongWithParts({{{1.0f, 60}, {2.0f, 62}}, {{1.5f, 40}}});
    Player p(*song, Part(0));
    const WaitState& s = p.Run(1.5);
    EXPECT_TRUE(s.holding);
    EXPECT_DOUBLE_EQ(s.songSeconds, 1.0) << "held exactly at the note";
    EXPECT_EQ(s.wanted, Keys({60}));
    p.Down(61);
    p.Run(0.5);
    EXPECT_TRUE(s.holding) << "a wrong key does not move the song";
    EXPECT_EQ(s.wrong, Keys({61}));
    EXPECT_EQ(s.wrongStrikes, 1);
    p.Up(61);
    EXPECT_TRUE(s.wrong.none()) << "wrong only while held";
    p.Down(60);
    EXPECT_FALSE(s.holding);
    EXPECT_EQ(s.step, 1);
    EXPECT_EQ(s.wanted, Keys({62}));
    p.Run(0.5);
    EXPECT_NEAR(p.song, 1.5, 1e-9) << "the song goes on from the note, not from where the clock was";
    // Struck 0.2 s before its time the next note counts, and the song never stops for it.
    p.RunTo(1.8);
    p.Down(62);
    EXPECT_EQ(s.stepsDone, 2);
    p.Run(0.5);
    EXPECT_FALSE(s.holding);
    EXPECT_EQ(s.step, -1);
    EXPECT_NEAR(p.song, 2.3, 1e-6);
    p.Down(50);
    EXPECT_TRUE(s.wrong.none()) << "after the part's last note the player plays freely";
}

TEST(WaitMode, AChordIsDoneOnlyWhenItsKeysGoDownWithinTheWindow) {
    const struct {
        const char* name;
        std::vector<std::pair<double, int>> strikes;  // real seconds after the song is held, key
        bool done;
        KeySet wanted;  // when not done
    } cases[] = {
        {"together", {{0.0, 60}, {0.0, 64}, {0.0, 67}}, true, {}},
        {"rolled within 80 ms", {{0.0, 67}, {0.03, 64}, {0.07, 60}}, true, {}},
        {"the first key too long before the last", {{0.0, 60}, {0.05, 64}, {0.12, 67}}, false, Keys({60})},
        {"struck again in time", {{0.0, 60}, {0.05, 64}, {0.12, 67}, {0.125, 60}}, true, {}},
        {"one key missing", {{0.0, 60}, {0.01, 64}}, false, Keys({67})},
        {"a wrong key does not stand in for a right one",
         {{0.0, 60}, {0.01, 64}, {0.02, 65}},
         false,
         Keys({67})},
    };
    auto song = SongWithParts({{{1.0f, 60}, {1.0f, 64}, {1.0f, 67}, {3.0f, 72}}});
    for (const auto& c : cases) {
        Player p(*song, Part(0));
        p.Run(1.2);
        ASSERT_TRUE(p.wait.State().holding) << c.name;
        for (const auto& [after, key] : c.strikes) {
            p.Up(key);  // a key struck twice came up in between
            p.Down(key, after);
        }
        p.real += c.strikes.back().first;  // the next frame comes with the last strike
        const WaitState& s = p.wait.Advance(p.song + kFrame, p.real);
        EXPECT_EQ(s.step == 1, c.done) << c.name;
        if (!c.done) {
            EXPECT_EQ(s.wanted, c.wanted) << c.name;
        }
    }
}

TEST(WaitMode, AKeyHeldFromAnEarlierStepMustBeStruckAgain) {
    auto song = SongWithParts({{{1.0f, 60}, {2.0f, 60}, {2.0f, 64}}});
    Player p(*song, Part(0));
    p.Run(1.1);
    p.Down(60);  // and held on
    p.Run(1.5);
    const WaitState& s = p.wait.State();
    ASSERT_TRUE(s.holding);
    EXPECT_EQ(s.wanted, Keys({60, 64}));
    p.Down(64);
    p.Down(60);  // a second note-on of a key still down is no strike
    EXPECT_EQ(s.step, 1) << "the held key did not count";
    EXPECT_EQ(s.wanted, Keys({60}));
    p.Up(60);
    p.Down(60);
    EXPECT_EQ(s.step, -1);
}

TEST(WaitMode, JumpsMakeTheStepsAheadWantedAgain) {
    auto song = SongWithParts({{{1.0f, 60}, {2.0f, 62}, {3.0f, 64}}});
    Player p(*song, Part(0));
    p.Run(1.1);
    p.Down(60);
    p.RunTo(1.9);
    p.Down(62);
    p.Down(70);  // wrong, and held through the jump
    p.RunTo(2.5);
    const WaitState& s = p.wait.State();
    EXPECT_EQ(s.step, 2);
    // A loop from 1.0 wraps back: the clock jumps to the loop's start, on the first note.
    p.song = p.wait.Advance(1.0, p.real).songSeconds;
    EXPECT_EQ(s.step, 0) << "the step at the loop's start is wanted again";
    EXPECT_TRUE(s.holding);
    EXPECT_EQ(s.stepsDone, 0);
    EXPECT_TRUE(s.wrong.none());
    p.Up(60);
    p.Down(60);
    EXPECT_EQ(s.step, 1);
    // A seek forward goes past steps without doing them.
    p.wait.Seek(2.5);
    EXPECT_EQ(s.step, 2);
    EXPECT_FALSE(s.holding);
    p.song = 2.5;
    p.Run(1.0);
    EXPECT_TRUE(s.holding);
    EXPECT_DOUBLE_EQ(s.songSeconds, 3.0);
}

TEST(WaitMode, WindowsAreInRealTimeWhateverTheSpeed) {
    // How early a key may go down and how far apart a chord's keys may go down are the player's
    // time; at half speed the song's own distances are half as long.
    auto song = SongWithParts({{{2.0f, 60}, {4.0f, 60}, {4.0f, 64}}});
    for (const double speed : {0.5, 1.0, 2.0}) {
        for (const double earlyReal : {0.2, 0.3}) {
            Player p(*song, Part(0), speed);
            p.RunTo(2.0 - earlyReal * speed);
            // The frame may stop just short of it: strike at the exact real moment.
            const double lead = (2.0 - p.song) / speed;
            const WaitState& s = p.Down(60, lead - earlyReal);
            EXPECT_EQ(s.step == 1, earlyReal < WaitMode::kEarlyLead)
                << "speed " << speed << " early " << earlyReal;
        }
        for (const double spread : {0.07, 0.1}) {
            Player p(*song, Part(0), speed);
            p.Run(2.0 / speed + 0.1);
            p.Down(60);
            p.Run(2.0 / speed + 0.1);
            ASSERT_TRUE(p.wait.State().holding);
            ASSERT_EQ(p.wait.State().step, 1);
            p.Up(60);
            p.Down(60);
            const WaitState& s = p.Down(64, spread);
            EXPECT_EQ(s.step == -1, spread < WaitMode::kChordWindow)
                << "speed " << speed << " spread " << spread;
        }
    }
}

}  // namespace
