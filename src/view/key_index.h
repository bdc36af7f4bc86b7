// The song's drawn notes key by key, each key's notes sorted by start: what a frame of the notes
// view needs to find the notes over one key between two times without walking the rest of the
// song, however many notes it has. Built once per song.
//
// An entry keeps only what finding and joining notes needs, the two times, and refers to the rest
// of its note (part, place in the part, velocity) by one number: twelve bytes a note, as the song's
// own store takes, so that the window holds a song of tens of millions of notes in little more
// than twice the store. Only the notes a frame actually draws are looked up through the number.
//
// The notes of a key are cut into blocks of kKeyBlock. Each block keeps the latest end of its
// notes, and the latest end of every block up to it; with those, the notes still sounding at a
// time are found by a binary search and a walk that steps over whole blocks of ended notes.
#pragma once

#include <algorithm>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/song_data.h"

inline constexpr int kIndexedKeys = 128;  // every MIDI key, so that any transposition can be drawn
inline constexpr int kKeyBlock = 32;

struct KeyNote {
    float start;
    float end;
    // The note, counted over the indexed parts in order: part by part, each in the order its notes
    // were read. So a smaller number is an earlier part, or an earlier note of the same part.
    uint32_t ref;
};
static_assert(sizeof(KeyNote) == 12, "a note of the index takes no more than one of the song's store");

// Where a note of the index lies in the song: its part and its place in the part's notes.
struct KeyNoteAt {
    int32_t part;
    int32_t index;
};

class KeyIndex {
  public:
    // Indexes the notes of the parts in `drawn` that have a length (start before end); `song`
    // may be null (an empty index). Parts past the four thousand millionth note are left out,
    // a song far beyond any memory limit.
    void Build(const SongData* song, const std::bitset<kMaxParts>& drawn);
    void Clear();

    [[nodiscard]] size_t Size() const { return notes_.size(); }
    // The notes of a key: positions [Begin(key), End(key)) of At.
    [[nodiscard]] size_t Begin(int key) const { return keyBegin_[key]; }
    [[nodiscard]] size_t End(int key) const { return keyBegin_[key + 1]; }
    [[nodiscard]] const KeyNote& At(size_t i) const { return notes_[i]; }
    // The part and place of the note that `ref` refers to.
    [[nodiscard]] KeyNoteAt Locate(uint32_t ref) const {
        // The last part whose first number is at most ref: an empty part before it has the same.
        const int64_t* after = std::upper_bound(partBase_, partBase_ + partsIndexed_ + 1, int64_t{ref});
        const auto part = static_cast<int32_t>(after - partBase_ - 1);
        return {part, static_cast<int32_t>(int64_t{ref} - partBase_[part])};
    }

    // The first position of the key's notes from which on a note may end at or after `time`:
    // every note of the key before it ends before `time`.
    [[nodiscard]] size_t FirstSoundingAt(int key, float time) const;
    // The first position of the key's notes that starts after `time` (or at it, when `orAt`).
    [[nodiscard]] size_t FirstStartingAfter(int key, float time, bool orAt = false) const;
    // The position of the block after `i`'s when all of `i`'s block ends before `time` and `i`
    // is the block's first; `i` otherwise. For stepping over blocks of ended notes.
    [[nodiscard]] size_t SkipEnded(int key, size_t i, float time) const;
    // Whether `i` is the first of one of the key's blocks, and the position after that block's
    // last note: for taking a whole block in at once.
    [[nodiscard]] bool BlockFirst(int key, size_t i) const {
        return i < keyBegin_[key + 1] && (i - keyBegin_[key]) % kKeyBlock == 0;
    }
    [[nodiscard]] size_t BlockStop(int key, size_t i) const {
        return std::min(i + kKeyBlock, keyBegin_[key + 1]);
    }
    // The latest end of the notes of the block that `i` is the first of (see BlockFirst).
    [[nodiscard]] float BlockEnd(int key, size_t i) const {
        return blockEnd_[blockBegin_[key] + (i - keyBegin_[key]) / kKeyBlock];
    }
    // The widest gap inside the block that `i` is the first of: the most by which one of its notes
    // starts after every note of the block before it has ended (below 0 when none does). A block
    // whose first note joins a run, and whose gap is within the run's reach, joins it whole.
    [[nodiscard]] float BlockGap(int key, size_t i) const {
        return blockGap_[blockBegin_[key] + (i - keyBegin_[key]) / kKeyBlock];
    }

  private:
    std::vector<KeyNote> notes_;
    size_t keyBegin_[kIndexedKeys + 1] = {};
    // Per block of a key, at blockBegin_[key] + b: its notes' latest end, and that of every block
    // of the key up to it (which never falls, so it can be searched).
    std::vector<float> blockEnd_;
    std::vector<float> blockEndSoFar_;
    std::vector<float> blockGap_;
    size_t blockBegin_[kIndexedKeys + 1] = {};
    // The number of each part's first note, over the parts up to partsIndexed_ (undrawn ones
    // numbered with no notes), and the end of the last.
    int64_t partBase_[kMaxParts + 1] = {};
    int partsIndexed_ = 0;
};
