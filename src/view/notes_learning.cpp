// The notes view's marks for a player playing along: what sets the player's own part apart from
// the song's others, what the song waits for, which letter plays which key, and how each note
// struck was judged, and the figures of the pass. All of it is drawn from the options of the frame;
// nothing here changes state.
#include <algorithm>
#include <string>

#include "midi/qwerty_keyboard.h"
#include "view/note_marks.h"
#include "view/notes_view.h"
#include "view/progress_chart.h"

namespace {

// The song's other parts while the player plays one: dim enough that the player's notes stand
// out, bright enough to read the music around them. A part muted besides is fainter still.
constexpr float kAccompanimentOpacity = 0.45f;
constexpr float kQuietPartOpacity = 0.3f;

// The player's own colour, the one their held keys light in, edging their notes; the notes the
// song waits for in white, and a missed note in red.
constexpr ColourF kPlayerEdge{0.78f, 0.35f, 1.0f, 0.9f};
constexpr ColourF kAwaitedEdge{1.0f, 1.0f, 1.0f, 1.0f};
constexpr ColourF kMissedEdge{1.0f, 0.15f, 0.1f, 1.0f};
constexpr ColourF kAwaitedKey{0.3f, 0.85f, 1.0f, 0.85f};
constexpr ColourF kDarkLetter{0.06f, 0.06f, 0.08f, 1.0f};
constexpr ColourF kLightLetter{1.0f, 1.0f, 1.0f, 1.0f};

// A note the song waits for starts with its step: within the spread a chord is struck in.
constexpr float kAwaitedSpread = 0.045f;

struct MarkLook {
    ColourF colour;
    const char* sign;
};
MarkLook LookOf(Judgement j) {
    switch (j) {
        case Judgement::Hit:
            return {{0.2f, 0.85f, 0.35f, 1.0f}, "+"};
        case Judgement::Early:
            return {{0.25f, 0.55f, 1.0f, 1.0f}, "<"};
        case Judgement::Late:
            return {{1.0f, 0.6f, 0.1f, 1.0f}, ">"};
        case Judgement::Wrong:
            return {{1.0f, 0.15f, 0.1f, 1.0f}, "x"};
        default:
            return {{0.6f, 0.6f, 0.6f, 1.0f}, "-"};
    }
}

}  // namespace

float NotesView::PartOpacity(int part) const {
    const size_t p = static_cast<size_t>(part);
    if (options.playedParts.test(p)) return 1.0f;
    // A part that is not heard still shows its notes, faded, so the player sees what to play.
    if (options.quietParts.test(p)) return kQuietPartOpacity;
    return options.playedParts.any() ? kAccompanimentOpacity : 1.0f;
}

void NotesView::DrawNoteEdges(int part, const NoteRecord& n, const RectF& bar) const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || !options.playedParts.test(static_cast<size_t>(part)) || !(bar.bottom > bar.top))
        return;
    const bool awaited = options.awaitedOnset >= 0 && options.awaitedKeys.test(static_cast<size_t>(n.key)) &&
                         std::abs(n.start - options.awaitedOnset) <= kAwaitedSpread;
    const bool missed = options.marks != nullptr && options.marks->Missed(n.key, n.start);
    target->DrawRect(bar, missed ? kMissedEdge : awaited ? kAwaitedEdge : kPlayerEdge, awaited ? 3.0f : 2.0f);
}

void NotesView::DrawAwaitedKeys() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || options.awaitedKeys.none()) return;
    for (int key = 0; key < 128; ++key) {
        const int shown = ShownKey(key);
        if (!options.awaitedKeys.test(static_cast<size_t>(key)) || shown < kLowestKey || shown > kHighestKey)
            continue;
        // The upper half of the key, above where the player's own finger lights it.
        const RectF& r = keys[shown - kLowestKey].rect;
        const float height = r.bottom - r.top;
        const RectF mark{r.left + 1, r.top + 2, r.right - 1, r.top + height * 0.45f};
        target->FillRect(mark, kAwaitedKey);
        target->DrawRect(mark, kAwaitedEdge, 1.0f);
    }
}

void NotesView::DrawKeyLetters() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || options.letterBase < 0 || !(keyboardHeight > 0)) return;
    const float size = LabelSizeFor(whiteKeyWidth);
    const platform::TextFormat format{size, 700, platform::TextAlign::Centre, true, false, false};
    for (int key = kLowestKey; key <= kHighestKey; ++key) {
        const char letter = QwertyKeyboard::LetterFor(options.letterBase, key);
        if (letter == 0) continue;
        const KeyRecord& k = keys[key - kLowestKey];
        const RectF& r = k.rect;
        if (r.right <= 0 || r.left >= width) continue;
        // Low on a white key, where no black key covers it; on a black key, near its end.
        const float bottom = r.bottom - size * 0.3f;
        const std::string text(1, letter);
        target->DrawText(text, format, {r.left, bottom - size * 1.3f, r.right, bottom},
                         k.isBlack != 0 ? kLightLetter : kDarkLetter);
    }
}

void NotesView::DrawNoteMarks() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || options.marks == nullptr || !(notesHeight > 0)) return;
    const NoteMarks& marks = *options.marks;
    const float size = LabelSizeFor(whiteKeyWidth);
    const platform::TextFormat format{size, 700, platform::TextAlign::Centre, true, false, false};
    for (int i = 0; i < marks.count; ++i) {
        const NoteMark& m = marks.marks[i];
        const float age = currentTime - m.seconds;
        // A mark shows once its note is due, and fades over the seconds after.
        const int shown = ShownKey(m.key);
        if (age < -kAwaitedSpread || age > NoteMarks::kShowSeconds || shown < kLowestKey ||
            shown > kHighestKey)
            continue;
        const RectF& r = keys[shown - kLowestKey].rect;
        if (r.right <= 0 || r.left >= width) continue;
        MarkLook look = LookOf(m.judgement);
        const float alpha = std::clamp(1.0f - std::max(age, 0.0f) / NoteMarks::kShowSeconds, 0.0f, 1.0f);
        look.colour.a = alpha;
        const float side = std::max(r.right - r.left, size * 1.2f);
        const float cx = (r.left + r.right) * 0.5f;
        // Just above the keyboard, so it stays clear of the notes still to come down.
        const RectF box{cx - side * 0.5f, notesHeight - side - 4, cx + side * 0.5f, notesHeight - 4};
        target->FillRect(box, look.colour);
        target->DrawText(look.sign, format, box, {0.0f, 0.0f, 0.0f, alpha});
    }
}

void NotesView::DrawScore() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || options.scoreText.empty() || device == nullptr) return;
    platform::TextFormat format = device->textSmall;
    format.align = platform::TextAlign::Trailing;
    // A pass's figures and the play-along line are long: they wrap onto a second and third line
    // rather than run under the view toggle or off a narrow window's edge.
    format.wrap = true;
    format.centreVertically = false;
    const float top = 8 + options.coveredTop;
    const RectF column{12, top, width - 40, top + 3 * (format.size + 4)};
    // The figures are written over falling notes, whose bright bars and own labels would cross
    // the words: a dark band behind the lines the text takes keeps them readable. A target with
    // no text layer of its own cannot say how far the text runs, and gets no band.
    const int lines = target->WrappedLineCount(options.scoreText, format, column.right - column.left);
    if (lines > 0) {
        const float lineHeight = format.size + 4;
        const float textWidth =
            lines == 1 ? target->TextWidth(options.scoreText, format) : column.right - column.left;
        const float left = std::max(column.left, column.right - textWidth) - 6;
        target->FillRect({left, top - 2, column.right + 6, top + lines * lineHeight + 2},
                         {0.0f, 0.0f, 0.0f, 0.7f});
    }
    target->DrawText(options.scoreText, format, column, brushes[PalText]);
}

void NotesView::DrawProgress() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || options.history == nullptr || options.history->empty() || device == nullptr)
        return;
    // Under the score's three lines, at the right where the score is written, as wide as fits
    // beside the notes and no taller than a third of them.
    const float top = options.coveredTop + 8 + 3 * (device->textSmall.size + 4) + 6;
    const float w = std::min(360.0f, width * 0.4f);
    const float h = std::min(110.0f, (notesHeight - options.coveredTop) / 3);
    if (!(h > 40) || !(w > 120)) return;
    const RectF box{width - 40 - w, top, width - 40, top + h};
    const ProgressChartLayout chart = LayOutProgressChart(*options.history, options.historyParts, box);
    // The first pass of these parts has nothing to show yet.
    if (chart.count > 0) DrawProgressChart(*target, chart);
}

void NotesView::DrawHandBox() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || !options.handBoxShown) return;
    const RectF& b = options.handBox;
    // Dragged in whichever direction, and kept to the notes area, where the notes it takes are.
    const RectF box{std::max(0.0f, std::min(b.left, b.right)), std::max(0.0f, std::min(b.top, b.bottom)),
                    std::min(width, std::max(b.left, b.right)),
                    std::min(notesHeight, std::max(b.top, b.bottom))};
    if (box.right < box.left || box.bottom < box.top) return;
    target->FillRect(box, {1.0f, 1.0f, 1.0f, 0.12f});
    target->DrawRect(box, {1.0f, 1.0f, 1.0f, 0.8f}, 1.0f);
}
