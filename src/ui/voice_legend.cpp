#include "ui/voice_legend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

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
// Wide enough for "muted" where a row's note count stands.
constexpr float kStateWidth = 44.0f;
const platform::TextFormat kCountText{13.0f, 400, platform::TextAlign::Trailing, true, false, false};
const platform::TextFormat kHeadingText{14.0f, 700, platform::TextAlign::Centre, true, false, true};
const platform::TextFormat kTipText{13.0f, 400, platform::TextAlign::Leading, false, true, true};
constexpr float kTipLineHeight = 17.0f;  // a line skip of the tip's text, and a little
constexpr int kTipMostLines = 8;

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
        row.text = hands ? (p == 0 ? "Hand 1" : "Hand 2") : GmProgramName(std::max(part.program, 0));
        const std::string name(part.name, strnlen(part.name, sizeof part.name));
        if (!name.empty()) row.text += " \u00B7 " + name;
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
    return kHeadingHeight + kRowHeight * static_cast<float>(std::max(rows, 0) + 1);
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
    footnote.clear();
    shownRows = 0;
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
        footnote = text;
    }
}

int VoiceLegend::Draw(const GraphicsDevice* device, const RectF& area, ColourF text, ColourF dim,
                      const PointI* mouse, ColourF tipFill, bool down, const PracticeChoice* practice) {
    shownRows = 0;
    // A click is the button going down: held, it clicks nothing more.
    const bool pressed = down && !wasDown;
    wasDown = down;
    int clicked = -1;
    if (song == nullptr || device == nullptr || device->target == nullptr) return clicked;
    platform::RenderTarget& target = *device->target;
    const float left = area.left + 10, right = area.right - 10;
    if (right - left < 60 || area.bottom - area.top < kHeadingHeight + kRowHeight) return clicked;

    target.DrawText(heading, kHeadingText, {area.left, area.top, area.right, area.top + kHeadingHeight},
                    text);
    float y = area.top + kHeadingHeight;
    // The footnote keeps its line: drums are heard, and the user should learn why they are not seen.
    const float rowsBottom = area.bottom - (footnote.empty() ? 0.0f : kRowHeight);
    const int room = static_cast<int>((rowsBottom - y) / kRowHeight);
    const int count = static_cast<int>(rows.size());
    shownRows = count <= room ? count : std::max(0, room - 1);
    std::string tip;
    float tipRowTop = 0;
    for (int i = 0; i < shownRows; ++i, y += kRowHeight) {
        const LegendRow& row = rows[static_cast<size_t>(i)];
        const PartSound sound =
            practice != nullptr ? practice->parts[static_cast<size_t>(i)] : PartSound::Heard;
        const bool heard = practice == nullptr || practice->Heard(i);
        const char* state = sound == PartSound::Solo ? "solo" : heard ? "" : "muted";
        if (Over(mouse, area.left, y, area.right, y + kRowHeight)) {
            tip = row.text + "\n" + std::to_string(row.notes) + (row.notes == 1 ? " note" : " notes") +
                  (*state != '\0' ? std::string(" (") + state + ")" : std::string()) +
                  "\nClick: mute, solo, back";
            tipRowTop = y;
            if (pressed) clicked = i;
        }
        const float mid = y + kRowHeight * 0.5f;
        swatches[std::clamp(row.colour, 0, res::kNoteColourCount - 1)].DrawPart(
            {left, mid - kSwatchHeight * 0.5f, left + kSwatchWidth, mid + kSwatchHeight * 0.5f}, kSpriteCore,
            heard ? 1.0f : 0.3f);
        // A part's state takes the place of its note count, which its tip still gives.
        const bool marked = *state != '\0';
        const float countLeft = right - (marked ? std::max(countWidth, kStateWidth) : countWidth);
        const float textLeft = left + kSwatchWidth + 6;
        const ColourF rowText = heard ? text : dim;
        if (row.mark.empty()) {
            target.DrawText(row.text, kRowText, {textLeft, y, countLeft, y + kRowHeight}, rowText);
        } else {
            target.DrawText(row.name, kRowText, {textLeft, y, countLeft - kMarkWidth, y + kRowHeight},
                            rowText);
            target.DrawText(row.mark, kCountText, {countLeft - kMarkWidth, y, countLeft, y + kRowHeight},
                            dim);
        }
        char number[16];
        std::snprintf(number, sizeof number, "%d", static_cast<int>(row.notes));
        target.DrawText(marked ? state : number, kCountText, {countLeft, y, right, y + kRowHeight},
                        marked && sound == PartSound::Solo ? text : dim);
    }
    // With no row shown, "+N more" would only repeat the heading's count.
    if (shownRows < count && shownRows > 0) {
        char more[32];
        std::snprintf(more, sizeof more, "+%d more", count - shownRows);
        target.DrawText(more, kRowText, {left + kSwatchWidth + 6, y, right, y + kRowHeight}, dim);
        if (Over(mouse, area.left, y, area.right, y + kRowHeight)) {
            for (int i = shownRows; i < count; ++i) {
                if (!tip.empty()) tip += '\n';
                tip += rows[static_cast<size_t>(i)].text;
            }
            tipRowTop = y;
        }
        y += kRowHeight;
    }
    if (!footnote.empty()) {
        target.DrawText(footnote, kRowText, {left, y, right, y + kRowHeight}, dim);
        if (Over(mouse, area.left, y, area.right, y + kRowHeight)) {
            tip = footnote;
            tipRowTop = y;
        }
    }
    if (!tip.empty()) DrawTip(target, tip, area, tipRowTop, text, tipFill);
    return clicked;
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
