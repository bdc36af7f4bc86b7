#include "settings/song_memory.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "core/file_access.h"
#include "settings/settings.h"

namespace {

// A file far larger than the few lines the program writes is not one of its own.
constexpr size_t kMaxMemoryBytes = 64 * 1024;
// Seconds past the longest song the player reads are no place in any song.
constexpr double kLatestSeconds = 3600.0;
// Parts are numbered from 1 up to the most a song keeps.
constexpr double kMaxRememberedPart = 256;

// A number from the front of `text`, which moves past it; false when there is none.
bool TakeNumber(std::string_view& text, double& value) {
    text = TrimSongFileBlanks(text);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || !std::isfinite(value)) return false;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return true;
}

}  // namespace

std::string_view TrimSongFileBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string ReadSongFileText(const std::string& key, const char* suffix, size_t maxBytes) {
    const std::string path = SongFilePath(key, suffix, false);
    std::vector<uint8_t> bytes;
    if (path.empty() || !ReadRegularFile(path, maxBytes, bytes).Ok()) return {};
    return {bytes.begin(), bytes.end()};
}

std::string SongFilePath(const std::string& key, const char* suffix, bool make) {
    // A key is hexadecimal digits and a size: nothing in it can leave the folder.
    if (key.empty() || key.find_first_not_of("0123456789abcdef-") != std::string::npos) return {};
    const std::string folder = DataFolder(make);
    if (folder.empty()) return {};
    const std::string songs = folder + "/songs";
    if (make && mkdir(songs.c_str(), 0700) != 0 && errno != EEXIST) return {};
    // The records are written only into a real folder of this user's, never through a link.
    struct stat info {};
    if (make && (lstat(songs.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()))
        return {};
    return songs + "/" + key + suffix;
}

namespace {

// FNV-1a: a song is told from another by its bytes; nothing here has to resist an attacker.
constexpr uint64_t kKeyStart = 14695981039346656037ULL;
uint64_t HashOn(uint64_t hash, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string KeyText(uint64_t hash, size_t size) {
    char text[48];
    std::snprintf(text, sizeof text, "%016llx-%zu", static_cast<unsigned long long>(hash), size);
    return text;
}

}  // namespace

std::string SongKey(const uint8_t* data, size_t size) {
    return KeyText(HashOn(kKeyStart, data, size), size);
}

std::string SongKeyOfFile(const std::string& path) {
    if (NotARegularFile(path)) return "";
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (file == nullptr) return "";
    std::vector<uint8_t> piece(size_t{1} << 20);
    uint64_t hash = kKeyStart;
    size_t size = 0;
    for (size_t n; (n = std::fread(piece.data(), 1, piece.size(), file.get())) > 0; size += n) {
        hash = HashOn(hash, piece.data(), n);
    }
    if (std::ferror(file.get())) return "";
    return KeyText(hash, size);
}

bool SongFileMayExist(size_t size, const char* suffix) {
    const std::string any = SongFilePath("0-0", suffix, false);
    if (any.empty()) return false;  // no songs folder: nothing is kept for any song
    const std::string folder = any.substr(0, any.rfind('/'));
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return errno != ENOENT;  // a folder that cannot be looked into may hold it
    const std::string ending = "-" + std::to_string(size) + suffix;
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() > ending.size() && name.substr(name.size() - ending.size()) == ending) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

void ParseSongMemory(SongMemory& memory, const char* data, size_t size) {
    std::string_view rest(data, size);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = TrimSongFileBlanks(line.substr(0, equals));
        std::string_view values = line.substr(equals + 1);
        if (name == "speed") {
            double percent = 0;
            if (TakeNumber(values, percent) && TrimSongFileBlanks(values).empty() && percent >= 25 &&
                percent <= 200)
                memory.speedPercent = static_cast<int>(percent);
            continue;
        }
        if (name == "transpose") {
            double semitones = 0;
            if (TakeNumber(values, semitones) && TrimSongFileBlanks(values).empty() && semitones >= -12 &&
                semitones <= 12 && semitones == static_cast<int>(semitones))
                memory.transpose = static_cast<int>(semitones);
            continue;
        }
        if (name == "metronome" || name == "trainer") {
            (name == "metronome" ? memory.metronome : memory.trainer) = TrimSongFileBlanks(values) == "on";
            continue;
        }
        if (name == "muted" || name == "solo") {
            std::vector<int>& parts = name == "muted" ? memory.mutedParts : memory.soloParts;
            parts.clear();
            while (!TrimSongFileBlanks(values).empty()) {
                values = TrimSongFileBlanks(values);
                if (name == "muted" && values.substr(0, 5) == "drums") {
                    memory.drumsMuted = true;
                    values.remove_prefix(5);
                    continue;
                }
                double part = 0;
                if (!TakeNumber(values, part)) break;
                if (part >= 1 && part <= kMaxRememberedPart && part == static_cast<int>(part))
                    parts.push_back(static_cast<int>(part) - 1);
            }
            continue;
        }
        if (name != "loop") continue;
        double start = 0, stop = 0;
        if (!TakeNumber(values, start) || !TakeNumber(values, stop) || !TrimSongFileBlanks(values).empty())
            continue;
        if (start < 0 || stop <= start || stop > kLatestSeconds) continue;
        memory.loopStart = start;
        memory.loopEnd = stop;
    }
}

std::string SongMemoryText(const SongMemory& memory) {
    std::string out;
    char text[80];
    if (memory.HasLoop()) {
        std::snprintf(text, sizeof text, "loop = %.6f %.6f\n", memory.loopStart, memory.loopEnd);
        out += text;
    }
    if (memory.speedPercent != 100) {
        std::snprintf(text, sizeof text, "speed = %d\n", memory.speedPercent);
        out += text;
    }
    const auto list = [&out](const char* name, const std::vector<int>& parts, bool drums) {
        if (parts.empty() && !drums) return;
        out += name;
        out += " =";
        for (const int part : parts) out += " " + std::to_string(part + 1);
        if (drums) out += " drums";
        out += "\n";
    };
    list("muted", memory.mutedParts, memory.drumsMuted);
    list("solo", memory.soloParts, false);
    if (memory.transpose != 0) {
        std::snprintf(text, sizeof text, "transpose = %d\n", memory.transpose);
        out += text;
    }
    if (memory.metronome) out += "metronome = on\n";
    if (memory.trainer) out += "trainer = on\n";
    return out;
}

SongMemory ReadSongMemory(const std::string& key) {
    SongMemory memory;
    const std::string text = ReadSongFileText(key, ".txt", kMaxMemoryBytes);
    ParseSongMemory(memory, text.data(), text.size());
    return memory;
}

bool WriteSongMemory(const std::string& key, const SongMemory& memory) {
    const std::string path = SongFilePath(key, ".txt", true);
    return !path.empty() &&
           ReplaceFileWithText(path, SongMemoryText(memory), platform::AtomicFile::Reach::OwnFile);
}
