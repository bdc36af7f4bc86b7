// Follow mode: keys struck at scripted moments of a running song, judged against the part's notes,
// and the passes they add up to.
#include "midi/play_follow.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "play_song.h"

namespace {

PlayedParts Part(int p) {
    PlayedParts parts;
    parts.set(static_cast<size_t>(p));
    return parts;
}

// Runs the song clock from `from` to `to` song seconds at `speed`, in frames, keeping the real
// moment in step; returns the notes missed on the way.
int Play(FollowScorer& score, double& real, double from, double to, double speed) {
    int missed = 0;
    for (double song = from; song < to - 1e-9;) {
        song = std::min(to, song + 0.01 * speed);
        real += 0.01;
        missed += score.Advance(song, real);
    }
    return missed;
}

TEST(FollowScorer, JudgesEachKeyByItsErrorInRealTime) {
    const struct {
        double speed;
        double offset;  // real seconds from the note's time to the key's
        int key;
        Judgement judgement;
        double errorMs;
    } cases[] = {
        {1.0, 0.0, 60, Judgement::Hit, 0},    {1.0, -0.05, 60, Judgement::Hit, -50},
        {1.0, 0.07, 60, Judgement::Hit, 70},  {1.0, -0.1, 60, Judgement::Early, -100},
        {1.0, 0.2, 60, Judgement::Late, 200}, {1.0, -0.3, 60, Judgement::Wrong, 0},
        {1.0, 0.3, 60, Judgement::Wrong, 0},  {1.0, 0.0, 61, Judgement::Wrong, 0},
        {0.5, 0.1, 60, Judgement::Late, 100}, {0.5, -0.2, 60, Judgement::Early, -200},
        {2.0, 0.06, 60, Judgement::Hit, 60},  {2.0, 0.2, 60, Judgement::Late, 200},
    };
    auto song = SongWithParts({{{2.0f, 60}}, {{2.0f, 61}}});
    for (const auto& c : cases) {
        FollowScorer score;
        score.Load(*song, Part(0));
        score.SetSpeed(c.speed);
        double real = 0.0;
        const double keySong = 2.0 + c.offset * c.speed;
        Play(score, real, 0.0, keySong - 0.05 * c.speed, c.speed);
        // The key comes between two readings of the clock: the scorer carries the clock on to it.
        const JudgedKey k = score.KeyDown(c.key, real + 0.05);
        EXPECT_EQ(k.judgement, c.judgement) << "speed " << c.speed << " offset " << c.offset;
        EXPECT_NEAR(k.errorMs, c.errorMs, 1e-3) << "speed " << c.speed << " offset " << c.offset;
        EXPECT_EQ(k.note, c.judgement == Judgement::Wrong ? -1 : 0);
    }
}

TEST(FollowScorer, AKeyTakesTheNearestNoteNotYetStruck) {
    auto song = SongWithParts({{{1.0f, 60}, {1.2f, 60}}});
    FollowScorer score;
    score.Load(*song, Part(0));
    double real = 0.0;
    Play(score, real, 0.0, 1.15, 1.0);
    EXPECT_EQ(score.KeyDown(60, real).note, 1);
    score.KeyUp(60);
    const JudgedKey second = score.KeyDown(60, real);
    EXPECT_EQ(second.note, 0) << "the nearer note is taken; the other is still there";
    EXPECT_EQ(second.judgement, Judgement::Late);
    EXPECT_EQ(score.KeyDown(60, real).judgement, Judgement::None) << "a key still down strikes nothing";
}

TEST(FollowScorer, ARunAddsUpToACompletePass) {
    // Notes at 1, 2, 3 and 4 s: hit 20 ms late, early by 100 ms, missed, late by 150 ms; one
    // wrong key on the way.
    auto song = SongWithParts({{{1.0f, 60}, {2.0f, 62}, {3.0f, 64}, {4.0f, 65}}});
    FollowScorer score;
    score.Load(*song, Part(0));
    double real = 0.0;
    Play(score, real, 0.0, 1.02, 1.0);
    score.KeyDown(60, real);
    Play(score, real, 1.02, 1.9, 1.0);
    score.KeyDown(62, real);
    score.KeyDown(70, real);
    EXPECT_EQ(Play(score, real, 1.9, 3.4, 1.0), 1) << "the note at 3 s is missed once the window has passed";
    Play(score, real, 3.4, 4.15, 1.0);
    EXPECT_EQ(score.PassesEnded(), 0);
    score.KeyDown(65, real);
    ASSERT_EQ(score.PassesEnded(), 1) << "the pass ends with its last note";
    const PlayScore& s = score.LastPass();
    EXPECT_EQ(s.hits, 1);
    EXPECT_EQ(s.early, 1);
    EXPECT_EQ(s.missed, 1);
    EXPECT_EQ(s.late, 1);
    EXPECT_EQ(s.wrong, 1);
    EXPECT_NEAR(s.meanErrorMs, (20.0 + 100.0 + 150.0) / 3, 0.01);
    EXPECT_TRUE(s.complete);
    EXPECT_EQ(s.speedPercent, 100);
    EXPECT_EQ(score.KeyDown(72, real).judgement, Judgement::None) << "nothing is judged after the pass";
}

TEST(FollowScorer, ALoopPassIsJudgedOnItsOwnAndIsNeverComplete) {
    auto song = SongWithParts({{{1.0f, 60}, {2.0f, 62}, {3.0f, 64}, {4.0f, 65}}});
    FollowScorer score;
    score.Load(*song, Part(0));
    score.SetSpeed(0.5);
    double real = 0.0;
    score.Seek(1.5);  // a loop from 1.5 to 3.1: the player strikes the note at 2 s, not the one at 3 s
    Play(score, real, 1.5, 2.0, 0.5);
    EXPECT_EQ(score.KeyDown(62, real).judgement, Judgement::Hit);
    score.KeyUp(62);
    Play(score, real, 2.0, 3.1, 0.5);
    score.Advance(1.5, real);  // the loop wraps
    ASSERT_EQ(score.PassesEnded(), 1);
    const PlayScore& first = score.LastPass();
    EXPECT_EQ(first.hits, 1);
    EXPECT_EQ(first.missed, 1) << "the note the song passed before the wrap";
    EXPECT_EQ(first.Notes(), 2) << "the note before the loop and those after it are not this pass's";
    EXPECT_FALSE(first.complete);
    EXPECT_EQ(first.speedPercent, 50);
    EXPECT_EQ(score.JudgementOf(0), Judgement::Skipped);
    EXPECT_EQ(score.JudgementOf(1), Judgement::None) << "the next pass may strike it again";
    score.Seek(0.0);
    EXPECT_EQ(score.PassesEnded(), 1) << "a pass that judged nothing is none";
}

}  // namespace
