#include "export/video_look.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "midi/gm_programs.h"
#include "resources/images.h"

namespace {

// The entries the notes view and the title card draw with are themed; the control panel's and
// time bar's keep the window's colours, which their own widgets are drawn to match.
constexpr Palette MakeTheme(uint32_t clear, uint32_t text, uint32_t octave, uint32_t cLine,
                            uint32_t barLine) {
    Palette p = kDefaultPalette;
    p.colour[PalClear] = clear;
    p.colour[8] = text;  // text and bar numbers
    p.colour[16] = octave;
    p.colour[17] = clear;  // the notes area
    p.colour[18] = cLine;
    p.colour[19] = barLine;
    return p;
}

constexpr Palette kLightPalette = MakeTheme(0xF4F1EA, 0x1E1E24, 0xE4E0D6, 0xB4AEA2, 0x8C877E);
constexpr Palette kContrastPalette = MakeTheme(0x000000, 0xFFFFFF, 0x000000, 0x9A9A9A, 0xFFFFFF);

// Deep enough to stand out on paper, and still told apart from one another: the hands' amber
// and green first, as in the window, then the voices'.
constexpr uint32_t kLightNotes[res::kNoteColourCount] = {
    0xD97A00, 0x2E8B22, 0xC2185B, 0x1E5FC8, 0x7B3FC0, 0x00897B, 0xB23A1A, 0x5D6B00, 0x8D5524, 0x37474F,
    0x6A1B9A, 0xAD1457, 0x00695C, 0x827717, 0x4E342E, 0x283593, 0xE65100, 0x1B5E20, 0x880E4F, 0x01579B,
};
// Pure and saturated, the hands' as yellow and cyan so that even without telling colours apart
// well the two differ in brightness.
constexpr uint32_t kContrastNotes[res::kNoteColourCount] = {
    0xFFFF00, 0x00FFFF, 0xFF00FF, 0x00FF00, 0xFF8000, 0x4080FF, 0xFF0000, 0xFFFFFF, 0xFF80C0, 0x80FF80,
    0xC080FF, 0xFFC000, 0x00C0C0, 0xC0FF00, 0xFF4080, 0x80C0FF, 0xFFFF80, 0xFF6040, 0x40FFC0, 0xC0C0C0,
};

}  // namespace

std::optional<VideoTheme> ParseVideoTheme(std::string_view name) {
    if (name == "dark") return VideoTheme::Dark;
    if (name == "light") return VideoTheme::Light;
    if (name == "contrast") return VideoTheme::Contrast;
    return std::nullopt;
}

const Palette& ThemePalette(VideoTheme theme) {
    switch (theme) {
        case VideoTheme::Light:
            return kLightPalette;
        case VideoTheme::Contrast:
            return kContrastPalette;
        case VideoTheme::Dark:
            break;
    }
    return kDefaultPalette;
}

const uint32_t* ThemeNoteColours(VideoTheme theme) {
    switch (theme) {
        case VideoTheme::Light:
            return kLightNotes;
        case VideoTheme::Contrast:
            return kContrastNotes;
        case VideoTheme::Dark:
            break;
    }
    return nullptr;
}

bool FitsSong(VideoFit fit, int width, int height) {
    return fit == VideoFit::On || (fit == VideoFit::Auto && height >= width);
}

VideoIntro PlanIntro(const VideoLook& look, const SongData* song, float lookAhead, int fps) {
    VideoIntro intro;
    if (fps <= 0) return intro;
    if (look.titleCard) intro.titleFrames = static_cast<int64_t>(std::llround(kTitleCardSeconds * fps));
    if (!look.leadIn || song == nullptr) return intro;
    double first = -1;
    for (int p = 0; p < std::clamp(song->partCount, 0, kMaxParts); ++p) {
        const SongPart& part = song->parts[p];
        if (part.notes == nullptr || part.channel == kPercussionChannel) continue;
        for (int i = 0; i < part.noteCount; ++i) {
            const double start = part.notes[i].start;
            if (start >= 0 && (first < 0 || start < first)) first = start;
        }
    }
    if (first < 0) return intro;  // nothing falls
    const double lead = std::max(0.0, static_cast<double>(lookAhead) - first);
    intro.leadFrames = static_cast<int64_t>(std::ceil(lead * fps - 1e-9));
    return intro;
}

std::string SongTitle(const SongData& song, const std::string& fileTitle) {
    int track = -1;
    const char* name = nullptr;
    for (int p = 0; p < std::clamp(song.partCount, 0, kMaxParts); ++p) {
        const SongPart& part = song.parts[p];
        if (part.noteCount <= 0) continue;
        if (track >= 0 && part.track != track) return fileTitle;
        track = part.track;
        name = part.name;
    }
    // The name is NUL-terminated inside its field; a damaged one is read no further than it.
    const std::string title =
        name != nullptr ? std::string(name, strnlen(name, kPartNameBytes)) : std::string();
    return title.find_first_not_of(" \t") != std::string::npos ? title : fileTitle;
}

std::string SongInstruments(const SongData& song) {
    std::string list;
    bool seen[129] = {};  // the 128 programs, and percussion
    for (int p = 0; p < std::clamp(song.partCount, 0, kMaxParts); ++p) {
        const SongPart& part = song.parts[p];
        if (part.noteCount <= 0) continue;
        const bool drums = part.channel == kPercussionChannel;
        // A part that never chose a program plays the first one, as every General MIDI synthesiser
        // starts.
        const int program = drums ? 128 : std::clamp(part.program, 0, 127);
        if (seen[program]) continue;
        seen[program] = true;
        if (!list.empty()) list += ", ";
        list += drums ? "Drums" : GmProgramName(program);
    }
    // Percussion is heard but kept in no part.
    if (song.percussionNotes > 0 && !seen[128]) list += list.empty() ? "Drums" : ", Drums";
    return list;
}
