// The notes view's choice of what falls this frame: each key's notes in the window, found through
// the key index, single notes on sparse keys and runs on crowded ones.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "resources/images.h"
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
    const StoreGathered now{currentTime, topTime, width, notesHeight, options.transpose, true};
    if (!indexBuilt && pendingIndex.valid() && now == storeGathered) return;  // the same bars again
    storeGathered = {};
    shownBars.clear();
    if (song == nullptr || song->noteTracks < 1 || !(lookAhead > 0) || !(notesHeight > 0)) return;
    const float row = lookAhead / notesHeight;  // the song seconds one row of the notes area spans
    if (!indexBuilt) {
        // The song shows from its first frame, not only once its index is done.
        if (!pendingIndex.valid()) return;
        GatherFromStore(row * kRowsPerSingleNote);
        storeGathered = now;
        return;
    }
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
            const KeyNoteAt at = keyIndex.Locate(keyIndex.At(i++).ref);
            if (ShownNote(at.part, at.index) != nullptr)
                shownBars.push_back({at.part, at.index, 0, 0, false});
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
        const KeyNoteAt at = keyIndex.Locate(n.ref);
        run = {at.part, at.index, n.start, n.end, true};
        open = true;
    }
    if (open) shownBars.push_back(run);
}

void NotesView::GatherFromStore(float join) {
    // Each part's notes are in order of start, so those that start in the window are found by a
    // search. A note that began more than a window's height of time ago is not looked for: those
    // few frames may miss a long note still held, and nothing else. The notes found are joined
    // into runs key by key, over all parts, as a crowded key's are.
    struct Found {
        float start;
        float end;
        int32_t index;
        uint8_t key;
        uint8_t part;
    };
    static_assert(kMaxParts <= 256, "a part's number fits a byte");
    std::vector<Found> found;
    for (int p = 0; p < std::clamp(song->partCount, 0, kMaxParts); ++p) {
        const SongPart& part = song->parts[p];
        if (part.notes == nullptr || part.noteCount <= 0) continue;
        const int colour = PartColour(p);
        if (colour < 0 || colour >= res::kNoteColourCount) continue;
        const NoteRecord* begin = part.notes;
        const NoteRecord* end = part.notes + part.noteCount;
        const float from = currentTime - lookAhead;
        const NoteRecord* n =
            std::partition_point(begin, end, [from](const NoteRecord& r) { return r.start < from; });
        for (; n != end && !(n->start > topTime); ++n) {
            if (n->key >= kIndexedKeys || !(n->start < n->end) || n->end < currentTime) continue;
            const int shown = ShownKey(n->key);
            if (shown < kLowestKey || shown > kHighestKey) continue;
            const RectF& rect = keys[shown - kLowestKey].rect;
            if (rect.right <= 0 || rect.left >= width) continue;
            found.push_back(
                {n->start, n->end, static_cast<int32_t>(n - begin), n->key, static_cast<uint8_t>(p)});
        }
    }
    // Put key by key (a count, not a sort), then each key's notes by start, the earlier part and
    // note first on a tie, as the index has them: the run takes its first note's part.
    size_t keyBegin[kIndexedKeys + 1] = {};
    for (const Found& f : found) ++keyBegin[f.key + 1];
    for (int k = 0; k < kIndexedKeys; ++k) keyBegin[k + 1] += keyBegin[k];
    std::vector<Found> byKey(found.size());
    size_t at[kIndexedKeys];
    std::copy(keyBegin, keyBegin + kIndexedKeys, at);
    for (const Found& f : found) byKey[at[f.key]++] = f;
    for (int k = 0; k < kIndexedKeys; ++k) {
        const auto from = byKey.begin() + static_cast<std::ptrdiff_t>(keyBegin[k]);
        const auto to = byKey.begin() + static_cast<std::ptrdiff_t>(keyBegin[k + 1]);
        std::sort(from, to, [](const Found& a, const Found& b) {
            if (a.start != b.start) return a.start < b.start;
            return a.part != b.part ? a.part < b.part : a.index < b.index;
        });
        for (auto i = from; i != to;) {
            ShownBar run{i->part, i->index, i->start, i->end, true};
            for (++i; i != to && i->start <= run.end + join; ++i) run.end = std::max(run.end, i->end);
            shownBars.push_back(run);
        }
    }
    std::sort(shownBars.begin(), shownBars.end(), [](const ShownBar& a, const ShownBar& b) {
        return a.part != b.part ? a.part < b.part : a.index < b.index;
    });
}
