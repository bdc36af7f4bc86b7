// Contents: the font files fontconfig names for the sans-serif face, with DejaVu Sans to fall
// back on.
#include "platform/font_files.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

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

const FontFiles& SystemFontFiles() {
    static const FontFiles files = LookUpFontFiles();
    return files;
}

}  // namespace platform
