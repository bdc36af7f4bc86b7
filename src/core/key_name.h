// The name of a MIDI key as a musician writes it: its letter, a sharp or a flat for the five keys
// between the letters, and its octave, counted from C as pianists count it, with middle C (key 60)
// as C4. So 21 is A0 (the piano's lowest key), 61 is C#4 or Db4 and 108 is C8. Keys below C0 are
// in octave -1, down to key 0, C-1.
#pragma once

#include <cstdint>

// How the keys between two letters are spelled: C# or Db.
enum class Accidentals : uint8_t { Sharps, Flats };

struct KeyName {
    char text[5] = {};        // NUL-terminated, at most "C#-1"; empty for a key outside 0 to 127
    int32_t pitchLength = 0;  // the letter and its sign without the octave: 2 for "C#4", 1 for "C4"
    int32_t length = 0;       // the characters of `text`
};

[[nodiscard]] constexpr KeyName NameOfKey(int key, Accidentals spelling) {
    // Per pitch class from C: the letter, and the sign ('#' or 'b') of the five keys with none.
    constexpr char kSharpLetters[12] = {'C', 'C', 'D', 'D', 'E', 'F', 'F', 'G', 'G', 'A', 'A', 'B'};
    constexpr char kFlatLetters[12] = {'C', 'D', 'D', 'E', 'E', 'F', 'G', 'G', 'A', 'A', 'B', 'B'};
    constexpr bool kBetween[12] = {false, true,  false, true,  false, false,
                                   true,  false, true,  false, true,  false};
    KeyName name;
    if (key < 0 || key > 127) return name;
    const int pitch = key % 12;
    const int octave = key / 12 - 1;
    int n = 0;
    name.text[n++] = spelling == Accidentals::Flats ? kFlatLetters[pitch] : kSharpLetters[pitch];
    if (kBetween[pitch]) name.text[n++] = spelling == Accidentals::Flats ? 'b' : '#';
    name.pitchLength = n;
    if (octave < 0) name.text[n++] = '-';
    name.text[n++] = static_cast<char>('0' + (octave < 0 ? -octave : octave));
    name.text[n] = '\0';
    name.length = n;
    return name;
}
