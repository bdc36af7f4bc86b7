// The hands as the player mended them: notes of a piano song moved to the other hand, kept per
// song beside what else is remembered of it, as "songs/<key>.hands.txt" with one line a note:
//
//     move 64 12345
//
// the note's key and its start in whole milliseconds, which tell the notes of a song's hands apart
// (a key sounds once at a time). Moving a note twice moves it back, and its line goes. Lines that do
// not read so are passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/song_data.h"

struct MovedNote {
    int32_t key;
    int64_t startMs;
    bool operator==(const MovedNote&) const = default;
};

struct HandEdits {
    // More notes than any hand-mended song moves; a file holding more is damage.
    static constexpr size_t kMostMoved = 200000;

    std::vector<MovedNote> moved;

    [[nodiscard]] bool Moved(int32_t key, float start) const;
    // Moves the note to the other hand, or back when it was moved. False when no more can be kept.
    bool Toggle(int32_t key, float start);
};

[[nodiscard]] MovedNote MovedNoteOf(int32_t key, float start);

void ParseHandEdits(HandEdits& edits, const char* data, size_t size);
[[nodiscard]] std::string HandEditsText(const HandEdits& edits);

// Moves the song's notes that `edits` names to the other hand. Only a song read as two hands has
// hands to move between; any other is left as it is (false). Each hand keeps its notes in the order
// they were read, a moved note after those of the hand it joins.
bool ApplyHandEdits(SongData& song, const HandEdits& edits);

[[nodiscard]] HandEdits ReadHandEdits(const std::string& key);
// The edits kept for `song`, read from the file's `size` bytes at `data`: none for a song not read
// as hands, which has none to apply. The song's key, a hash of all its bytes, is taken only when
// a record may be kept for a song of its size, as a large song's hash costs about as much as
// reading it.
[[nodiscard]] HandEdits ReadHandEditsOf(const SongData& song, const uint8_t* data, size_t size);
// The same for a song read from the file at `path` without its bytes kept: the file is hashed a
// piece at a time, on the same terms.
[[nodiscard]] HandEdits ReadHandEditsOfFile(const SongData& song, const std::string& path);
[[nodiscard]] bool WriteHandEdits(const std::string& key, const HandEdits& edits);
