// Contents: the font files fontconfig names for the sans-serif face, with DejaVu Sans to fall
// back on; the face for characters the sans-serif face lacks.
#include "platform/font_files.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <memory>
#include <mutex>

namespace platform {

namespace {

constexpr const char* kFallbackRegular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kFallbackBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

bool Readable(const std::string& path) {
    return !path.empty() && access(path.c_str(), R_OK) == 0;
}

// The face fontconfig picks for "sans-serif" at the given weight: its file, its index inside the
// file, and the weight it really has (a family without a bold face answers with its regular one).
bool MatchSansSerif(FcConfig* config, int weight, std::string* file, int* index, int* gotWeight) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    if (pattern == nullptr) return false;
    FcPatternAddInteger(pattern, FC_WEIGHT, weight);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) return false;
    FcChar8* path = nullptr;
    bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr;
    if (found) {
        *file = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, index) != FcResultMatch) *index = 0;
        if (FcPatternGetInteger(match, FC_WEIGHT, 0, gotWeight) != FcResultMatch) *gotWeight = weight;
    }
    FcPatternDestroy(match);
    return found;
}

FontFiles LookUpFontFiles() {
    FontFiles files;
    if (FcConfig* config = FcInitLoadConfigAndFonts()) {
        int weight = 0;
        if (!MatchSansSerif(config, FC_WEIGHT_REGULAR, &files.regular, &files.regularIndex, &weight) ||
            !Readable(files.regular)) {
            files.regular.clear();
        }
        if (MatchSansSerif(config, FC_WEIGHT_BOLD, &files.bold, &files.boldIndex, &weight) &&
            Readable(files.bold) && weight >= FC_WEIGHT_DEMIBOLD) {
            // A real bold face.
        } else {
            files.bold.clear();
        }
        FcConfigDestroy(config);
    }
    if (files.regular.empty()) {
        files.regular = kFallbackRegular;
        files.regularIndex = 0;
    }
    if (files.bold.empty()) {
        if (Readable(kFallbackBold)) {
            files.bold = kFallbackBold;
            files.boldIndex = 0;
        } else {
            files.bold = files.regular;
            files.boldIndex = files.regularIndex;
            files.boldIsSynthetic = true;
        }
    }
    return files;
}

}  // namespace

std::optional<FontFace> FaceCovering(const std::u32string& characters, bool bold) {
    if (characters.empty()) return std::nullopt;
    // Loading the configuration reads every font's cache: done once, and kept for the process.
    static std::mutex mutex;
    static FcConfig* const config = FcInitLoadConfigAndFonts();
    const std::lock_guard<std::mutex> lock(mutex);  // a configuration is not safe to share unguarded
    if (config == nullptr) return std::nullopt;

    std::unique_ptr<FcCharSet, decltype(&FcCharSetDestroy)> wanted(FcCharSetCreate(), &FcCharSetDestroy);
    std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(
        FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif")), &FcPatternDestroy);
    if (wanted == nullptr || pattern == nullptr) return std::nullopt;
    for (const char32_t c : characters) FcCharSetAddChar(wanted.get(), static_cast<FcChar32>(c));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, wanted.get());
    FcConfigSubstitute(config, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> sorted(
        FcFontSort(config, pattern.get(), FcFalse, nullptr, &result), &FcFontSetDestroy);
    if (sorted == nullptr) return std::nullopt;
    // The ranking puts faces that cover more of the characters first, but not only those that cover
    // them all: each candidate is checked, character by character.
    for (int i = 0; i < sorted->nfont; ++i) {
        FcPattern* font = sorted->fonts[i];
        FcCharSet* has = nullptr;
        FcChar8* file = nullptr;
        if (FcPatternGetCharSet(font, FC_CHARSET, 0, &has) != FcResultMatch || has == nullptr ||
            FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || file == nullptr) {
            continue;
        }
        bool all = true;
        for (const char32_t c : characters) all = all && FcCharSetHasChar(has, static_cast<FcChar32>(c));
        if (!all || !Readable(reinterpret_cast<const char*>(file))) continue;
        FontFace face;
        face.file = reinterpret_cast<const char*>(file);
        if (FcPatternGetInteger(font, FC_INDEX, 0, &face.index) != FcResultMatch) face.index = 0;
        return face;
    }
    return std::nullopt;
}

const FontFiles& SystemFontFiles() {
    static const FontFiles files = LookUpFontFiles();
    return files;
}

}  // namespace platform
