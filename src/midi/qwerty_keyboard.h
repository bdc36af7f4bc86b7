// The computer's own keyboard as a small piano, so that anyone can play along without a MIDI
// keyboard. The home row plays the white keys from a C, the row above it the black keys between
// them, as the keys lie on a piano:
//
//      W E   T Y U   O P            C# D#    F# G# A#    C# D#
//     A S D F G H J K L ; '        C  D  E  F  G  A  B  C  D  E  F
//
// Z and X move it an octave down and up. A is middle C to begin with; it goes from C0 (the
// piano's lowest keys, A0 to B0, under H, U and J) to C7 (C8, the highest, under K). A letter
// whose note falls off the piano plays nothing. The keys are taken by the characters they type
// (either case), so on a keyboard of another layout the letters, not their places, play the notes.
//
// Pure: key codes in, notes out. Held keys repeat on most systems; a repeat plays nothing. A
// key released after an octave change ends the note it began, not the note it would begin now.
#pragma once

#include <cstdint>

#include "midi/play_along.h"

struct TypedNote {
    enum Kind : uint8_t {
        None = 0,  // the key does nothing now (a repeat, a note off the piano, an octave at its end)
        NoteOn,
        NoteOff,
        Octave,  // the octave moved: `key` is the note A plays now
    };
    Kind kind = None;
    int32_t key = -1;      // the MIDI key of a NoteOn or NoteOff
    int32_t velocity = 0;  // a NoteOn's velocity
};

class QwertyKeyboard {
  public:
    // Every note is struck alike: a letter key knows nothing of how hard it was pressed. Loud
    // enough to be heard over the song, short of its loudest.
    static constexpr int32_t kVelocity = 100;
    static constexpr int32_t kLowestNote = 21;    // A0, the piano's lowest key
    static constexpr int32_t kHighestNote = 108;  // C8, the piano's highest key
    static constexpr int32_t kLowestBase = 12;    // C0: the piano's lowest keys are under H, U and J
    static constexpr int32_t kHighestBase = 96;   // C7: the piano's highest key is under K
    static constexpr int32_t kFirstBase = 60;     // middle C

    // Whether the key with `keyCode` (a character's code) is one of this keyboard's: the window
    // leaves such keys to it while it plays.
    [[nodiscard]] static bool Takes(uint32_t keyCode);
    // The letter that plays `key` while A plays `base`, as printed on the key cap (upper case; ';'
    // and '\'' as they are); 0 when no letter does.
    [[nodiscard]] static char LetterFor(int32_t base, int32_t key);

    TypedNote KeyDown(uint32_t keyCode, bool repeat);
    TypedNote KeyUp(uint32_t keyCode);
    // Ends every note still sounding (when the keyboard stops playing): the keys to release.
    KeySet ReleaseAll();

    [[nodiscard]] int32_t Base() const { return base_; }  // the note A plays, a C

  private:
    static constexpr int kNoteKeys = 18;  // A to ', C to the F an octave and a half above
    int32_t base_ = kFirstBase;
    int16_t sounding_[kNoteKeys] = {-1, -1, -1, -1, -1, -1, -1, -1, -1,
                                    -1, -1, -1, -1, -1, -1, -1, -1, -1};  // per note key; -1: none
    bool octaveDown_[2] = {};  // Z and X are down: a held octave key moves once
};
