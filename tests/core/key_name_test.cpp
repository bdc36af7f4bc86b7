// Key names: the octave boundary at C, both spellings of the keys between the letters, and the
// ends of the MIDI range.
#include "core/key_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(KeyName, NamesKeysAcrossOctavesInBothSpellings) {
    struct Case {
        int key;
        const char* sharps;
        const char* flats;
        int pitchLength;
    };
    const Case cases[] = {
        {21, "A0", "A0", 1},     // the piano's lowest key
        {22, "A#0", "Bb0", 2},   //
        {23, "B0", "B0", 1},     // the last key of octave 0
        {24, "C1", "C1", 1},     // octaves start at C, not at A
        {59, "B3", "B3", 1},     //
        {60, "C4", "C4", 1},     // middle C
        {61, "C#4", "Db4", 2},   //
        {63, "D#4", "Eb4", 2},   //
        {64, "E4", "E4", 1},     // no sign between E and F
        {65, "F4", "F4", 1},     //
        {66, "F#4", "Gb4", 2},   //
        {68, "G#4", "Ab4", 2},   //
        {70, "A#4", "Bb4", 2},   //
        {108, "C8", "C8", 1},    // the piano's highest key
        {0, "C-1", "C-1", 1},    // below the piano: octave -1
        {1, "C#-1", "Db-1", 2},  // the longest name
        {127, "G9", "G9", 1},    // the highest MIDI key
    };
    for (const Case& c : cases) {
        for (const Accidentals spelling : {Accidentals::Sharps, Accidentals::Flats}) {
            const KeyName name = NameOfKey(c.key, spelling);
            const std::string expected = spelling == Accidentals::Sharps ? c.sharps : c.flats;
            EXPECT_EQ(std::string(name.text), expected) << "key " << c.key;
            EXPECT_EQ(name.length, static_cast<int>(expected.size())) << "key " << c.key;
            EXPECT_EQ(name.pitchLength, c.pitchLength) << "key " << c.key;
        }
    }
}

TEST(KeyName, KeysOutsideTheMidiRangeHaveNoName) {
    for (const int key : {-1, -13, 128, 1000}) {
        const KeyName name = NameOfKey(key, Accidentals::Sharps);
        EXPECT_STREQ(name.text, "") << "key " << key;
        EXPECT_EQ(name.length, 0) << "key " << key;
    }
}

static_assert(NameOfKey(60, Accidentals::Sharps).text[0] == 'C', "usable in constant expressions");

}  // namespace
