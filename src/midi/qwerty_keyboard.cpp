#include "midi/qwerty_keyboard.h"

namespace {

// The note keys' characters, each at its distance in semitones above the base.
constexpr char kNoteChars[] = {'a', 'w', 's', 'e', 'd', 'f', 't', 'g', 'y',
                               'h', 'u', 'j', 'k', 'o', 'l', 'p', ';', '\''};
static_assert(sizeof kNoteChars == 18, "one character per note key of QwertyKeyboard");
constexpr char kOctaveDownChar = 'z';
constexpr char kOctaveUpChar = 'x';

uint32_t Lower(uint32_t code) {
    return code >= 'A' && code <= 'Z' ? code - 'A' + 'a' : code;
}

// The place of `code` among the note keys; -1 for none.
int NoteSlot(uint32_t code) {
    const uint32_t c = Lower(code);
    for (int i = 0; i < static_cast<int>(sizeof kNoteChars); ++i) {
        if (static_cast<uint32_t>(static_cast<unsigned char>(kNoteChars[i])) == c) return i;
    }
    return -1;
}

}  // namespace

bool QwertyKeyboard::Takes(uint32_t keyCode) {
    const uint32_t c = Lower(keyCode);
    return NoteSlot(c) >= 0 || c == kOctaveDownChar || c == kOctaveUpChar;
}

char QwertyKeyboard::LetterFor(int32_t base, int32_t key) {
    const int32_t slot = key - base;
    if (slot < 0 || slot >= kNoteKeys || key < kLowestNote || key > kHighestNote) return 0;
    const char c = kNoteChars[slot];
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

TypedNote QwertyKeyboard::KeyDown(uint32_t keyCode, bool repeat) {
    TypedNote result;
    const uint32_t c = Lower(keyCode);
    if (c == kOctaveDownChar || c == kOctaveUpChar) {
        const bool up = c == kOctaveUpChar;
        bool& down = octaveDown_[up ? 1 : 0];
        if (repeat || down) return result;
        down = true;
        const int32_t base = base_ + (up ? 12 : -12);
        if (base < kLowestBase || base > kHighestBase) return result;
        base_ = base;
        result.kind = TypedNote::Octave;
        result.key = base_;
        return result;
    }
    const int slot = NoteSlot(c);
    if (slot < 0 || repeat || sounding_[slot] >= 0) return result;
    const int32_t note = base_ + slot;
    if (note < kLowestNote || note > kHighestNote) return result;
    // After an octave change another letter may already be holding this note: it sounds once.
    for (const int16_t s : sounding_) {
        if (s == note) return result;
    }
    sounding_[slot] = static_cast<int16_t>(note);
    result.kind = TypedNote::NoteOn;
    result.key = note;
    result.velocity = kVelocity;
    return result;
}

TypedNote QwertyKeyboard::KeyUp(uint32_t keyCode) {
    TypedNote result;
    const uint32_t c = Lower(keyCode);
    if (c == kOctaveDownChar || c == kOctaveUpChar) {
        octaveDown_[c == kOctaveUpChar ? 1 : 0] = false;
        return result;
    }
    const int slot = NoteSlot(c);
    if (slot < 0 || sounding_[slot] < 0) return result;
    result.kind = TypedNote::NoteOff;
    result.key = sounding_[slot];
    sounding_[slot] = -1;
    return result;
}

KeySet QwertyKeyboard::ReleaseAll() {
    KeySet keys;
    for (int16_t& s : sounding_) {
        if (s >= 0) keys.set(static_cast<size_t>(s));
        s = -1;
    }
    octaveDown_[0] = octaveDown_[1] = false;
    return keys;
}
