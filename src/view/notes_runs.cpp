// The notes view's choice of what falls this frame: each key's notes in the window, found through
// the key index, single notes on sparse keys and runs on crowded ones.
#include <algorithm>

#include "view/notes_view.h"

namespace {

// A key whose notes in the window are more than one for every this many rows of the notes area is
// crowded: its notes are drawn as runs. Sparser keys, which every song played by hands has, draw
// each note on its own. On a crowded key, notes less than this many rows apart join one run: each
// bar is drawn as a sprite some 65 rows tall whatever its length, so bars a row or two apart would
// cost the frame dozens of times the key column's pixels and show only a stripe of darker glow.
constexpr float kRowsPerSingleNote = 4.0f;

}  // namespace

void NotesView::GatherShownBars() {
    shownBars.clear();
    if (song == nullptr || !indexBuilt || song->noteTracks < 1 || !(lookAhead > 0) || !(notesHeight > 0))
        return;
    const float row = lookAhead / notesHeight;  // the song seconds one row of the notes area spans
    const auto crowded = static_cast<size_t>(notesHeight / kRowsPerSingleNote);
    for (int key = 0; key < kIndexedKeys; ++key) {
        const int shown = ShownKey(key);
        if (shown < kLowestKey || shown > kHighestKey) continue;
        const RectF& rect = keys[shown - kLowestKey].rect;
        if (rect.right <= 0 || rect.left >= width) continue;  // outside a keyboard fitted to the song
        const size_t from = keyIndex.FirstSoundingAt(key, currentTime);
        const size_t to = keyIndex.FirstStartingAfter(key, topTime);
        if (to <= from) continue;
        if (to - from > crowded) {
            GatherRuns(key, from, to, row * kRowsPerSingleNote);
            continue;
        }
        for (size_t i = from; i < to;) {
            const size_t next = keyIndex.SkipEnded(key, i, currentTime);
            if (next != i) {
                i = next;
                continue;
            }
            const KeyNote& n = keyIndex.At(i++);
            if (ShownNote(n.part, n.index) != nullptr) shownBars.push_back({n.part, n.index, 0, 0, false});
        }
    }
    // Drawn part by part in the order each part's notes were read, as they always were: where
    // notes of two parts or two keys overlap, the same one lies on top.
    std::sort(shownBars.begin(), shownBars.end(), [](const ShownBar& a, const ShownBar& b) {
        return a.part != b.part ? a.part < b.part : a.index < b.index;
    });
}

void NotesView::GatherRuns(int key, size_t from, size_t to, float join) {
    // Walked in order of start, a note that starts within `join` of the run so far (or inside it)
    // joins it; a whole block of notes that all start so, one after another, is taken in at once.
    ShownBar run{};
    bool open = false;
    for (size_t i = from; i < to;) {
        const size_t next = keyIndex.SkipEnded(key, i, currentTime);
        if (next != i) {
            i = next;
            continue;
        }
        if (open && keyIndex.BlockFirst(key, i)) {
            const size_t stop = keyIndex.BlockStop(key, i);
            const float reach = run.end + join;
            // Every note of the block starts within reach of the run, or of the block's notes
            // before it: the block adds nothing but its latest end.
            if (stop <= to && (keyIndex.At(stop - 1).start <= reach ||
                               (keyIndex.At(i).start <= reach && keyIndex.BlockGap(key, i) <= join))) {
                run.end = std::max(run.end, keyIndex.BlockEnd(key, i));
                i = stop;
                continue;
            }
        }
        const KeyNote& n = keyIndex.At(i++);
        if (n.end < currentTime) continue;
        if (open && n.start <= run.end + join) {
            run.end = std::max(run.end, n.end);
            continue;
        }
        if (open) shownBars.push_back(run);
        run = {n.part, n.index, n.start, n.end, true};
        open = true;
    }
    if (open) shownBars.push_back(run);
}
