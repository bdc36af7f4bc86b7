// The font files the text of every render target uses: the system's sans-serif face as fontconfig
// names it (the bold face for weight 600 and above), DejaVu Sans when fontconfig has none; and, for
// text in scripts that face lacks (a song's file name in Chinese or Japanese), another installed face
// that has its characters.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct FontFiles {
    std::string regular;
    int regularIndex = 0;
    std::string bold;
    int boldIndex = 0;
    bool boldIsSynthetic = false;  // no bold face: the regular face is emboldened
};

// Looked up once per process.
[[nodiscard]] const FontFiles& SystemFontFiles();

struct FontFace {
    std::string file;
    int index = 0;  // the face inside a collection file
};

// The face fontconfig ranks first, among those like the sans-serif face at this weight, that has
// every one of `characters`; none when no installed face has them all. Safe from any thread.
[[nodiscard]] std::optional<FontFace> FaceCovering(const std::u32string& characters, bool bold);

}  // namespace platform
