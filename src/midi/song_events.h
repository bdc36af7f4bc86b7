// The song as an instrument hears it: every channel event of every track (notes, program changes,
// controllers, pressure, pitch bends), timed in seconds on the song's one tempo map and in the
// order the synthesiser's player sends them, each note-on marked with the part it belongs to so
// that a muted part can be left out. What plays the song on a MIDI output reads this; the reader
// itself keeps only the notes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/song_data.h"

class TempoMap;

// A note-on of no part the player can mute: a voice left out past the song's limits, or a note
// that matches none the reader kept. It always sounds.
inline constexpr int16_t kNoPart = -1;
// A note-on on the percussion channel, which belongs to no part and is muted on its own.
inline constexpr int16_t kDrumsPart = -2;

struct SongEvent {
    double seconds;  // from the start of the song, at its own tempo
    uint8_t status;  // 0x80..0xEF; a note-on of velocity 0 is kept as the note-off it means
    uint8_t data1;
    uint8_t data2;  // 0 for program change and channel pressure
    int16_t part;   // of a note-on: the song's part, kNoPart or kDrumsPart; kNoPart otherwise
};

struct SongEvents {
    std::vector<SongEvent> events;  // by time, ties in the player's order
    uint16_t channels = 0;          // bit c set: channel c has an event
};

// Reads the channel events of the file in `data` (a RIFF MIDI file is unwrapped first) that
// ParseSong read into `song` with `tempo`. An event with a data byte of 128 or more is left out:
// the synthesiser refuses it, and an instrument would take the byte for a new status. Returns
// false, with `out` empty, when the file is not one ParseSong accepts.
[[nodiscard]] bool ReadSongEvents(const uint8_t* data, size_t size, const SongData& song,
                                  const TempoMap& tempo, SongEvents& out);
