// The computer keyboard as a piano: which letter plays which note, the octave keys and their
// limits, and notes that end as they began whatever happened in between.
#include "midi/qwerty_keyboard.h"

#include <gtest/gtest.h>

namespace {

TEST(QwertyKeyboard, LettersPlayThePianoKeysTheyLieLike) {
    const struct {
        uint32_t code;
        int note;  // -1: no note
    } cases[] = {
        {'a', 60}, {'w', 61}, {'s', 62}, {'e', 63}, {'d', 64}, {'f', 65}, {'t', 66}, {'g', 67}, {'y', 68},
        {'h', 69}, {'u', 70}, {'j', 71}, {'k', 72}, {'o', 73}, {'l', 74}, {'p', 75}, {';', 76}, {'\'', 77},
        {'A', 60}, {'q', -1}, {'r', -1}, {'n', -1}, {'b', -1}, {' ', -1}, {'1', -1},
    };
    for (const auto& c : cases) {
        QwertyKeyboard keyboard;
        const TypedNote on = keyboard.KeyDown(c.code, false);
        EXPECT_EQ(on.kind == TypedNote::NoteOn ? on.key : -1, c.note) << static_cast<char>(c.code);
        EXPECT_EQ(QwertyKeyboard::Takes(c.code), c.note >= 0) << static_cast<char>(c.code);
        if (c.note < 0) continue;
        EXPECT_EQ(on.velocity, QwertyKeyboard::kVelocity);
        const TypedNote off = keyboard.KeyUp(c.code);
        EXPECT_EQ(off.kind, TypedNote::NoteOff);
        EXPECT_EQ(off.key, c.note);
    }
    EXPECT_TRUE(QwertyKeyboard::Takes('Z'));
    EXPECT_TRUE(QwertyKeyboard::Takes('x'));
}

TEST(QwertyKeyboard, OctavesReachEveryPianoKeyAndStopAtItsEnds) {
    QwertyKeyboard keyboard;
    int moves = 0;
    while (keyboard.KeyDown('z', false).kind == TypedNote::Octave) {
        keyboard.KeyUp('z');
        ++moves;
    }
    EXPECT_EQ(moves, 4);
    EXPECT_EQ(keyboard.KeyDown('a', false).kind, TypedNote::None) << "below the piano";
    EXPECT_EQ(keyboard.KeyDown('h', false).key, 21) << "A0, the lowest key";
    keyboard.ReleaseAll();
    while (keyboard.KeyDown('x', false).kind == TypedNote::Octave) keyboard.KeyUp('x');
    EXPECT_EQ(keyboard.KeyDown('k', false).key, 108) << "C8, the highest key";
    EXPECT_EQ(keyboard.KeyDown('o', false).kind, TypedNote::None) << "above the piano";
    keyboard.KeyUp('x');
    EXPECT_EQ(keyboard.KeyDown('x', true).kind, TypedNote::None);
}

TEST(QwertyKeyboard, RepeatsPlayNothingAndANoteEndsAsItBegan) {
    QwertyKeyboard keyboard;
    EXPECT_EQ(keyboard.KeyDown('a', false).key, 60);
    EXPECT_EQ(keyboard.KeyDown('a', true).kind, TypedNote::None) << "auto-repeat";
    EXPECT_EQ(keyboard.KeyDown('z', false).kind, TypedNote::Octave);
    EXPECT_EQ(keyboard.KeyDown('z', true).kind, TypedNote::None) << "a held octave key moves once";
    EXPECT_EQ(keyboard.Base(), 48);
    EXPECT_EQ(keyboard.KeyDown('k', false).kind, TypedNote::None) << "60 is still held under A";
    EXPECT_EQ(keyboard.KeyUp('k').kind, TypedNote::None);
    EXPECT_EQ(keyboard.KeyDown('d', false).key, 52);
    const TypedNote off = keyboard.KeyUp('a');
    EXPECT_EQ(off.kind, TypedNote::NoteOff);
    EXPECT_EQ(off.key, 60) << "the note it began, not the one it would begin now";
    KeySet left;
    left.set(52);
    EXPECT_EQ(keyboard.ReleaseAll(), left);
    EXPECT_EQ(keyboard.KeyUp('d').kind, TypedNote::None) << "released already";
}

}  // namespace
