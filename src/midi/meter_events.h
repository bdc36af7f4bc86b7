// The metre a file writes down for whoever reads it as music: its division, its time signatures
// and its key signatures, in ticks. The player never needs them, so the song reader leaves them
// out; sheet music is made from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TimeSignatureEvent {
    int64_t tick;
    int32_t numerator;    // beats in a bar, 1..255
    int32_t denominator;  // the beat's note value: 1, 2, 4, 8 ... (a power of two)
};

struct KeySignatureEvent {
    int64_t tick;
    int32_t fifths;  // -7 (seven flats) .. 7 (seven sharps)
    bool minor;
};

struct SongMeters {
    int32_t division = 0;                   // ticks per quarter note; 0 when the file has no usable header
    std::vector<TimeSignatureEvent> times;  // ascending by tick; at one tick the later event wins
    std::vector<KeySignatureEvent> keys;    // likewise
};

// Gathers the signatures of every track of the Standard MIDI File in `data` (a RIFF MIDI file is
// unwrapped first). A track that is cut short or damaged gives what it held before the fault;
// signatures out of range (a key of eight sharps, a denominator of 2^9) are dropped, not clamped,
// since no one can say what they meant. Reads never go past data + size.
[[nodiscard]] SongMeters ReadSongMeters(const uint8_t* data, size_t size);
