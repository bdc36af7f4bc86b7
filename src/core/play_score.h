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

    [[nodiscard]] int32_t Notes() const { return hits + early + late + missed; }
};

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
