// What one run of playing along scored, and whether it beats the best kept for its song and part.
//
// The scorer fills it (midi/follow_score.h) and the score memory keeps the best one per song and
// part (settings/song_scores.h); it sits here so that neither has to know the other.
#pragma once

#include <cstdint>

struct PlayScore {
    int32_t hits = 0;            // notes struck within the hit window of their time
    int32_t early = 0;           // struck before the hit window, within the judging window
    int32_t late = 0;            // struck after the hit window, within the judging window
    int32_t missed = 0;          // passed by the judging window with no key struck for them
    int32_t wrong = 0;           // keys struck for no note of the part
    double meanErrorMs = 0.0;    // mean of |error| over the hit, early and late notes, in real time
    int32_t speedPercent = 100;  // the song's speed during the run
    bool complete = false;       // the run judged every note of the part, from its first on
    // The mean error with its sign, over the same notes: negative when the player is ahead of the
    // song on the whole, positive when behind it.
    double meanOffsetMs = 0.0;
    // How hard the player struck against how hard the song does, over the notes struck from a
    // keyboard that tells how hard (the computer's keyboard does not): the mean of the player's
    // velocity less the note's, and how many notes that mean is of.
    double meanVelocityDelta = 0.0;
    int32_t velocityNotes = 0;

    [[nodiscard]] int32_t Notes() const { return hits + early + late + missed; }
};

// The run's accuracy in percent, on the points BeatsBest ranks by: 100 for every note a hit and
// no wrong key, 0 for none struck.
[[nodiscard]] inline double AccuracyPercent(const PlayScore& s) {
    const int64_t scale = 2 * (int64_t{s.Notes()} + s.wrong);
    if (scale <= 0) return 0.0;
    return 100.0 * static_cast<double>(2 * int64_t{s.hits} + s.early + s.late) / static_cast<double>(scale);
}

// How loud the player played against the song. Twelve steps of velocity either way is "even": about
// one marking of loudness (mp to mf), which a player's touch varies by from note to note.
enum class Dynamics { Unknown, TooSoft, Even, TooLoud };
inline constexpr double kEvenVelocitySpread = 12.0;
[[nodiscard]] inline Dynamics DynamicsOf(const PlayScore& s) {
    if (s.velocityNotes <= 0) return Dynamics::Unknown;
    if (s.meanVelocityDelta > kEvenVelocitySpread) return Dynamics::TooLoud;
    if (s.meanVelocityDelta < -kEvenVelocitySpread) return Dynamics::TooSoft;
    return Dynamics::Even;
}

// Whether `run` should replace `best` as the best result of its song and part. Only a complete run
// can be a best: a loop pass or a run begun in the middle played fewer notes, and a few notes done
// well would otherwise outrank a whole song. Runs are ranked by points: a hit earns two, an early
// or late note one, a missed note none, over two for every note and every wrong key, so that wrong
// keys cost as a missed note does and striking every key at once gains nothing. Equal points go to
// the faster speed, then to the smaller mean error; a tie keeps the best there is.
[[nodiscard]] inline bool BeatsBest(const PlayScore& run, const PlayScore& best) {
    if (!run.complete || run.Notes() <= 0) return false;
    if (!best.complete || best.Notes() <= 0) return true;
    // Cross-multiplied in 64 bits, so that equal fractions compare equal.
    const int64_t runPoints = 2 * int64_t{run.hits} + run.early + run.late;
    const int64_t bestPoints = 2 * int64_t{best.hits} + best.early + best.late;
    const int64_t runScale = 2 * (int64_t{run.Notes()} + run.wrong);
    const int64_t bestScale = 2 * (int64_t{best.Notes()} + best.wrong);
    const int64_t left = runPoints * bestScale;
    const int64_t right = bestPoints * runScale;
    if (left != right) return left > right;
    if (run.speedPercent != best.speedPercent) return run.speedPercent > best.speedPercent;
    return run.meanErrorMs < best.meanErrorMs;
}
