#include "midi/named_chord.h"

#include <cstdint>
#include <initializer_list>
#include <iterator>

namespace {

// Each kind as the pitch classes above its root (bit n: n semitones up), plainest first, so that
// among readings of one root the plainer wins. The fifth may be left out of the sevenths, as
// players often do; the other kinds need every note.
struct ChordKind {
    uint16_t intervals;
    const char* suffix;
};

constexpr uint16_t Bits(std::initializer_list<int> steps) {
    uint16_t bits = 0;
    for (const int s : steps) bits = static_cast<uint16_t>(bits | (1u << s));
    return bits;
}

constexpr ChordKind kKinds[] = {
    {Bits({0, 4, 7}), ""},          {Bits({0, 3, 7}), "m"},           {Bits({0, 7}), "5"},
    {Bits({0, 4, 7, 10}), "7"},     {Bits({0, 4, 7, 11}), "maj7"},    {Bits({0, 3, 7, 10}), "m7"},
    {Bits({0, 3, 6}), "dim"},       {Bits({0, 4, 8}), "aug"},         {Bits({0, 5, 7}), "sus4"},
    {Bits({0, 2, 7}), "sus2"},      {Bits({0, 4, 7, 9}), "6"},        {Bits({0, 3, 7, 9}), "m6"},
    {Bits({0, 3, 6, 10}), "m7b5"},  {Bits({0, 3, 6, 9}), "dim7"},     {Bits({0, 3, 7, 11}), "m(maj7)"},
    {Bits({0, 5, 7, 10}), "7sus4"}, {Bits({0, 2, 4, 7}), "add9"},     {Bits({0, 2, 3, 7}), "m(add9)"},
    {Bits({0, 2, 4, 7, 10}), "9"},  {Bits({0, 2, 4, 7, 11}), "maj9"}, {Bits({0, 2, 3, 7, 10}), "m9"},
    {Bits({0, 4, 10}), "7"},        {Bits({0, 4, 11}), "maj7"},       {Bits({0, 3, 10}), "m7"},
    {Bits({0, 4, 8, 10}), "aug7"},
};

// Chord roots as lead sheets spell them: the flats of the keys they are most often in.
constexpr const char* kRoots[12] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};

// The pitch classes `held` read from `root` up.
uint16_t Rotated(uint16_t held, int root) {
    return static_cast<uint16_t>(((held >> root) | (held << (12 - root))) & 0xFFF);
}

}  // namespace

std::string ChordName(std::span<const int> keys) {
    uint16_t held = 0;
    int lowest = 128;
    for (const int key : keys) {
        if (key < 0 || key > 127) continue;
        held = static_cast<uint16_t>(held | (1u << (key % 12)));
        if (key < lowest) lowest = key;
    }
    if (lowest > 127) return "";
    const int bass = lowest % 12;
    int bestRoot = -1;
    size_t bestKind = 0;
    for (int root = 0; root < 12; ++root) {
        if (!(held & (1u << root))) continue;
        const uint16_t shape = Rotated(held, root);
        for (size_t k = 0; k < std::size(kKinds); ++k) {
            if (kKinds[k].intervals != shape) continue;
            const bool better = bestRoot < 0 || (root == bass && bestRoot != bass) ||
                                ((root == bass) == (bestRoot == bass) && k < bestKind);
            if (better) {
                bestRoot = root;
                bestKind = k;
            }
            break;
        }
    }
    if (bestRoot < 0) return "";
    std::string name = std::string(kRoots[bestRoot]) + kKinds[bestKind].suffix;
    if (bestRoot != bass) name += std::string("/") + kRoots[bass];
    return name;
}
