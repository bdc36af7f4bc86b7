#include "settings/song_hands.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "core/file_access.h"
#include "midi/hand_split.h"
#include "settings/song_memory.h"
#include "settings/song_scores.h"

namespace {

constexpr size_t kMaxHandBytes = 8 * 1024 * 1024;
constexpr int64_t kLongestSongMs = static_cast<int64_t>(kMaxSongSeconds * 1000) + 60'000;

// The words a line begins with, by the hand they put the note in.
constexpr std::string_view kHandWords[] = {"right ", "left ", "move "};
static_assert(std::size(kHandWords) == kOtherHand + 1);

bool ParseMove(std::string_view line, MovedNote& note) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    uint8_t hand = 0;
    while (hand <= kOtherHand && line.substr(0, kHandWords[hand].size()) != kHandWords[hand]) ++hand;
    if (hand > kOtherHand) return false;
    line.remove_prefix(kHandWords[hand].size());
    const char* end = line.data() + line.size();
    int key = -1;
    auto [at, error] = std::from_chars(line.data(), end, key);
    if (error != std::errc() || key < 0 || key > 127 || at == end || *at != ' ') return false;
    int64_t ms = -1;
    auto [last, error2] = std::from_chars(at + 1, end, ms);
    if (error2 != std::errc() || last != end || ms < 0 || ms > kLongestSongMs) return false;
    note = {key, ms, hand};
    return true;
}

// The order the edits are kept in, by note; the hand has no say.
bool Earlier(const MovedNote& a, const MovedNote& b) {
    return a.startMs != b.startMs ? a.startMs < b.startMs : a.key < b.key;
}

bool SameNote(const MovedNote& a, const MovedNote& b) {
    return a.key == b.key && a.startMs == b.startMs;
}

// The hand of each note of the hands' run begin[0..count), the first `firstWas` in `firstHand` and
// the rest in the other, that `edits` (in Earlier order) asks for.
std::vector<uint8_t> WantedHands(const NoteRecord* begin, size_t count, size_t firstWas, uint8_t firstHand,
                                 const std::vector<MovedNote>& edits) {
    std::vector<uint8_t> hands(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t now = i < firstWas ? firstHand : static_cast<uint8_t>(1 - firstHand);
        const MovedNote note = MovedNoteOf(begin[i].key, begin[i].start);
        const auto it = std::lower_bound(edits.begin(), edits.end(), note, Earlier);
        const bool named = it != edits.end() && SameNote(*it, note);
        hands[i] = !named ? now : it->hand == kOtherHand ? static_cast<uint8_t>(1 - now) : it->hand;
    }
    return hands;
}

}  // namespace

MovedNote MovedNoteOf(int32_t key, float start) {
    return {key, std::llround(static_cast<double>(start) * 1000.0)};
}

int HandEdits::HandOf(int32_t key, float start) const {
    const MovedNote note = MovedNoteOf(key, start);
    const auto it =
        std::find_if(moved.begin(), moved.end(), [&note](const MovedNote& m) { return SameNote(m, note); });
    return it == moved.end() ? -1 : it->hand;
}

bool HandEdits::Moved(int32_t key, float start) const {
    return HandOf(key, start) >= 0;
}

bool HandEdits::Put(int32_t key, float start, uint8_t hand) {
    if (hand >= kOtherHand) return false;
    MovedNote note = MovedNoteOf(key, start);
    note.hand = hand;
    const auto it =
        std::find_if(moved.begin(), moved.end(), [&note](const MovedNote& m) { return SameNote(m, note); });
    if (it != moved.end()) {
        it->hand = hand;
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
    // A note named twice is damage, or an older move followed by a hand: the later line counts.
    std::stable_sort(edits.moved.begin(), edits.moved.end(), Earlier);
    std::vector<MovedNote> kept;
    kept.reserve(edits.moved.size());
    for (const MovedNote& n : edits.moved) {
        if (!kept.empty() && SameNote(kept.back(), n))
            kept.back() = n;
        else
            kept.push_back(n);
    }
    edits.moved = std::move(kept);
}

std::string HandEditsText(const HandEdits& edits) {
    std::string text;
    for (const MovedNote& n : edits.moved) {
        const std::string_view word = kHandWords[std::min<uint8_t>(n.hand, kOtherHand)];
        char line[48];
        std::snprintf(line, sizeof line, "%.*s%d %lld\n", static_cast<int>(word.size()), word.data(), n.key,
                      static_cast<long long>(n.startMs));
        text += line;
    }
    return text;
}

namespace {

// The two hands' parts of a song read as hands, the one whose notes come first in the store as
// `first`; false when they are not one run of the store, as the reader lays them out.
bool HandRuns(SongData& song, SongPart*& first, SongPart*& second) {
    if (song.reading != ReadingHands) return false;
    SongPart& a = song.parts[0];
    SongPart& b = song.parts[1];
    if (a.notes == nullptr || b.notes == nullptr) return false;
    first = a.notes < b.notes ? &a : &b;
    second = first == &a ? &b : &a;
    return first->notes + first->noteCount == second->notes;
}

std::vector<MovedNote> SortedEdits(const HandEdits& edits) {
    std::vector<MovedNote> sorted = edits.moved;
    std::stable_sort(sorted.begin(), sorted.end(), Earlier);
    return sorted;
}

}  // namespace

bool ApplyHandEdits(SongData& song, const HandEdits& edits) {
    SongPart* first = nullptr;
    SongPart* second = nullptr;
    if (edits.moved.empty() || !HandRuns(song, first, second)) return false;
    // The two hands are one run of the note store, in either order: the notes are sorted within it.
    NoteRecord* begin = first->notes;
    NoteRecord* end = second->notes + second->noteCount;
    const size_t count = static_cast<size_t>(end - begin);
    const size_t firstWas = static_cast<size_t>(first->noteCount);
    const uint8_t firstHand = first == &song.parts[0] ? RightHand : LeftHand;
    const std::vector<uint8_t> hands = WantedHands(begin, count, firstWas, firstHand, SortedEdits(edits));
    std::vector<NoteRecord> ordered;
    ordered.reserve(count);
    // Each hand: its own notes that stay, then those that join it from the other.
    auto take = [&](size_t from, size_t to, uint8_t hand) {
        for (size_t i = from; i < to; ++i)
            if (hands[i] == hand) ordered.push_back(begin[i]);
    };
    const uint8_t secondHand = static_cast<uint8_t>(1 - firstHand);
    take(0, firstWas, firstHand);
    take(firstWas, count, firstHand);
    const int32_t firstCount = static_cast<int32_t>(ordered.size());
    take(firstWas, count, secondHand);
    take(0, firstWas, secondHand);
    std::copy(ordered.begin(), ordered.end(), begin);
    const int32_t total = static_cast<int32_t>(count);
    first->noteCount = firstCount;
    second->notes = begin + firstCount;
    second->noteCount = total - firstCount;
    FindKeyRange(*first);
    FindKeyRange(*second);
    return true;
}

size_t PinHandEdits(HandEdits& edits, const SongData& song) {
    const bool older = std::any_of(edits.moved.begin(), edits.moved.end(),
                                   [](const MovedNote& n) { return n.hand == kOtherHand; });
    if (!older || song.reading != ReadingHands) return 0;
    std::vector<MovedNote*> sorted;
    for (MovedNote& n : edits.moved)
        if (n.hand == kOtherHand) sorted.push_back(&n);
    std::sort(sorted.begin(), sorted.end(),
              [](const MovedNote* a, const MovedNote* b) { return Earlier(*a, *b); });
    size_t pinned = 0;
    for (uint8_t hand = 0; hand < 2; ++hand) {
        const SongPart& part = song.parts[hand];
        for (int32_t i = 0; i < part.noteCount && part.notes != nullptr; ++i) {
            const MovedNote note = MovedNoteOf(part.notes[i].key, part.notes[i].start);
            const auto it =
                std::lower_bound(sorted.begin(), sorted.end(), note,
                                 [](const MovedNote* a, const MovedNote& b) { return Earlier(*a, b); });
            if (it == sorted.end() || !SameNote(**it, note) || (*it)->hand != kOtherHand) continue;
            (*it)->hand = static_cast<uint8_t>(1 - hand);
            ++pinned;
        }
    }
    return pinned;
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
