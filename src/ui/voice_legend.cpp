#include "ui/voice_legend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/song_data.h"
#include "midi/gm_programs.h"
#include "view/graphics_device.h"

namespace {

constexpr float kRowHeight = 18.0f;
constexpr float kHeadingHeight = 22.0f;
constexpr float kSwatchWidth = 8.0f;
constexpr float kSwatchHeight = 14.0f;
constexpr float kCountWidth = 52.0f;  // room for "1000000" at the row's size
constexpr RectF kSpriteCore = {32, 32, 64, 64};

const platform::TextFormat kRowText{13.0f, 400, platform::TextAlign::Leading, true, false, true};
const platform::TextFormat kCountText{13.0f, 400, platform::TextAlign::Trailing, true, false, false};
const platform::TextFormat kHeadingText{14.0f, 700, platform::TextAlign::Centre, true, false, true};

}  // namespace

std::vector<LegendRow> LegendRows(const SongData& song) {
    std::vector<LegendRow> rows;
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
    }
    return rows;
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

void VoiceLegend::Draw(const GraphicsDevice* device, const RectF& area, ColourF text, ColourF dim) {
    shownRows = 0;
    if (song == nullptr || device == nullptr || device->target == nullptr) return;
    platform::RenderTarget& target = *device->target;
    const float left = area.left + 10, right = area.right - 10;
    if (right - left < 60 || area.bottom - area.top < kHeadingHeight + kRowHeight) return;

    target.DrawText(heading, kHeadingText, {area.left, area.top, area.right, area.top + kHeadingHeight},
                    text);
    float y = area.top + kHeadingHeight;
    // The footnote keeps its line: drums are heard, and the user should learn why they are not seen.
    const float rowsBottom = area.bottom - (footnote.empty() ? 0.0f : kRowHeight);
    const int room = static_cast<int>((rowsBottom - y) / kRowHeight);
    const int count = static_cast<int>(rows.size());
    shownRows = count <= room ? count : std::max(0, room - 1);
    for (int i = 0; i < shownRows; ++i, y += kRowHeight) {
        const LegendRow& row = rows[static_cast<size_t>(i)];
        const float mid = y + kRowHeight * 0.5f;
        swatches[std::clamp(row.colour, 0, res::kNoteColourCount - 1)].DrawPart(
            {left, mid - kSwatchHeight * 0.5f, left + kSwatchWidth, mid + kSwatchHeight * 0.5f}, kSpriteCore,
            1.0f);
        target.DrawText(row.text, kRowText, {left + kSwatchWidth + 6, y, right - kCountWidth, y + kRowHeight},
                        text);
        char number[16];
        std::snprintf(number, sizeof number, "%d", static_cast<int>(row.notes));
        target.DrawText(number, kCountText, {right - kCountWidth, y, right, y + kRowHeight}, dim);
    }
    // With no row shown, "+N more" would only repeat the heading's count.
    if (shownRows < count && shownRows > 0) {
        char more[32];
        std::snprintf(more, sizeof more, "+%d more", count - shownRows);
        target.DrawText(more, kRowText, {left + kSwatchWidth + 6, y, right, y + kRowHeight}, dim);
        y += kRowHeight;
    }
    if (!footnote.empty()) target.DrawText(footnote, kRowText, {left, y, right, y + kRowHeight}, dim);
}
