// Feeds arbitrary bytes to the settings parser and to the parsers of what is remembered of a song.
// Besides the sanitizers' checks, the results must hold together: a value never spans lines, the
// display name holds no folder and is never longer than the path, the volume is a percent, the
// video choices are ones an export can take, a remembered loop lies forwards inside the longest
// song, and every best score kept is a complete
// run of some notes at a speed the player has, under a label naming parts, that its own file text
// reads back the same, whatever the file says; so do the passes of the history and the notes
// moved to the other hand.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/file_access.h"
#include "core/song_data.h"
#include "settings/settings.h"
#include "settings/song_hands.h"
#include "settings/song_memory.h"
#include "settings/song_scores.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader refuses files above 1 MiB, so larger inputs test nothing the program would see.
    if (size > (size_t{1} << 20)) return 0;
    Settings settings;
    ParseSettingsText(settings, reinterpret_cast<const char*>(data), size);

    const std::string& path = settings.soundFontPath;
    const std::string name = FileTitleFromPath(path);
    if (name.size() > path.size()) std::abort();
    if (std::memchr(path.data(), '\n', path.size()) != nullptr) std::abort();
    if (name.find('/') != std::string::npos) std::abort();
    if (settings.volumePercent < 0 || settings.volumePercent > kFullVolume) std::abort();
    if (const std::optional<VideoChoices>& v = settings.video) {
        if (v->width < 2 || v->height < 2 || v->width > kLargestVideoSide || v->height > kLargestVideoSide ||
            v->width % 2 != 0 || v->height % 2 != 0 || (v->fps != 30 && v->fps != 60) || v->quality < 0 ||
            v->quality > 2)
            std::abort();
    }

    SongMemory memory;
    ParseSongMemory(memory, reinterpret_cast<const char*>(data), size);
    if (memory.loopStart >= 0 && !(memory.loopEnd > memory.loopStart && memory.loopEnd <= 3600.0))
        std::abort();

    ScoreMemory scores;
    ParseScoreMemory(scores, reinterpret_cast<const char*>(data), size);
    for (const PartBest& b : scores.bests) {
        const PlayScore& s = b.score;
        if (!IsPartsLabel(b.parts) || !s.complete || s.Notes() <= 0 || s.Notes() > kMaxSongNotes)
            std::abort();
        if (!(s.meanErrorMs >= 0 && s.meanErrorMs <= 1000.0) || s.speedPercent < 25 || s.speedPercent > 200)
            std::abort();
    }
    const std::string text = ScoreMemoryText(scores);
    ScoreMemory back;
    ParseScoreMemory(back, text.data(), text.size());
    if (back.bests.size() != scores.bests.size()) std::abort();
    for (size_t i = 0; i < back.bests.size(); ++i) {
        const PlayScore& a = scores.bests[i].score;
        const PlayScore& b = back.bests[i].score;
        if (back.bests[i].parts != scores.bests[i].parts || a.hits != b.hits || a.early != b.early ||
            a.late != b.late || a.missed != b.missed || a.wrong != b.wrong ||
            a.speedPercent != b.speedPercent)
            std::abort();
    }
    // The history reads back as many passes, each of some notes or keys, as were kept.
    if (scores.passes.size() > kMaxPasses || back.passes.size() != scores.passes.size()) std::abort();
    for (size_t i = 0; i < back.passes.size(); ++i) {
        const PassRecord& a = scores.passes[i];
        const PassRecord& b = back.passes[i];
        if (a.score.Notes() + a.score.wrong <= 0 || a.when < 0 || a.parts != b.parts || a.when != b.when ||
            a.score.hits != b.score.hits || a.score.complete != b.score.complete ||
            a.score.velocityNotes != b.score.velocityNotes)
            std::abort();
    }

    HandEdits edits;
    ParseHandEdits(edits, reinterpret_cast<const char*>(data), size);
    const std::string handText = HandEditsText(edits);
    HandEdits handsBack;
    ParseHandEdits(handsBack, handText.data(), handText.size());
    if (handsBack.moved != edits.moved) std::abort();
    for (const MovedNote& n : edits.moved)
        if (n.key < 0 || n.key > 127 || n.startMs < 0 || n.hand > kOtherHand) std::abort();
    return 0;
}
