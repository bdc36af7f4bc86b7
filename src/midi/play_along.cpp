#include "midi/play_along.h"

#include <algorithm>

std::string PlayedPartsLabel(const PlayedParts& parts) {
    std::string label;
    for (size_t p = 0; p < parts.size(); ++p) {
        if (!parts.test(p)) continue;
        if (!label.empty()) label += '+';
        label += std::to_string(p + 1);
    }
    return label;
}

std::vector<PlayNote> PlayedNotes(const SongData& song, const PlayedParts& parts) {
    std::vector<PlayNote> notes;
    const int count = std::clamp(song.partCount, 0, kMaxParts);
    for (int p = 0; p < count; ++p) {
        const SongPart& part = song.parts[p];
        if (!parts.test(static_cast<size_t>(p)) || part.notes == nullptr) continue;
        for (int32_t i = 0; i < part.noteCount; ++i) {
            const NoteRecord& n = part.notes[i];
            if (n.key <= 127) notes.push_back({n.start, n.key, n.velocity});
        }
    }
    std::sort(notes.begin(), notes.end(), [](const PlayNote& a, const PlayNote& b) {
        return a.start != b.start ? a.start < b.start : a.key < b.key;
    });
    // Two parts striking one key at one moment (the hands meeting in the middle) are one key for
    // the player: a single finger cannot strike it twice at once.
    notes.erase(std::unique(notes.begin(), notes.end(),
                            [](const PlayNote& a, const PlayNote& b) {
                                return a.start == b.start && a.key == b.key;
                            }),
                notes.end());
    return notes;
}
