// Songs for the play-along tests, made in memory: each part a list of (start, key) notes.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "core/song_data.h"

using PartNotes = std::vector<std::pair<float, int>>;

inline std::unique_ptr<SongData> SongWithParts(const std::vector<PartNotes>& parts) {
    auto song = std::make_unique<SongData>();  // value-initialised: every field zero
    int64_t total = 0;
    for (const PartNotes& p : parts) total += static_cast<int64_t>(p.size());
    if (!song->AllocateNotes(total)) return song;
    song->partCount = static_cast<int32_t>(parts.size());
    song->reading = parts.size() == 2 ? ReadingHands : ReadingVoices;
    NoteRecord* at = song->noteStore.get();
    for (size_t p = 0; p < parts.size(); ++p) {
        song->parts[p].notes = at;
        song->parts[p].noteCount = static_cast<int32_t>(parts[p].size());
        for (const auto& [start, key] : parts[p])
            *at++ = NoteRecord{start, start + 0.2f, static_cast<uint8_t>(key), 80};
    }
    return song;
}
