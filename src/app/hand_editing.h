// Mending the hands of a piano song in the window. With Ctrl held, a click on a falling note (or a
// box dragged over several) moves the notes to the other hand; the same gesture moves them back.
// Without Ctrl, clicks in the notes view do what they always did. The moves are kept per song
// (settings/song_hands.h) and applied each time the song is read, as `dorvik-midi info` and the
// exports read it.
//
// State only lives in the session (PracticeSession::hands and the box's first corner); the
// controller calls these from its mouse handling and shows the song again when notes moved.
#pragma once

#include "core/song_data.h"

struct SessionState;
struct PracticeSession;
struct NotesView;

// The song just read, known by the practice's song key: the moves kept for it are read and made.
void TakeHandEdits(PracticeSession& practice, SongData& song);

// A press with Ctrl at (x, y), in design units: a box starts there when it lands in the notes
// area of a song read as two hands, and not while playing along (whose scoring holds the hands as
// they were). Whether the press was taken.
bool BeginHandBox(SessionState& session, const NotesView* view, float x, float y);

// The release at (x, y): the notes drawn in the box go to the other hand and the change is kept.
// Returns how many notes moved (0 when no box was begun).
int EndHandBox(SessionState& session, const NotesView* view, float x, float y);
