#include "platform/music_font.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

std::string MusicFontFile() {
    if (const char* chosen = std::getenv("DORVIK_MUSIC_FONT"); chosen != nullptr && *chosen != '\0')
        return chosen;
    namespace fs = std::filesystem;
    std::error_code error;
    std::vector<std::string> found;
    for (fs::directory_iterator it("/usr/share/lilypond", error), end; !error && it != end;
         it.increment(error)) {
        const fs::path file = it->path() / "fonts" / "otf" / "emmentaler-20.otf";
        std::error_code missing;
        if (fs::is_regular_file(file, missing)) found.push_back(file.string());
    }
    if (found.empty()) return "";
    // Of several versions, the one whose folder sorts last, a longer name first (2.24.1 after 2.9.0).
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return found.back();
}

}  // namespace platform
