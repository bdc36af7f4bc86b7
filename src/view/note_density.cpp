#include "view/note_density.h"

#include <algorithm>
#include <cmath>

void NoteDensity::Build(const SongData* song, const std::bitset<kMaxParts>& parts) {
    Clear();
    if (song == nullptr) return;
    const int count = std::clamp(song->partCount, 0, kMaxParts);
    // The song's length as read ends with its last note; a song without one gets a second, over
    // which its notes (all at 0 then) are counted.
    span_ = std::isfinite(song->duration) && song->duration > 0 ? song->duration : 1.0;
    for (int p = 0; p < count; ++p) {
        const SongPart& part = song->parts[p];
        if (!parts.test(static_cast<size_t>(p)) || part.notes == nullptr || part.noteCount <= 0) continue;
        const NoteRecord* first = part.notes;
        const NoteRecord* const last = part.notes + part.noteCount;
        // Each search starts where the one before ended, so a part read out of order of start
        // still gives counts that never fall.
        for (int c = 1; c < kDensityColumns; ++c) {
            const auto time = static_cast<float>(span_ * c / kDensityColumns);
            first = std::partition_point(first, last, [time](const NoteRecord& n) { return n.start < time; });
            before_[static_cast<size_t>(c)] += static_cast<uint64_t>(first - part.notes);
        }
        before_[kDensityColumns] += static_cast<uint64_t>(part.noteCount);
    }
    digest_ = 0xCBF29CE484222325ull;
    for (uint64_t v : before_) digest_ = (digest_ ^ v) * 0x100000001B3ull;
}

double NoteDensity::Rate(double from, double to) const {
    if (!(to > from) || !std::isfinite(from) || !std::isfinite(to) || Empty()) return 0;
    const double columnSeconds = span_ / kDensityColumns;
    const auto at = [columnSeconds](double time) {
        return std::clamp(time / columnSeconds, 0.0, double{kDensityColumns});
    };
    const double a = at(from), b = at(to);
    const auto first = static_cast<size_t>(std::ceil(a));
    const auto stop = static_cast<size_t>(std::ceil(b));
    if (stop > first)
        return static_cast<double>(before_[stop] - before_[first]) /
               (static_cast<double>(stop - first) * columnSeconds);
    const size_t c = std::min(static_cast<size_t>(a), size_t{kDensityColumns - 1});
    return static_cast<double>(before_[c + 1] - before_[c]) / columnSeconds;
}
