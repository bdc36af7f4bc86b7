// The name of the chord a player holds, as it is written over a lead sheet: its root, its kind
// ("m", "7", "maj7", "dim", "sus4" ...) and, when the lowest key is not the root, that key after a
// slash. So C E G is "C", A C E G is "Am7", B D G is "G/B", C G is "C5". Keys that make no chord
// of the kinds named here (a single note, a cluster, most intervals) have no name.
#pragma once

#include <span>
#include <string>

// `keys` are MIDI keys (0..127) in any order, repeats and octaves allowed. Where one set of notes
// reads as two chords (C E G A is C6 and Am7), the one whose root is the lowest key wins, then the
// plainer kind.
[[nodiscard]] std::string ChordName(std::span<const int> keys);
