#include "view/key_index.h"

#include <algorithm>
#include <utility>

namespace {

bool StartsBefore(const KeyNote& a, const KeyNote& b) {
    return a.start < b.start;
}

// Sorts `notes` by start, keeping notes that start together in their order, by merging the runs
// already in order pairwise. A key's notes come part by part, each part's already in order, so
// a key of n notes from p parts takes n log p steps where a sort from scratch takes n log n: for
// a song of tens of millions of notes, seconds less before its first frame.
void SortRunsByStart(KeyNote* notes, size_t n, std::vector<KeyNote>& spare) {
    std::vector<size_t> runs{0};  // where each run starts, then where the last ends
    for (size_t i = 1; i < n; ++i)
        if (StartsBefore(notes[i], notes[i - 1])) runs.push_back(i);
    runs.push_back(n);
    if (runs.size() <= 2) return;
    spare.resize(n);
    KeyNote* from = notes;
    KeyNote* to = spare.data();
    std::vector<size_t> merged;
    while (runs.size() > 2) {
        merged.assign(1, 0);
        size_t r = 0;
        for (; r + 2 < runs.size(); r += 2) {
            // std::merge takes from the first run on ties: the earlier note stays first.
            std::merge(from + runs[r], from + runs[r + 1], from + runs[r + 1], from + runs[r + 2],
                       to + runs[r], StartsBefore);
            merged.push_back(runs[r + 2]);
        }
        if (r + 1 < runs.size()) {  // a last run without a partner goes over as it is
            std::copy(from + runs[r], from + runs[r + 1], to + runs[r]);
            merged.push_back(runs[r + 1]);
        }
        std::swap(from, to);
        std::swap(runs, merged);
    }
    if (from != notes) std::copy(from, from + n, notes);
}

}  // namespace

void KeyIndex::Clear() {
    notes_.clear();
    notes_.shrink_to_fit();
    blockEnd_.clear();
    blockEnd_.shrink_to_fit();
    blockEndSoFar_.clear();
    blockEndSoFar_.shrink_to_fit();
    blockGap_.clear();
    blockGap_.shrink_to_fit();
    std::fill(std::begin(keyBegin_), std::end(keyBegin_), 0);
    std::fill(std::begin(blockBegin_), std::end(blockBegin_), 0);
    std::fill(std::begin(partBase_), std::end(partBase_), 0);
    partsIndexed_ = 0;
}

void KeyIndex::Build(const SongData* song, const std::bitset<kMaxParts>& drawn) {
    Clear();
    if (song == nullptr) return;
    const int parts = std::clamp(song->partCount, 0, kMaxParts);
    // A note is drawn only while it has a length; one without (no note-off seen, or a time that
    // is not a number) would only be stepped over at every frame.
    auto indexed = [](const NoteRecord& n) { return n.key < kIndexedKeys && n.start < n.end; };
    auto taken = [&](int p) {
        const SongPart& part = song->parts[p];
        return drawn.test(static_cast<size_t>(p)) && part.notes != nullptr && part.noteCount > 0;
    };
    // Every note of a taken part gets a number, indexed or not, so that a number finds its note by
    // subtraction alone.
    for (int p = 0; p < parts; ++p) {
        const int64_t notes = taken(p) ? song->parts[p].noteCount : 0;
        if (partBase_[p] + notes > int64_t{UINT32_MAX}) break;
        partBase_[p + 1] = partBase_[p] + notes;
        partsIndexed_ = p + 1;
    }
    size_t count[kIndexedKeys] = {};
    for (int p = 0; p < partsIndexed_; ++p) {
        if (!taken(p)) continue;
        const SongPart& part = song->parts[p];
        for (int32_t i = 0; i < part.noteCount; ++i)
            if (indexed(part.notes[i])) ++count[part.notes[i].key];
    }
    size_t at[kIndexedKeys];
    for (int k = 0; k < kIndexedKeys; ++k) {
        keyBegin_[k + 1] = keyBegin_[k] + count[k];
        at[k] = keyBegin_[k];
        blockBegin_[k + 1] = blockBegin_[k] + (count[k] + kKeyBlock - 1) / kKeyBlock;
    }
    notes_.resize(keyBegin_[kIndexedKeys]);
    for (int p = 0; p < partsIndexed_; ++p) {
        if (!taken(p)) continue;
        const SongPart& part = song->parts[p];
        const auto base = static_cast<uint32_t>(partBase_[p]);
        for (int32_t i = 0; i < part.noteCount; ++i) {
            const NoteRecord& n = part.notes[i];
            if (!indexed(n)) continue;
            notes_[at[n.key]++] = {n.start, n.end, base + static_cast<uint32_t>(i)};
        }
    }
    // Parts were laid in one after another, each in the order it was read: a stable sort by start
    // keeps notes that start together in the order the view has always drawn them.
    blockEnd_.resize(blockBegin_[kIndexedKeys]);
    blockEndSoFar_.resize(blockBegin_[kIndexedKeys]);
    blockGap_.resize(blockBegin_[kIndexedKeys]);
    std::vector<KeyNote> spare;
    for (int k = 0; k < kIndexedKeys; ++k) {
        SortRunsByStart(notes_.data() + keyBegin_[k], keyBegin_[k + 1] - keyBegin_[k], spare);
        float soFar = -1e30f;
        for (size_t b = blockBegin_[k]; b < blockBegin_[k + 1]; ++b) {
            const size_t from = keyBegin_[k] + (b - blockBegin_[k]) * kKeyBlock;
            const size_t to = std::min(from + kKeyBlock, keyBegin_[k + 1]);
            float latest = notes_[from].end;
            float gap = -1e30f;
            for (size_t i = from + 1; i < to; ++i) {
                gap = std::max(gap, notes_[i].start - latest);
                latest = std::max(latest, notes_[i].end);
            }
            blockEnd_[b] = latest;
            blockGap_[b] = gap;
            soFar = std::max(soFar, latest);
            blockEndSoFar_[b] = soFar;
        }
    }
}

size_t KeyIndex::FirstSoundingAt(int key, float time) const {
    const auto first = blockEndSoFar_.begin() + static_cast<std::ptrdiff_t>(blockBegin_[key]);
    const auto last = blockEndSoFar_.begin() + static_cast<std::ptrdiff_t>(blockBegin_[key + 1]);
    // The first block that has a note ending at or after the time; all before it ended earlier.
    const auto block = std::lower_bound(first, last, time);
    return std::min(keyBegin_[key] + static_cast<size_t>(block - first) * kKeyBlock, keyBegin_[key + 1]);
}

size_t KeyIndex::FirstStartingAfter(int key, float time, bool orAt) const {
    const auto first = notes_.begin() + static_cast<std::ptrdiff_t>(keyBegin_[key]);
    const auto last = notes_.begin() + static_cast<std::ptrdiff_t>(keyBegin_[key + 1]);
    const auto found =
        orAt ? std::lower_bound(first, last, time, [](const KeyNote& n, float t) { return n.start < t; })
             : std::upper_bound(first, last, time, [](float t, const KeyNote& n) { return t < n.start; });
    return static_cast<size_t>(found - notes_.begin());
}

size_t KeyIndex::SkipEnded(int key, size_t i, float time) const {
    const size_t offset = i - keyBegin_[key];
    if (offset % kKeyBlock != 0 || i >= keyBegin_[key + 1]) return i;
    if (!(blockEnd_[blockBegin_[key] + offset / kKeyBlock] < time)) return i;
    return std::min(i + kKeyBlock, keyBegin_[key + 1]);
}
