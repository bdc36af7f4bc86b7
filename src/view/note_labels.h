// The notes view's options: the note names it writes on lit keys and falling notes, and how fast
// its notes fall. The controller keeps them and hands them to the view every frame; a video takes
// the defaults, which draw the view as it has always looked, with names on the lit keys.
//
// A name is placed by estimate, not by measuring the rendered text: the view decides what to write
// while it draws, and the render target has no measure of a text's width. The estimate takes each
// character as kLabelAdvance of the text size wide (the interface face's bold letters and digits
// are 0.68 to 0.84 of it) and each line as kLabelLineHeight of it tall (its line skip is 1.16), so
// a name judged to fit stays inside its key or note but for a sliver of the widest letters.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "core/key_name.h"
#include "core/song_data.h"
#include "platform/geometry.h"

struct NoteMarks;
struct PassRecord;

struct NoteLabels {
    bool onKeys = true;    // a lit key shows the name of the note that lights it
    bool onNotes = false;  // a falling note shows its name where it has room for it
    bool flats = false;    // keys between the letters are named as flats (Db4) rather than sharps (C#4)
};

// The notes area shows this many seconds of the song at the usual falling speed.
inline constexpr float kLookAheadSeconds = 3.0f;

// The falling speeds, as multiples of the usual one: a faster fall shows fewer seconds of the song
// with each note drawn longer, which parts dense passages; a slower fall shows more of the song.
inline constexpr float kFallSpeeds[] = {0.5f, 0.75f, 1.0f, 1.5f, 2.0f, 3.0f};
inline constexpr int kFallSpeedCount = static_cast<int>(sizeof kFallSpeeds / sizeof kFallSpeeds[0]);
inline constexpr int kUsualFallSpeed = 2;
static_assert(kFallSpeeds[kUsualFallSpeed] == 1.0f);
// The most seconds the notes area ever shows: at the slowest fall.
inline constexpr float kLongestLookAhead = kLookAheadSeconds / kFallSpeeds[0];

struct NotesViewOptions {
    NoteLabels labels;
    int32_t fallSpeed = kUsualFallSpeed;  // index into kFallSpeeds; out-of-range steps are clamped
    // The keyboard shows only the song's keys and a few around them, each key wider; off, all 88.
    bool fitSong = false;
    // Parts not heard (muted, or another soloed): their notes still fall, faded.
    std::bitset<kMaxParts> quietParts;
    // Keys the player holds on a keyboard of their own, lit in a colour no part has; of those, the
    // ones struck for no note of the song, lit as wrong.
    std::bitset<128> playerKeys;
    std::bitset<128> wrongKeys;
    // The player's last score, written over the notes; "" for none.
    std::string scoreText;
    // How far down from the view's top another panel stands over the notes (the score strip):
    // the score and the chart under it are written below it, where they can be read.
    float coveredTop = 0;
    // Free play without a song: the chord the player holds ("Am7", "G/B"), named large over the
    // keyboard; "" for none.
    std::string chordName;
    // Playing along: the parts the player plays, drawn bright with the song's other parts dimmer
    // (quietParts does not fade them: they are silenced because the player plays them).
    std::bitset<kMaxParts> playedParts;
    // While the song waits: the keys it waits for, marked on the keyboard, and the song time of
    // their notes, which are marked on the falling strip; a negative time while it waits for none.
    std::bitset<128> awaitedKeys;
    float awaitedOnset = -1.0f;
    // Playing from the computer's keyboard: the key A plays, so that each key shows its letter;
    // negative for none.
    int32_t letterBase = -1;
    // Follow mode's judgements of the player's notes, the latest last (view/note_marks.h).
    const NoteMarks* marks = nullptr;
    // The passes kept of the song and the parts played (oldest first), drawn as a small chart of
    // accuracy and timing under the score; null for none. Labelled `historyParts` in the history.
    const std::vector<PassRecord>* history = nullptr;
    std::string historyParts;
    // A box being dragged with Ctrl over notes to move them to the other hand, from its first corner
    // to the mouse, in the view's coordinates; drawn while `handBoxShown`.
    bool handBoxShown = false;
    RectF handBox;
    // The song is heard this many semitones moved (-12 to 12): its notes fall onto, and light,
    // the keys that sound. The awaited and wrong keys and the marks are the song's keys and move
    // with them; the keys the player holds are where the player's fingers are, and stay.
    int32_t transpose = 0;
    // A video's look; the window keeps the usual one. The keyboard in the proportions of its
    // keys, wider keys being taller (a sixth to a third of the view), so that a keyboard fitted to
    // a tall frame is no thin strip under it.
    bool keysInProportion = false;
    // The bar numbers' text size in design units; 0 for the window's small text.
    float barNumberSize = 0;
    // The notes as flat bars, one colour (0xRRGGBB) per note colour, res::kNoteColourCount of
    // them; null for the glowing images. Flat bars stay sharp against any background.
    const uint32_t* flatNoteColours = nullptr;
    // The notes area is left unfilled and its octave columns are shaded see-through, so that a
    // picture drawn behind the view shows.
    bool seeThroughGrid = false;
};

// The seconds of song between the top of the notes area and the keyboard at a falling speed step.
// The usual step gives exactly kLookAheadSeconds, so the usual view is drawn as it always was.
[[nodiscard]] float LookAheadAt(int32_t fallSpeed);
// The falling speed step one faster (`steps` 1) or slower (-1), kept inside the steps.
[[nodiscard]] int32_t StepFallSpeed(int32_t fallSpeed, int steps);

inline constexpr float kLabelAdvance = 0.7f;
inline constexpr float kLabelLineHeight = 1.2f;

// How a name is set in the room it has: on one line, or one character a line down a key or a note
// too narrow for the line.
enum class LabelShape : uint8_t { None, Line, Column };

struct KeyLabel {
    char text[10] = {};  // NUL-terminated; in a column the characters are separated by line breaks
    LabelShape shape = LabelShape::None;
    float width = 0;  // the estimated extent, in design units
    float height = 0;
};

// The label of `name` at text size `size` that fits a room `width` x `height`. Tried in turn: the
// whole name on one line, its pitch alone (the letter and its sign) on one line, the whole name in
// a column, the pitch in a column. A room that takes none of them gets no label (shape None):
// nothing is drawn cut off or squeezed, and a key between the letters never shows its letter
// without its sign.
[[nodiscard]] KeyLabel FitKeyLabel(const KeyName& name, float size, float width, float height);

// The text size of the names on a keyboard whose white keys are `whiteKeyWidth` wide: a little over
// half the key, whole design units, and never below 12 so that the smallest window (white keys
// about 12 pixels wide) still has names of about 10 pixels.
[[nodiscard]] float LabelSizeFor(float whiteKeyWidth);
