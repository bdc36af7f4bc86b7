#include "notation/score_song.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "midi/note_timeline.h"

ScoreSong ScoreSongFrom(const SongData& song, const TempoMap& tempo, const SongMeters& meters) {
    ScoreSong out;
    out.division = meters.division > 0 ? meters.division : std::max(tempo.Division(), 1);
    out.hands = song.reading == ReadingHands;
    out.partCount = song.PartsInUse();
    out.times = meters.times;
    out.keys = meters.keys;
    out.quarterSeconds = tempo.Seconds(out.division) - tempo.Seconds(0);
    for (int p = 0; p < out.partCount; ++p) {
        const SongPart& part = song.parts[p];
        out.partPrograms.push_back(part.program);
        out.partNames.emplace_back(part.name, strnlen(part.name, sizeof part.name));
        for (int i = 0; i < part.noteCount && part.notes != nullptr; ++i) {
            const NoteRecord& n = part.notes[i];
            const auto start = static_cast<int64_t>(std::llround(tempo.TicksAt(n.start)));
            const auto end = static_cast<int64_t>(std::llround(tempo.TicksAt(n.end)));
            out.notes.push_back({p, n.key, start, std::max(end, start + 1)});
        }
    }
    std::stable_sort(out.notes.begin(), out.notes.end(), [](const ScoreNote& a, const ScoreNote& b) {
        return a.start != b.start ? a.start < b.start : a.key < b.key;
    });
    return out;
}
