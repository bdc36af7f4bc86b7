// The quantiser: measures framed by the file's time signatures, each beat given the simplest grid
// its onsets fit (straight or triplet), the notes moved onto it, and the notes of one staff shared
// out into voices where they overlap.
//
// A sequenced file's notes lie exactly on its grid, and the simplest grid that holds every onset
// of a beat to within a 48th of a quarter is the one the file was written in. A file played in by
// hand fits no grid so closely; each beat then takes the grid that costs least, weighing how far
// the notes move against how busy the grid is, so that a hand's unevenness reads as sixteenths
// and eighth triplets rather than as sixty-fourths.
#pragma once

#include <cstdint>
#include <vector>

#include "notation/measure_layout.h"

struct MeasureFrame {
    int64_t start;   // units
    int32_t length;  // units, a multiple of six
    int64_t startTick;
    int32_t numerator;
    int32_t denominator;
};

struct BeatFrame {
    int64_t start;
    int32_t length;
    int32_t step;   // the grid within it; 0 while no onset chose one
    bool triplet;   // its grid divides it in three
    bool compound;  // a dotted beat (6/8 and the like)
    bool partial;   // the odd remainder of a bar shorter than its beats
    bool exact;     // every onset lies on its grid: the file was written on it, not played in
};

struct ChordSpan {
    int64_t start;  // units
    int64_t end;
    std::vector<int32_t> keys;   // ascending
    std::vector<int32_t> notes;  // index into ScoreSong::notes, beside keys
    // Beside keys: the head goes on from the voice's chord before (tiedIn) or into the one after
    // (tiedOn), where a note held through other notes of its voice is split at their onsets.
    std::vector<char> tiedIn;
    std::vector<char> tiedOn;
    // Beside keys: how many units after `start` the key sounds, in a chord struck as a roll.
    std::vector<int32_t> attack;
    int8_t roll = 0;  // struck as a roll, 1 upwards, -1 downwards: one chord with a roll sign
};

struct StaffVoices {
    std::vector<BeatFrame> beats;                // the song's beats with this staff's grids
    std::vector<std::vector<ChordSpan>> voices;  // voice 1 first, each by time, none overlapping
};

// The song's measures up to `endUnit`, at most kMaxScoreMeasures.
[[nodiscard]] std::vector<MeasureFrame> FrameMeasures(const ScoreSong& song, int64_t endUnit);

// The beats of `measures`, every grid still unchosen.
[[nodiscard]] std::vector<BeatFrame> FrameBeats(const std::vector<MeasureFrame>& measures);

// Quantises the notes `indices` of `song` (one staff's) onto grids of `beats` and shares them
// into at most four voices. Notes past the last beat are left out. Onsets a hair apart that all
// sound on together are one chord, struck as a roll when they climb or fall across the keys; a
// note that no voice is free for joins the voice that frees soonest, tied through its chords,
// rather than being cut short.
[[nodiscard]] StaffVoices QuantiseStaff(const ScoreSong& song, const std::vector<int32_t>& indices,
                                        std::vector<BeatFrame> beats);

// A tick as units (96 to the quarter), unrounded.
[[nodiscard]] inline double UnitsOf(int64_t tick, int32_t division) {
    return static_cast<double>(tick) * kUnitsPerQuarter / (division > 0 ? division : 1);
}
