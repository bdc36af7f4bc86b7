#include "midi/loop_bars.h"

#include <algorithm>
#include <cmath>

namespace {

// The bar lines in use, ascending.
const float* LinesBegin(const SongData& song) {
    return song.barLines;
}
const float* LinesEnd(const SongData& song) {
    return song.barLines + std::clamp(song.barLineCount, 0, kMaxBarLines);
}

}  // namespace

double SnapToBar(const SongData& song, double seconds, bool exact) {
    const float* begin = LinesBegin(song);
    const float* end = LinesEnd(song);
    if (exact || begin == end || !std::isfinite(seconds)) return seconds;
    const float* after = std::lower_bound(begin, end, static_cast<float>(seconds));
    if (after == begin) return *begin;
    if (after == end) return *(end - 1);
    const float* before = after - 1;
    return seconds - *before <= *after - seconds ? *before : *after;
}

double SnapLoopEnd(const SongData& song, double start, double seconds, bool exact) {
    if (exact) return seconds > start ? seconds : -1.0;
    const float* begin = LinesBegin(song);
    const float* end = LinesEnd(song);
    if (begin == end) return seconds > start ? seconds : -1.0;
    // A bar line counts as after the start only past a rounding of the start's own.
    constexpr double kSameLine = 1e-4;
    double snapped = SnapToBar(song, seconds, false);
    if (snapped <= start + kSameLine) {
        const float* next = std::upper_bound(begin, end, static_cast<float>(start + kSameLine));
        if (next == end) return -1.0;
        snapped = *next;
    }
    return snapped;
}
