// notation/: sheet music made from a song: its notes quantised into measures, voices, beams and
// key spellings, written as MusicXML or laid out on pages of glyphs. Pure: notes in, layout out.
//
// Keys for written music: the key of a song that does not say (a key-finding profile over how
// long each pitch class sounds), and the name of each key in a key signature (which of C sharp
// and D flat a black key is).
#pragma once

#include <cstdint>
#include <vector>

#include "notation/measure_layout.h"

struct KeyGuess {
    int32_t fifths;  // -6..6, sharps positive
    bool minor;
};

// The key whose major or minor profile correlates best with the time each pitch class sounds in
// `notes`; C major for a song of no notes.
[[nodiscard]] KeyGuess EstimateKey(const std::vector<ScoreNote>& notes);

// How `key` is written in a key of `fifths` sharps (negative: flats): the key's own notes as the
// signature has them, the others as the nearest names on the line of fifths, flats before sharps
// in a major key and sharps before flats in a minor one (its raised sixth and seventh).
[[nodiscard]] Spelling SpellKey(int32_t key, int32_t fifths, bool minor);

// The alteration a key signature gives `step`.
[[nodiscard]] int8_t SignatureAlter(int32_t fifths, int32_t step);

// The staff line or space of a spelt note: 0 for middle C, 1 for the D above, -1 for the B below.
[[nodiscard]] inline int32_t DiatonicIndex(const Spelling& s) {
    return (s.octave - 4) * 7 + s.step;
}

// Where a head is written: its staff place moved by the octaves of the line over it.
[[nodiscard]] inline int32_t WrittenPlace(const Spelling& s, int8_t octaves) {
    return DiatonicIndex(s) - 7 * octaves;
}
