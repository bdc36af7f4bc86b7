// The font files the text of every render target uses: the system's sans-serif face as fontconfig
// names it (the bold face for weight 600 and above), DejaVu Sans when fontconfig has none.
#pragma once

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

}  // namespace platform
