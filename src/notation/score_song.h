// What sheet music is made from: a song's notes placed back on the file's own ticks, with the
// file's division, time signatures and key signatures. Nothing here knows seconds; the tempo map
// has already been used to find each note's tick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/song_data.h"
#include "midi/meter_events.h"

class TempoMap;

struct ScoreNote {
    int32_t part;   // the song's part (a hand or a voice)
    int32_t key;    // MIDI key 0..127
    int64_t start;  // ticks
    int64_t end;    // ticks, after start
};

struct ScoreSong {
    int32_t division = 480;  // ticks per quarter note
    bool hands = true;       // the song is read as two hands
    int32_t partCount = 0;
    std::vector<int32_t> partPrograms;      // per part, -1 when none was set
    std::vector<std::string> partNames;     // per part, "" when the file names none
    std::vector<ScoreNote> notes;           // by start, then key
    std::vector<TimeSignatureEvent> times;  // as the file has them
    std::vector<KeySignatureEvent> keys;    // as the file has them; empty: the key is estimated
    double quarterSeconds = 0.5;            // a quarter note's length where the song starts
};

// Gathers `song`'s notes on the ticks the tempo map puts them at. Notes that the song cut to
// nothing keep the shortest length a tick allows, so that none goes missing from the page.
[[nodiscard]] ScoreSong ScoreSongFrom(const SongData& song, const TempoMap& tempo, const SongMeters& meters);
