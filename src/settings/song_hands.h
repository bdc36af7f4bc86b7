// The hands as the player mended them: notes of a piano song put in the hand the player chose,
// kept per song beside what else is remembered of it, as "songs/<key>.hands.txt" with one line a
// note:
//
//     left 64 12345
//
// the hand, then the note's key and its start in whole milliseconds, which tell the notes of a
// song's hands apart (a key sounds once at a time). The hand is kept rather than the move, so that
// a note stays where the player put it however the song's own split of the hands comes to change.
//
// Records written before the hand was kept say "move 64 12345": the note went to the other hand
// than the split gave it. The split in force when such a line was written is not recorded (a
// piece in one track has been split more than one way), so the line is read against the song's
// split as it is read now; the window then keeps it as the hand that gave (PinHandEdits).
// Lines that do not read so are passed over; of a note named twice, the last line counts.
#pragma once
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/song_data.h"

// Where a kept note goes: a hand (Hand in midi/hand_split.h, 0 the right and 1 the left), or, as
// records of the older form say, the hand other than the one the song's split gives it.
inline constexpr uint8_t kOtherHand = 2;

struct MovedNote {
    int32_t key;
    int64_t startMs;
    uint8_t hand = kOtherHand;
    bool operator==(const MovedNote&) const = default;
};

struct HandEdits {
    // More notes than any hand-mended song moves; a file holding more is damage.
    static constexpr size_t kMostMoved = 200000;

    std::vector<MovedNote> moved;  // one a note

    // Whether a hand is kept for the note.
    [[nodiscard]] bool Moved(int32_t key, float start) const;
    // The hand kept for the note: 0, 1, kOtherHand, or -1 for none.
    [[nodiscard]] int HandOf(int32_t key, float start) const;
    // Keeps `hand` (0 or 1) as the note's, in place of what was kept. False when no more can be kept
    // or `hand` is no hand.
    bool Put(int32_t key, float start, uint8_t hand);
};

[[nodiscard]] MovedNote MovedNoteOf(int32_t key, float start);

void ParseHandEdits(HandEdits& edits, const char* data, size_t size);
[[nodiscard]] std::string HandEditsText(const HandEdits& edits);

// Puts the song's notes that `edits` names in their hands (those of the older form in the hand
// they are not in now). Only a song read as two hands has hands to move between; any other is left
// as it is (false). Each hand keeps its notes in the order they were read, a moved note after those
// of the hand it joins.
bool ApplyHandEdits(SongData& song, const HandEdits& edits);
// Turns the older form's moves into hands, by the song read as hands before any edit is applied:
// each note named goes to the hand it is not in. Returns how many were turned; moves of notes the
// song does not have stay as they were.
size_t PinHandEdits(HandEdits& edits, const SongData& song);

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
