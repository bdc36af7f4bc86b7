#include "ui/voice_legend.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "core/hand_name.h"
#include "core/song_data.h"
#include "midi/gm_programs.h"
#include "ui/widgets.h"
#include "view/graphics_device.h"

namespace {

constexpr float kRowHeight = 18.0f;
constexpr float kHeadingHeight = 22.0f;
constexpr float kSwatchWidth = 8.0f;
constexpr float kSwatchHeight = 14.0f;
constexpr float kDigitWidth = 8.5f;  // a digit at the row's size, and a little
constexpr float kMarkWidth = 56.0f;  // room for "track 99" at the row's size
constexpr RectF kSpriteCore = {32, 32, 64, 64};

const platform::TextFormat kRowText{13.0f, 400, platform::TextAlign::Leading, true, false, true};
const platform::TextFormat kButtonText{11.0f, 700, platform::TextAlign::Centre, true, false, false};
constexpr float kButtonStep = 17.0f;     // each of a row's three buttons and the gap after it
constexpr float kBarWidth = 5.0f;        // the scroll bar
constexpr float kRoomForCount = 120.0f;  // a name column this wide leaves room for the note count too
const platform::TextFormat kCountText{13.0f, 400, platform::TextAlign::Trailing, true, false, false};
const platform::TextFormat kHeadingText{14.0f, 700, platform::TextAlign::Centre, true, false, true};
const platform::TextFormat kTipText{13.0f, 400, platform::TextAlign::Leading, false, true, true};
constexpr float kTipLineHeight = 17.0f;  // a line skip of the tip's text, and a little
constexpr int kTipMostLines = 8;

// A name as its letters and figures alone, in lower case: "Piano RH" and "piano-rh" read alike.
std::string Folded(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0)
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// Whether a track's name only says which hand it is ("Right Hand", "Piano LH"), as piano files'
// tracks are often named: the hand's own name says so already, and the two together push the row
// past the panel's edge.
bool OnlyNamesTheHand(const std::string& name, int hand) {
    std::string said = Folded(name);
    if (said.rfind("piano", 0) == 0) said.erase(0, 5);
    static const char* const kHands[2][3] = {{"right", "righthand", "rh"}, {"left", "lefthand", "lh"}};
    return hand >= 0 && hand < 2 &&
           std::any_of(std::begin(kHands[hand]), std::end(kHands[hand]),
                       [&](const char* s) { return said == s; });
}

bool Over(const PointI* mouse, float left, float top, float right, float bottom) {
    return mouse != nullptr && RectF{left, top, right, bottom}.ContainsClosed(static_cast<float>(mouse->x),
                                                                              static_cast<float>(mouse->y));
}

}  // namespace

std::vector<LegendRow> LegendRows(const SongData& song) {
    std::vector<LegendRow> rows;
    std::vector<int> shownParts;  // the part each row stands for
    const bool hands = song.reading == ReadingHands;
    const int count = std::clamp(song.partCount, 0, kMaxParts);
    for (int p = 0; p < count; ++p) {
        const SongPart& part = song.parts[p];
        if (part.channel == kPercussionChannel && !hands) continue;
        LegendRow row;
        row.colour = res::WrapNoteColour(part.colour);
        row.notes = part.notes != nullptr ? std::max(part.noteCount, 0) : 0;
        // A channel without a program change plays the synthesiser's default, the first program.
        row.text = hands ? HandName(p) : GmProgramName(std::max(part.program, 0));
        const std::string name(part.name, strnlen(part.name, sizeof part.name));
        // A name that repeats what the row already says (the hand, the instrument) is left out.
        const bool repeats = hands ? OnlyNamesTheHand(name, p) : Folded(name) == Folded(row.text);
        if (!name.empty() && !repeats) row.text += " \u00B7 " + name;
        rows.push_back(std::move(row));
        shownParts.push_back(p);
    }
    // Two rows reading alike ("Distortion Guitar" twice) would leave the user guessing which colour
    // is which part; they are told apart by where they come from, numbered as the info command
    // numbers them.
    std::vector<std::string> suffixes(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const SongPart& part = song.parts[shownParts[i]];
        bool twin = false, sameTrack = false;
        for (size_t j = 0; j < rows.size(); ++j) {
            if (j == i || rows[j].text != rows[i].text) continue;
            twin = true;
            sameTrack = sameTrack || song.parts[shownParts[j]].track == part.track;
        }
        if (!twin) continue;
        char where[48], mark[24];
        if (sameTrack) {
            std::snprintf(where, sizeof where, " (track %d, channel %d)", static_cast<int>(part.track),
                          static_cast<int>(part.channel) + 1);
            std::snprintf(mark, sizeof mark, "ch. %d", static_cast<int>(part.channel) + 1);
        } else {
            std::snprintf(where, sizeof where, " (track %d)", static_cast<int>(part.track));
            std::snprintf(mark, sizeof mark, "track %d", static_cast<int>(part.track));
        }
        suffixes[i] = where;
        rows[i].mark = mark;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (suffixes[i].empty()) continue;
        rows[i].name = rows[i].text;
        rows[i].text += suffixes[i];
    }
    return rows;
}

float VoiceLegend::HeightFor(int rows) {
    return kHeadingHeight + kRowHeight * static_cast<float>(std::max(rows, 0));
}

void VoiceLegend::Build(GraphicsDevice* device, ImageLookup lookup) {
    for (int c = 0; c < res::kNoteColourCount; ++c)
        swatches[c] = Bitmap::LoadPng(res::NoteBodyImage(c), device, lookup);
    SetSong(nullptr);
}

void VoiceLegend::SetSong(const SongData* current) {
    if (current == song) return;
    song = current;
    rows.clear();
    heading.clear();
    drums.clear();
    shownRows = 0;
    firstRow = 0;
    dragging = false;
    if (song == nullptr) return;
    rows = LegendRows(*song);
    int most = 0;
    for (const LegendRow& row : rows) most = std::max(most, static_cast<int>(row.notes));
    const int digits = static_cast<int>(std::to_string(most).size());
    countWidth = std::max(3, digits) * kDigitWidth + 6;
    char text[64];
    const bool hands = song->reading == ReadingHands;
    std::snprintf(text, sizeof text, hands ? "%zu hands" : (rows.size() == 1 ? "%zu voice" : "%zu voices"),
                  rows.size());
    heading = text;
    if (song->percussionNotes > 0) {
        std::snprintf(text, sizeof text, "Drums: %d notes, not drawn",
                      static_cast<int>(song->percussionNotes));
        drums = text;
    }
}

int VoiceLegend::VisibleRows() const {
    return std::max(0, static_cast<int>((rowsArea.bottom - rowsArea.top) / kRowHeight + 0.001f));
}

bool VoiceLegend::Wheel(PointI mouse, int notches) {
    const int visible = VisibleRows();
    if (notches == 0 || visible <= 0 || visible >= RowCount()) return false;
    if (!rowsArea.ContainsClosed(static_cast<float>(mouse.x), static_cast<float>(mouse.y))) return false;
    firstRow = std::clamp(firstRow - notches, 0, RowCount() - visible);
    return true;
}

void VoiceLegend::ShowRow(int row) {
    const int visible = std::max(VisibleRows(), 1);
    if (row < firstRow) firstRow = row;
    if (row >= firstRow + visible) firstRow = row - visible + 1;
    firstRow = std::clamp(firstRow, 0, std::max(0, RowCount() - visible));
}

LegendAnswer VoiceLegend::Draw(const GraphicsDevice* device, const RectF& area, ColourF text, ColourF dim,
                               const PointI* mouse, ColourF tipFill, bool pressed,
                               const PracticeChoice* practice, bool down,
                               const std::bitset<kMaxParts>* played) {
    shownRows = 0;
    LegendAnswer answer;
    rowsArea = {};
    if (song == nullptr || device == nullptr || device->target == nullptr) return answer;
    platform::RenderTarget& target = *device->target;
    const float left = area.left + 10;
    if (area.right - 10 - left < 60 || area.bottom - area.top < kHeadingHeight + kRowHeight) return answer;

    target.DrawText(heading, kHeadingText, {area.left, area.top, area.right, area.top + kHeadingHeight},
                    text);
    const float rowsTop = area.top + kHeadingHeight;
    const int room = static_cast<int>((area.bottom - rowsTop) / kRowHeight);
    const int count = RowCount();
    const bool scrolls = count > room;
    // The scroll bar takes the column's right edge, the rows what is left of it.
    const float right = area.right - (scrolls ? kBarWidth + 4 : 10);
    rowsArea = {area.left, rowsTop, area.right, rowsTop + kRowHeight * static_cast<float>(room)};
    firstRow = std::clamp(firstRow, 0, std::max(0, count - room));
    if (!down) dragging = false;

    if (scrolls) {
        const RectF bar{area.right - kBarWidth - 2, rowsArea.top, area.right - 2, rowsArea.bottom};
        const float span = bar.bottom - bar.top;
        const float thumbHeight =
            std::max(kBarWidth * 2, span * static_cast<float>(room) / static_cast<float>(count));
        const float travel = span - thumbHeight;
        const int most = count - room;
        const bool overBar = Over(mouse, bar.left - 2, bar.top, bar.right + 2, bar.bottom);
        float thumbTop = bar.top + travel * static_cast<float>(firstRow) / static_cast<float>(most);
        if (pressed && overBar && mouse != nullptr) {
            const float y = static_cast<float>(mouse->y);
            // A press on the thumb takes it where it was held; one beside it brings it there.
            dragging = down;
            dragOffset = (y >= thumbTop && y <= thumbTop + thumbHeight) ? y - thumbTop : thumbHeight * 0.5f;
            if (!down) dragOffset = thumbHeight * 0.5f;
        }
        if ((dragging || (pressed && overBar)) && mouse != nullptr && travel > 0) {
            const float share =
                std::clamp((static_cast<float>(mouse->y) - dragOffset - bar.top) / travel, 0.0f, 1.0f);
            firstRow = static_cast<int>(share * static_cast<float>(most) + 0.5f);
            thumbTop = bar.top + travel * static_cast<float>(firstRow) / static_cast<float>(most);
        }
        target.FillRect(bar, {dim.r * 0.45f, dim.g * 0.45f, dim.b * 0.45f, dim.a});
        target.FillRect({bar.left, thumbTop, bar.right, thumbTop + thumbHeight},
                        overBar || dragging ? text : dim);
    }

    // The buttons at each row's right, and the note count before them where the column has room.
    const float buttonsLeft = right - 3 * kButtonStep;
    const float textLeft = left + kSwatchWidth + 6;
    const bool withCount = buttonsLeft - textLeft >= kRoomForCount;
    const bool solo = practice != nullptr && practice->AnySolo();
    std::string tip;
    float tipRowTop = 0;
    float y = rowsTop;
    for (int r = firstRow; r < count && r < firstRow + room; ++r, y += kRowHeight, ++shownRows) {
        const bool isDrums = r >= static_cast<int>(rows.size());
        const float mid = y + kRowHeight * 0.5f;
        const bool overRow = Over(mouse, area.left, y, right, y + kRowHeight);
        // Which button the mouse is on: 0 M, 1 S, 2 play; -1 none.
        int overButton = -1;
        for (int b = 0; b < 3 && overRow; ++b) {
            const float bl = buttonsLeft + kButtonStep * static_cast<float>(b);
            if (Over(mouse, bl, y, bl + kButtonStep, y + kRowHeight)) overButton = b;
        }
        if (isDrums) {
            // Drums are muted on their own, and fall silent while anything is soloed.
            const bool muted = practice != nullptr && practice->drumsMuted;
            const bool heard = !muted && !solo;
            target.DrawText(drums, kRowText, {left, y, buttonsLeft - 2, y + kRowHeight}, heard ? text : dim);
            DrawToggle(target, "M", buttonsLeft, y, muted, overButton == 0, text, dim, tipFill);
            if (overRow) {
                tip = drums +
                      (muted  ? "\nMuted"
                       : solo ? "\nSilent while a part plays alone"
                              : "") +
                      "\nM or a click: mute the drums, or hear them (D)";
                tipRowTop = y;
                if (pressed)
                    answer = {overButton == 0 ? LegendAction::Mute : LegendAction::Cycle, kDrumsPart};
            }
            continue;
        }
        const LegendRow& row = rows[static_cast<size_t>(r)];
        const PartSound sound =
            practice != nullptr ? practice->parts[static_cast<size_t>(r)] : PartSound::Heard;
        const bool heard = practice == nullptr || practice->Heard(r);
        const bool playing = played != nullptr && r < kMaxParts && played->test(static_cast<size_t>(r));
        if (overRow) {
            static const char* const kButtonTips[3] = {
                "M: mute this part, or hear it again", "S: hear this part alone, or with the others",
                "\u25B6: play this part yourself; the song plays the rest"};
            char key[48] = "";
            if (r < 9) {
                std::snprintf(key, sizeof key, " (key %d)", r + 1);
            } else if (r < 19) {
                std::snprintf(key, sizeof key, " (Alt+%d)", (r - 9 + 1) % 10);
            }
            tip = row.text + "\n" + std::to_string(row.notes) + (row.notes == 1 ? " note" : " notes") +
                  (sound == PartSound::Solo ? " (alone)"
                   : heard                  ? ""
                                            : " (muted)") +
                  "\n" +
                  (overButton >= 0 ? std::string(kButtonTips[overButton]) + (overButton == 0 ? key : "")
                                   : std::string("Click: mute, alone, back"));
            tipRowTop = y;
            if (pressed) {
                const LegendAction actions[3] = {LegendAction::Mute, LegendAction::Solo, LegendAction::Play};
                answer = {overButton >= 0 ? actions[overButton] : LegendAction::Cycle, r};
            }
        }
        swatches[std::clamp(row.colour, 0, res::kNoteColourCount - 1)].DrawPart(
            {left, mid - kSwatchHeight * 0.5f, left + kSwatchWidth, mid + kSwatchHeight * 0.5f}, kSpriteCore,
            heard ? 1.0f : 0.3f);
        const float countLeft = withCount ? buttonsLeft - countWidth : buttonsLeft - 2;
        const ColourF rowText = heard ? text : dim;
        if (row.mark.empty()) {
            target.DrawText(row.text, kRowText, {textLeft, y, countLeft, y + kRowHeight}, rowText);
        } else {
            target.DrawText(row.name, kRowText, {textLeft, y, countLeft - kMarkWidth, y + kRowHeight},
                            rowText);
            target.DrawText(row.mark, kCountText, {countLeft - kMarkWidth, y, countLeft, y + kRowHeight},
                            dim);
        }
        if (withCount) {
            char number[16];
            std::snprintf(number, sizeof number, "%d", static_cast<int>(row.notes));
            target.DrawText(number, kCountText, {countLeft, y, buttonsLeft - 4, y + kRowHeight}, dim);
        }
        DrawToggle(target, "M", buttonsLeft, y, sound == PartSound::Muted, overButton == 0, text, dim,
                   tipFill);
        DrawToggle(target, "S", buttonsLeft + kButtonStep, y, sound == PartSound::Solo, overButton == 1, text,
                   dim, tipFill);
        DrawToggle(target, "\u25B6", buttonsLeft + 2 * kButtonStep, y, playing, overButton == 2, text, dim,
                   tipFill);
    }
    if (!tip.empty()) DrawTip(target, tip, area, tipRowTop, text, tipFill);
    return answer;
}

void VoiceLegend::DrawToggle(platform::RenderTarget& target, const char* label, float x, float y, bool on,
                             bool over, ColourF text, ColourF dim, ColourF fill) {
    const RectF box{x + 1, y + 2, x + kButtonStep - 1, y + kRowHeight - 2};
    // Lit when on: the label in the panel's colour on the text's, so that a muted part reads at a glance.
    if (on) target.FillRect(box, text);
    target.DrawRect(box, over ? text : dim, 1.0f);
    target.DrawText(label, kButtonText, box, on ? fill : over ? text : dim);
}

void VoiceLegend::DrawTip(platform::RenderTarget& target, const std::string& tip, const RectF& area,
                          float rowTop, ColourF text, ColourF fill) {
    // Over the rows below the hovered one, or above it when there is more room there; it may reach
    // past the legend's own area, since it stays only while the mouse does.
    const float width = area.right - area.left - 8;
    int lines = target.WrappedLineCount(tip, kTipText, width - 8);
    if (lines <= 0) lines = EstimatedLines(tip, width - 8, kTipText.size);
    const float height = kTipLineHeight * static_cast<float>(std::min(lines, kTipMostLines)) + 8;
    const float below = rowTop + kRowHeight;
    const float roomBelow = area.bottom - below, roomAbove = rowTop - area.top;
    const bool under = roomBelow >= height || (roomAbove < height && roomBelow >= roomAbove);
    const float top = under ? below : std::max(0.0f, rowTop - height);
    const RectF box{area.left + 4, top, area.right - 4, top + height};
    target.FillRect(box, fill);
    target.DrawRect(box, text, 1.0f);
    target.DrawText(tip, kTipText, {box.left + 4, box.top + 4, box.right - 4, box.bottom - 4}, text);
}
