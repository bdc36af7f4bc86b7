#include "settings/song_hands.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "core/file_access.h"
#include "settings/song_memory.h"
#include "settings/song_scores.h"

namespace {

constexpr size_t kMaxHandBytes = 8 * 1024 * 1024;
constexpr int64_t kLongestSongMs = static_cast<int64_t>(kMaxSongSeconds * 1000) + 60'000;

bool ParseMove(std::string_view line, MovedNote& note) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    constexpr std::string_view kWord = "move ";
    if (line.substr(0, kWord.size()) != kWord) return false;
    line.remove_prefix(kWord.size());
    const char* end = line.data() + line.size();
    int key = -1;
    auto [at, error] = std::from_chars(line.data(), end, key);
    if (error != std::errc() || key < 0 || key > 127 || at == end || *at != ' ') return false;
    int64_t ms = -1;
    auto [last, error2] = std::from_chars(at + 1, end, ms);
    if (error2 != std::errc() || last != end || ms < 0 || ms > kLongestSongMs) return false;
    note = {key, ms};
    return true;
}

bool Earlier(const MovedNote& a, const MovedNote& b) {
    return a.startMs != b.startMs ? a.startMs < b.startMs : a.key < b.key;
}

}  // namespace

MovedNote MovedNoteOf(int32_t key, float start) {
    return {key, std::llround(static_cast<double>(start) * 1000.0)};
}

bool HandEdits::Moved(int32_t key, float start) const {
    return std::find(moved.begin(), moved.end(), MovedNoteOf(key, start)) != moved.end();
}

bool HandEdits::Toggle(int32_t key, float start) {
    const MovedNote note = MovedNoteOf(key, start);
    const auto it = std::find(moved.begin(), moved.end(), note);
    if (it != moved.end()) {
        moved.erase(it);
        return true;
    }
    if (moved.size() >= kMostMoved) return false;
    moved.push_back(note);
    return true;
}

void ParseHandEdits(HandEdits& edits, const char* data, size_t size) {
    std::string_view rest(data, size);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        MovedNote note{};
        if (ParseMove(rest.substr(0, end), note) && edits.moved.size() < HandEdits::kMostMoved)
            edits.moved.push_back(note);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    // A note named twice was moved once: the file is written so, and a doubled line is damage.
    std::sort(edits.moved.begin(), edits.moved.end(), Earlier);
    edits.moved.erase(std::unique(edits.moved.begin(), edits.moved.end()), edits.moved.end());
}

std::string HandEditsText(const HandEdits& edits) {
    std::string text;
    for (const MovedNote& n : edits.moved) {
        char line[48];
        std::snprintf(line, sizeof line, "move %d %lld\n", n.key, static_cast<long long>(n.startMs));
        text += line;
    }
    return text;
}

bool ApplyHandEdits(SongData& song, const HandEdits& edits) {
    if (song.reading != ReadingHands || edits.moved.empty()) return false;
    SongPart& a = song.parts[0];
    SongPart& b = song.parts[1];
    if (a.notes == nullptr || b.notes == nullptr) return false;
    // The two hands are one run of the note store, in either order: the notes are sorted within it.
    SongPart* first = a.notes < b.notes ? &a : &b;
    SongPart* second = first == &a ? &b : &a;
    if (first->notes + first->noteCount != second->notes) return false;
    NoteRecord* begin = first->notes;
    NoteRecord* end = second->notes + second->noteCount;
    std::vector<MovedNote> sorted = edits.moved;
    std::sort(sorted.begin(), sorted.end(), Earlier);
    const size_t count = static_cast<size_t>(end - begin);
    const size_t firstWas = static_cast<size_t>(first->noteCount);
    std::vector<uint8_t> moved(count);
    for (size_t i = 0; i < count; ++i)
        moved[i] = std::binary_search(sorted.begin(), sorted.end(), MovedNoteOf(begin[i].key, begin[i].start),
                                      Earlier);
    std::vector<NoteRecord> ordered;
    ordered.reserve(count);
    // Each hand: its own notes that stay, then those that join it from the other.
    auto take = [&](size_t from, size_t to, bool wantMoved) {
        for (size_t i = from; i < to; ++i)
            if ((moved[i] != 0) == wantMoved) ordered.push_back(begin[i]);
    };
    take(0, firstWas, false);
    take(firstWas, count, true);
    const int32_t firstCount = static_cast<int32_t>(ordered.size());
    take(firstWas, count, false);
    take(0, firstWas, true);
    std::copy(ordered.begin(), ordered.end(), begin);
    const int32_t total = static_cast<int32_t>(count);
    first->noteCount = firstCount;
    second->notes = begin + firstCount;
    second->noteCount = total - firstCount;
    return true;
}

HandEdits ReadHandEdits(const std::string& key) {
    HandEdits edits;
    const std::string path = SongFilePath(key, ".hands.txt", false);
    std::vector<uint8_t> bytes;
    if (path.empty() || !ReadRegularFile(path, kMaxHandBytes, bytes).Ok()) return edits;
    ParseHandEdits(edits, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return edits;
}

// A small song is hashed at once: that costs less than a look through the songs folder.
constexpr size_t kHashedAtOnce = 1 << 20;

HandEdits ReadHandEditsOf(const SongData& song, const uint8_t* data, size_t size) {
    if (song.reading != ReadingHands) return {};
    if (size >= kHashedAtOnce && !SongFileMayExist(size, ".hands.txt")) return {};
    return ReadHandEdits(SongKey(data, size));
}

HandEdits ReadHandEditsOfFile(const SongData& song, const std::string& path) {
    if (song.reading != ReadingHands) return {};
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return {};
    const auto size = static_cast<size_t>(info.st_size);
    if (size >= kHashedAtOnce && !SongFileMayExist(size, ".hands.txt")) return {};
    const std::string key = SongKeyOfFile(path);
    return key.empty() ? HandEdits{} : ReadHandEdits(key);
}

bool WriteHandEdits(const std::string& key, const HandEdits& edits) {
    return WriteSongFile(SongFilePath(key, ".hands.txt", true), HandEditsText(edits));
}
