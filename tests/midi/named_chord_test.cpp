// Chord names for what a player holds: every kind, inversions, readings that compete, and what
// has no name.
#include "midi/named_chord.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ChordName, NamesWhatIsHeld) {
    const struct {
        std::vector<int> keys;
        const char* name;
    } cases[] = {
        {{60, 64, 67}, "C"},
        {{57, 60, 64}, "Am"},
        {{47, 50, 55}, "G/B"},      // first inversion
        {{55, 60, 64}, "C/G"},      // second inversion
        {{57, 60, 64, 67}, "Am7"},  // A C E G from A: not C6
        {{60, 64, 67, 69}, "C6"},   // the same notes from C
        {{55, 59, 62, 65}, "G7"},
        {{53, 57, 60, 64}, "Fmaj7"},
        {{59, 62, 65, 69}, "Bm7b5"},
        {{59, 62, 65, 68}, "Bdim7"},
        {{62, 67, 69}, "Dsus4"},
        {{60, 64, 68}, "Caug"},
        {{48, 55}, "C5"},
        {{48, 60, 64, 67, 72, 76}, "C"},  // doubled in octaves
        {{43, 59, 65}, "G7"},             // the fifth left out
        {{58, 62, 65, 68, 72}, "Bb9"},
        {{61, 65, 68}, "C#"},
        {{63, 66, 70}, "Ebm"},
        {{60}, ""},          // a single note
        {{60, 61, 62}, ""},  // a cluster
        {{60, 64}, ""},      // an interval
        {{}, ""},
        {{-1, 200}, ""},  // no keys at all
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChordName(c.keys), c.name) << "keys starting " << (c.keys.empty() ? -1 : c.keys[0]);
    }
}

}  // namespace
