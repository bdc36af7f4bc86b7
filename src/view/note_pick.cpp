#include "view/note_pick.h"

#include <algorithm>

#include "view/notes_view.h"

std::vector<PickedNote> NotesInBox(const NotesView& view, const RectF& box) {
    std::vector<PickedNote> picked;
    if (view.song == nullptr || !(view.lookAhead > 0)) return picked;
    // The box as dragged, in whichever direction.
    const RectF b{std::min(box.left, box.right), std::min(box.top, box.bottom), std::max(box.left, box.right),
                  std::max(box.top, box.bottom)};
    const float h = view.notesHeight;
    auto y = [&](float t) { return (view.topTime - t) * h / view.lookAhead; };
    for (int part = 0; part < kMaxParts; ++part) {
        const SongPart& p = view.song->parts[part];
        const int count = p.notes != nullptr ? std::max(p.noteCount, 0) : 0;
        for (int index = 0; index < count; ++index) {
            const NoteRecord* n = view.ShownNote(part, index);
            if (n == nullptr) continue;
            // The bar as drawn: the key's width, from the note's end down to its start, cut at the
            // edges of the notes area.
            const RectF& key = view.keys[view.ShownKey(n->key) - kLowestKey].rect;
            const float top = std::max(y(n->end), 0.0f);
            const float bottom = std::min(y(n->start), h);
            if (top > bottom) continue;
            if (key.left <= b.right && b.left <= key.right && top <= b.bottom && b.top <= bottom)
                picked.push_back({part, index});
        }
    }
    return picked;
}
