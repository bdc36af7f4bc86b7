#include "app/hand_editing.h"

#include "app/session_state.h"
#include "settings/song_hands.h"
#include "view/note_pick.h"
#include "view/notes_view.h"

void TakeHandEdits(PracticeSession& practice, SongData& song) {
    practice.hands = practice.KnownKey().empty() ? HandEdits{} : ReadHandEdits(practice.KnownKey());
    // Moves kept in the older form mean the other hand than the split gives now; kept as the hands
    // they give, they stay so whatever becomes of the split. The record is written again only when
    // there was such a move, and a record that cannot be written still reads the same way today.
    if (PinHandEdits(practice.hands, song) > 0) (void)WriteHandEdits(practice.Key(), practice.hands);
    (void)ApplyHandEdits(song, practice.hands);
}

bool BeginHandBox(SessionState& session, const NotesView* view, float x, float y) {
    PracticeSession& practice = session.practice;
    practice.handBoxActive = false;
    // Not while the notes view's index is being built aside: that build reads the song the box
    // would change (nor is there a note on screen to box).
    if (view == nullptr || !view->indexBuilt || !session.song || session.song->reading != ReadingHands ||
        session.playAlong.On())
        return false;
    // The notes area only: the keyboard below it keeps its own clicks.
    if (x < view->left || x > view->right || y < view->top || y > view->top + view->notesHeight) return false;
    practice.handBoxActive = true;
    practice.handBoxX = x;
    practice.handBoxY = y;
    return true;
}

int EndHandBox(SessionState& session, const NotesView* view, float x, float y) {
    PracticeSession& practice = session.practice;
    if (!practice.handBoxActive) return 0;
    practice.handBoxActive = false;
    if (view == nullptr || !view->indexBuilt || !session.song || view->song != session.song.get()) return 0;
    SongData& song = *session.song;
    const RectF box{practice.handBoxX - view->left, practice.handBoxY - view->top, x - view->left,
                    y - view->top};
    const std::vector<PickedNote> picked = NotesInBox(*view, box);
    // Only the notes this press moves: each goes to the hand it is not in now, which is also how a
    // second press moves it back. The hand is kept, not the move, so the note stays where it was put.
    const HandEdits before = practice.hands;
    HandEdits change;
    for (const PickedNote& p : picked) {
        const NoteRecord& n = song.parts[p.part].notes[p.index];
        const uint8_t other = p.part == 0 ? 1 : 0;
        if (!practice.hands.Put(n.key, n.start, other)) break;  // no more can be kept
        (void)change.Put(n.key, n.start, other);
    }
    if (change.moved.empty() || !ApplyHandEdits(song, change)) {
        practice.hands = before;
        return 0;
    }
    if (!practice.Key().empty() && !WriteHandEdits(practice.Key(), practice.hands))
        Report(session, "The notes moved to the other hand could not be kept for the next time.");
    return static_cast<int>(change.moved.size());
}
