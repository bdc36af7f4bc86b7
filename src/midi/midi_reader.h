// Reading a Standard MIDI File into a SongData. Only what a piano song needs is taken: notes on
// channels 0, 1 and 2 and tempo changes; everything else is decoded and skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/song_data.h"

// Reads and parses the file at `path` into `song`, which must be freshly zeroed. Returns whether
// the song is usable. On false, song.status says why, except for a song longer than 30 minutes,
// which is refused with the status the parse left.
[[nodiscard]] bool ReadMidiFile(SongData& song, const std::string& path);

// Parses a whole file image in memory into `song` (freshly zeroed) and finishes it. Reads never
// go past data + size: the end of the data ends the chunk and the file, and the song keeps what
// was read up to there. Returns false when the load fails (status 1 before any note, or 2).
[[nodiscard]] bool ParseSong(SongData& song, const uint8_t* data, size_t size);

// The string-table id of the text that explains a load status ("Error" when it has none).
[[nodiscard]] int MidiStatusStringId(int32_t status);
