// How many notes start in each stretch of a song, over its whole length: what the time bar shows
// of a song whose sound is not there yet to draw (a huge song renders for minutes while it plays).
//
// Read from the song's own store once per song. Each part's notes are in order of start, so the
// notes before a time are found by one search a part: the cost follows the columns and the parts,
// not the notes, and a song of tens of millions of notes has its shape in a few milliseconds.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>

#include "core/audio_overview.h"
#include "core/song_data.h"

inline constexpr int kDensityColumns = kOverviewColumns;

class NoteDensity {
  public:
    // Counts the notes of the parts in `parts`; `song` may be null (an empty density).
    void Build(const SongData* song, const std::bitset<kMaxParts>& parts);
    void Clear() { *this = NoteDensity{}; }

    [[nodiscard]] bool Empty() const { return before_[kDensityColumns] == 0; }
    // The notes a second that start from `from` to `to` seconds, over the columns that begin in
    // that stretch (or the one column it lies in): stretches that meet share no column, and each
    // column is counted in one of them, so that a bar of any width shows every note once.
    [[nodiscard]] double Rate(double from, double to) const;
    // Differs between any two densities that count differently: for keeping what is drawn of it.
    [[nodiscard]] uint64_t Digest() const { return digest_; }

  private:
    // The notes that start before each column's start (before_[0] is 0), and all of them at the end.
    std::array<uint64_t, kDensityColumns + 1> before_{};
    double span_ = 0;  // the seconds the columns share: the song's length as read
    uint64_t digest_ = 0;
};
