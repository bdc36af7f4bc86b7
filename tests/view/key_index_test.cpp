// The per-key index the notes view draws dense songs from: each key's notes in order of start,
// notes that start together in the order of their parts and, within a part, of their reading.
#include "view/key_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

namespace {

// A song of `parts` parts of `perPart` notes over keys 60..62, starts drawn from a small set so
// that ties are common; `shuffled` parts are read out of order of start.
SongData MakeSong(int parts, int perPart, int shuffled, uint32_t seed) {
    SongData song{};
    (void)song.AllocateNotes(static_cast<int64_t>(parts) * perPart);
    song.partCount = parts;
    uint32_t x = seed;
    auto next = [&x] { return x = x * 1664525u + 1013904223u, x >> 16; };
    for (int p = 0; p < parts; ++p) {
        NoteRecord* notes = song.noteStore.get() + static_cast<ptrdiff_t>(p) * perPart;
        float at = 0.0f;
        for (int i = 0; i < perPart; ++i) {
            at += static_cast<float>(next() % 3) * 0.5f;
            notes[i] = {at, at + 0.25f, static_cast<uint8_t>(60 + next() % 3), 100};
        }
        if (p < shuffled) std::reverse(notes, notes + perPart);
        song.parts[p].notes = notes;
        song.parts[p].noteCount = perPart;
    }
    return song;
}

TEST(KeyIndex, EachKeyIsInOrderOfStartWithTiesInTheOrderRead) {
    struct Case {
        int parts, perPart, shuffled;
        int hidden;  // every this many parts, from the first, one is not drawn; 0: all are
    };
    // One part; an odd and an even number of parts in order; parts read backwards among them;
    // parts left out before, between and after those drawn, whose notes must not be found.
    const Case cases[] = {{1, 50, 0, 0}, {1, 50, 1, 0},  {5, 40, 0, 0}, {8, 40, 0, 0},
                          {7, 30, 3, 0}, {33, 20, 0, 0}, {9, 20, 2, 2}, {10, 25, 0, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.parts << " parts of " << c.perPart << ", " << c.shuffled
                                        << " backwards, hiding every " << c.hidden);
        const SongData song = MakeSong(c.parts, c.perPart, c.shuffled, 7u + static_cast<uint32_t>(c.parts));
        std::bitset<kMaxParts> drawn;
        int shown = 0;
        for (int p = 0; p < c.parts; ++p) {
            drawn.set(static_cast<size_t>(p), c.hidden == 0 || p % c.hidden != 0);
            shown += drawn.test(static_cast<size_t>(p)) ? 1 : 0;
        }
        KeyIndex index;
        index.Build(&song, drawn);
        ASSERT_EQ(index.Size(), static_cast<size_t>(shown * c.perPart));
        for (int key = 60; key <= 62; ++key) {
            // The order expected: every note of the key as the parts were read, sorted stably.
            std::vector<std::tuple<float, int, int>> expected;
            for (int p = 0; p < c.parts; ++p)
                for (int i = 0; i < c.perPart && drawn.test(static_cast<size_t>(p)); ++i)
                    if (song.parts[p].notes[i].key == key)
                        expected.emplace_back(song.parts[p].notes[i].start, p, i);
            std::stable_sort(expected.begin(), expected.end(),
                             [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
            std::vector<std::tuple<float, int, int>> got;
            for (size_t i = index.Begin(key); i < index.End(key); ++i)
                got.emplace_back(index.At(i).start, index.Locate(index.At(i).ref).part,
                                 index.Locate(index.At(i).ref).index);
            EXPECT_EQ(got, expected) << "key " << key;
        }
    }
}

}  // namespace
