// The best play-along result of each song, per part played, kept between runs.
//
// Each song has a file "songs/<key>.scores.txt" in the data folder, beside what is remembered of
// the song (settings/song_memory.h) and named by the same key. One line per part played:
//
//     best 1+2 = 120 4 3 2 5 23.5 100
//
// the parts as the player names them (midi/play_along.h), then the hits, early, late, missed and
// wrong counts, the mean timing error in milliseconds and the speed in percent. Every pass played
// is kept too, oldest first, one line each:
//
//     pass 1+2 = 1765244400 120 4 3 2 5 23.5 100 -8.2 4.5 129 1
//
// the parts, the moment the pass ended (seconds since 1970, UTC), the figures of a best line, then
// the signed mean error, the mean velocity against the song's, the notes that mean is of and 1
// for a complete pass. Lines that do not read so (comments, damaged lines, a newer program's
// other lines) are passed over, so a file of bests alone reads as before and a program that knows
// only bests reads this one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/play_score.h"

struct PartBest {
    std::string parts;  // "1", "2", "1+2", a voice's number
    PlayScore score;    // complete
};

// One pass as the history keeps it.
struct PassRecord {
    std::string parts;
    int64_t when = 0;  // seconds since 1970, UTC
    PlayScore score;
};

// The passes kept per song: the oldest go first once there are more, so the file stays small
// enough to read at every load.
inline constexpr size_t kMaxPasses = 2000;

struct ScoreMemory {
    std::vector<PartBest> bests;     // one per parts label
    std::vector<PassRecord> passes;  // oldest first

    // The best kept for `parts`; null when none.
    [[nodiscard]] const PlayScore* Find(const std::string& parts) const;
    // Keeps `run` as the best of `parts` when it beats the one kept (core/play_score.h says how);
    // true when it did, and the file is then worth writing.
    bool Offer(const std::string& parts, const PlayScore& run);
    // Keeps a pass of `parts` that ended at `when` in the history; false for no parts label.
    bool AddPass(const std::string& parts, int64_t when, const PlayScore& run);
};

// Whether `parts` is a parts label this memory keeps: part numbers 1 to 256, ascending, joined by '+'.
[[nodiscard]] bool IsPartsLabel(const std::string& parts);

// Applies the text data[0..size) to `memory`. Safe on any bytes; a line it cannot read is ignored,
// and of two lines for one part the later counts.
void ParseScoreMemory(ScoreMemory& memory, const char* data, size_t size);
// The file's text for `memory`.
[[nodiscard]] std::string ScoreMemoryText(const ScoreMemory& memory);

// The bests kept for the song with `key` (settings/song_memory.h's SongKey); none when there is no
// file, no data folder or a file that cannot be read.
[[nodiscard]] ScoreMemory ReadScoreMemory(const std::string& key);
// Keeps `memory` for the song with `key`, replacing the file whole once the new one is complete;
// false, quietly, when it could not be written. A link in the file's place is not written through:
// the songs folder is the program's own, and a link there is none of its making.
[[nodiscard]] bool WriteScoreMemory(const std::string& key, const ScoreMemory& memory);

// Replaces the file at `path` in the songs folder with `text` once the new file is complete; false
// when it could not, or when anything but a regular file (a link, a folder) is in its place.
[[nodiscard]] bool WriteSongFile(const std::string& path, const std::string& text);
