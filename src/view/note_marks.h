// What follow mode judged of the player's notes, for the notes view to show as it happens: each
// struck note marked hit, early, late or wrong over its key, and a missed note marked on its own
// falling bar. The controller adds a mark as each judgement comes and clears them at a jump; the
// view draws those of the last seconds. A fixed ring: the window keeps no more marks than can show.
#pragma once

#include <cstdint>

#include "midi/play_follow.h"

struct NoteMark {
    float seconds = 0;  // the song time of the note judged, or of a wrong key's strike
    int16_t key = 0;    // 0..127
    Judgement judgement = Judgement::None;
};

struct NoteMarks {
    // More marks than fall in the seconds a mark shows for, even for a fast run of chords.
    static constexpr int kCapacity = 64;
    // A mark shows over its key for this long in song time after its note.
    static constexpr float kShowSeconds = 2.5f;

    NoteMark marks[kCapacity];
    int32_t count = 0;  // marks held, at most kCapacity
    int32_t next = 0;   // where the next mark goes: the oldest once the ring is full

    void Add(float seconds, int key, Judgement judgement) {
        if (key < 0 || key > 127 || judgement == Judgement::None || judgement == Judgement::Skipped) return;
        marks[next] = {seconds, static_cast<int16_t>(key), judgement};
        next = (next + 1) % kCapacity;
        if (count < kCapacity) ++count;
    }
    void Clear() { count = next = 0; }
    // Whether the note of `key` at `seconds` was judged missed: its bar is marked so.
    [[nodiscard]] bool Missed(int key, float seconds) const {
        for (int i = 0; i < count; ++i) {
            const NoteMark& m = marks[i];
            if (m.judgement == Judgement::Missed && m.key == key && m.seconds == seconds) return true;
        }
        return false;
    }
};
