// Which of the falling notes lie under the mouse: the notes a click lands on, or a box dragged
// over several touches, as the notes view draws them this frame.
#pragma once

#include <vector>

#include "platform/geometry.h"

struct NotesView;
struct NoteRecord;

struct PickedNote {
    int part;
    int index;
};

// The notes the view draws at this frame's time whose bars meet `box` (the view's own
// coordinates: 0,0 at its top left). A box of no size is a click: the notes drawn under it.
[[nodiscard]] std::vector<PickedNote> NotesInBox(const NotesView& view, const RectF& box);
