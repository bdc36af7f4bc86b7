// The song's beats: where a metronome clicks, where a count-in counts and how fast the song goes
// in beats per minute. A beat is the note the time signature counts (a quarter in 4/4, an eighth
// in 6/8); the first beat of each bar is accented. A file without a time signature is in 4/4 from
// its first tick; a signature starts a new bar at its own tick, which is where files put them.
//
// Pure: the tempo map in, times out.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/note_timeline.h"

struct Beat {
    double seconds;  // into the song
    bool barStart;   // the first beat of its bar: clicked with the accent
};

// More beats than any song the reader accepts has (30 minutes at 16 beats a second): a damaged
// signature cannot make the grid grow without end.
inline constexpr int64_t kMostBeats = 30 * 60 * 16;

// Every beat from the song's start up to and including `untilSeconds`.
[[nodiscard]] std::vector<Beat> SongBeats(const TempoMap& tempo, double untilSeconds);

// One bar of clicks before a pass that begins at `startSeconds`: the bar and beat length in force
// there, at `speed` (1 is the song's own tempo). The times are real seconds before the pass
// begins, the first one farthest, the last one beat before it; the first is accented.
[[nodiscard]] std::vector<double> CountInBeats(const TempoMap& tempo, double startSeconds, double speed);

// The song's tempo at `seconds`, in quarter notes per minute, played at `speed`: what the window
// shows beside the speed's percentage. Rounded to a tenth, so that a tempo of 119.9999 reads 120.
[[nodiscard]] double BeatsPerMinuteAt(const TempoMap& tempo, double seconds, double speed);
