// Two hands out of one voice. A piano song whose notes all come in one track on one channel gives
// the two-hand rule nothing to tell the hands apart by, so one hand would hold the whole piece. Its
// notes are split by pitch instead: upper notes to the first hand (the right), lower notes to the
// second (the left), each hand following its own notes rather than a line fixed at middle C.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/song_data.h"

enum Hand : uint8_t { RightHand = 0, LeftHand = 1 };  // the part each hand fills

// The hand of each of the `count` notes, in the notes' own order (which may be any). Deterministic,
// and linear in the notes once they are sorted by time. The notes need their ends.
//
// The notes are taken one onset (a chord, or a single note) at a time, and each onset is cut into a
// lower group for the left hand and an upper one for the right. Of all the ways to cut every onset,
// the one that costs least over the whole piece is taken, so that what follows a passage has its
// say in how the passage is split. A note costs a little for its distance from where its hand has
// been playing and in full for a leap past a sixth from there, a little for lying on the far side
// of the piece's middle from its hand, and more for reaching past where the other hand is; a note a
// few keys from the other hand's last one, struck just after it, costs for taking over that hand's
// line (only an onset's nearest note to it can). Two neighbouring notes of an onset that are let go
// together cost for parting, when its other notes end elsewhere. A hand stretched past an octave or
// striking more than five notes costs more, the more so past a tenth, and so does one reaching
// across notes the other hand still holds, and a right hand striking under a tune note it holds on
// (but for a lone note, an inner voice, while the left hand rests);
// keys a hand still holds from earlier strikes count in its stretch, a little, since a note written
// long is often let go or left to the pedal. A hand striking soon again with more or fewer notes
// than it just did costs a little, as each hand keeps a texture of its own (single notes over
// chords of three, say). A note struck much louder or softer than its hand has been playing costs a
// little, up to a bound: the hands are voiced apart, a tune over a softer accompaniment. A piece
// that keeps within an octave, or is a single line (one note at a time, mostly), is one hand's:
// every note comes back as the right hand's.
[[nodiscard]] std::vector<uint8_t> AssignHandsByPitch(const NoteRecord* notes, size_t count);

// Fewer notes than this are no piece to split: they stay in the hand the file gave them.
inline constexpr int32_t kMinNotesToSplit = 8;

// Whether a voice of `program` (-1: none set, which sounds the first program) is played on a
// piano, the one kind of voice whose two hands share a track as a matter of course.
[[nodiscard]] inline bool PianoProgram(int32_t program) {
    return program < 8;
}

// Splits a song read as hands whose notes all lie in one of the two parts (and come from one
// voice: the caller knows) into both parts by AssignHandsByPitch, each part keeping its notes in the
// order they were read and the voice's track, channel, program and name. Leaves the song as it was
// and returns false when the part holds fewer than kMinNotesToSplit notes, its voice is not a piano,
// or the split would leave one hand without notes all the same.
[[nodiscard]] bool SplitOneHandByPitch(SongData& song);
