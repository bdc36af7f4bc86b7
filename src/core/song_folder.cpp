#include "core/song_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/file_access.h"

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool IsMidiFileName(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string ext;
    for (char c : name.substr(dot + 1)) ext += Lower(c);
    return ext == "mid" || ext == "midi" || ext == "kar" || ext == "rmi";
}

bool SongNameBefore(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Numbers by value: leading zeros skipped, then the longer run is the larger number.
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(a[ei])) ++ei;
            while (ej < b.size() && IsDigit(b[ej])) ++ej;
            if (ei - i != ej - j) return ei - i < ej - j;
            const int order = a.substr(i, ei - i).compare(b.substr(j, ej - j));
            if (order != 0) return order < 0;
            i = ei;
            j = ej;
            continue;
        }
        const char x = Lower(a[i]), y = Lower(b[j]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return j < b.size();
    return a < b;
}

std::string NeighbourSongName(std::vector<std::string> names, std::string_view current, int step) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string& n) { return !IsMidiFileName(n) || n == current; }),
                names.end());
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return SongNameBefore(a, b); });
    // The first name after `current`; the previous ones stand before it.
    const auto after =
        std::upper_bound(names.begin(), names.end(), current,
                         [](std::string_view c, const std::string& n) { return SongNameBefore(c, n); });
    const long at = after - names.begin();
    const long wanted = step > 0 ? at + step - 1 : at + step;
    if (step == 0 || wanted < 0 || wanted >= static_cast<long>(names.size())) return {};
    return names[static_cast<size_t>(wanted)];
}

std::string NeighbourSong(const std::string& songPath, int step) {
    namespace fs = std::filesystem;
    const fs::path song(songPath);
    fs::path folder = song.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        // Only files: a folder named "Old.mid" is no song, nor is a pipe.
        if (it->is_regular_file(typeError)) names.push_back(it->path().filename().string());
    }
    if (error) return {};
    const std::string name = NeighbourSongName(std::move(names), song.filename().string(), step);
    return name.empty() ? std::string() : (folder / name).string();
}

std::string TakePathFor(const std::string& songPath) {
    if (songPath.empty()) return "take.mid";
    const std::filesystem::path song(songPath);
    return (song.parent_path() / (FileTitleFromPath(songPath) + " (my take).mid")).string();
}
