// Practising a passage by bars: the places a loop's marks snap to, and the trainer that raises
// the speed as the passage comes right. Pure: times and scores in, times and speeds out.
#pragma once

#include <cstdint>

#include "core/play_score.h"
#include "core/song_data.h"

// The bar line nearest `seconds` (the song's start counts as one), or `seconds` itself when
// `exact` (the player holds Shift) or the song has no bar lines.
[[nodiscard]] double SnapToBar(const SongData& song, double seconds, bool exact);

// A loop's end snapped as its start is, but never onto or before `start`: a loop of a bar at
// least, unless `exact` asks for the very time. Returns a negative time when nothing after
// `start` can end the loop (past the song's last bar line and not exact).
[[nodiscard]] double SnapLoopEnd(const SongData& song, double start, double seconds, bool exact);

// The trainer raises the speed by kTrainerStep after each clean pass, up to the song's own
// (100%); a pass with a miss or a wrong key leaves it where it is.
class LoopTrainer {
  public:
    static constexpr int32_t kTrainerStep = 5;
    static constexpr int32_t kTrainerTop = 100;

    // A clean pass: every note struck (early and late count: timing is what the speed is kept
    // down for, not what it is raised on) and no wrong key.
    [[nodiscard]] static bool Clean(const PlayScore& pass) {
        return pass.Notes() > 0 && pass.missed == 0 && pass.wrong == 0;
    }
    // The speed, in percent, to play the next pass at after `pass` was played at `speedPercent`.
    [[nodiscard]] static int32_t NextSpeed(int32_t speedPercent, const PlayScore& pass) {
        if (!Clean(pass) || speedPercent >= kTrainerTop) return speedPercent;
        // Up to the next step, so that a speed set off the steps (say 33%) lands on them.
        const int32_t next = (speedPercent / kTrainerStep + 1) * kTrainerStep;
        return next > kTrainerTop ? kTrainerTop : next;
    }
};
