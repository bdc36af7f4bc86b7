// The legend in the control panel's middle: which colour of the notes view is which part of the
// song, and where each part is muted, soloed or chosen to be played by the player. One row per part,
// in the part's colour: a small note, the instrument, the note count where the column has room,
// and three small buttons (M mute, S solo, a triangle: play this part yourself); a song read by
// voices lists its voices in the order they first sound, a piano song its two hands. Drums, heard but
// not drawn, have a row of their own at the end with their mute button.
//
// The rows are made once when a song arrives, so drawing a frame allocates nothing but the tip's
// text. When they do not fit the space they are given they scroll, a whole row at a time so that
// none is ever cut: by the wheel over them, or by dragging the bar at their right. The column is
// narrow, so a long name ends in "…": the mouse over a row shows its whole text in a tip box, and
// over a button what the button does.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "core/song_data.h"
#include "platform/geometry.h"
#include "resources/images.h"
#include "synth/practice_choice.h"
#include "view/bitmap.h"
#include "view/panel.h"

struct GraphicsDevice;
namespace platform {
class RenderTarget;
}

struct LegendRow {
    int32_t colour = 0;  // note colour of the part, 0 .. res::kNoteColourCount - 1
    // Instrument, then the track's name when it has one; rows that would read alike add the
    // track they come from (and the channel, when that is alike too).
    std::string text;
    // What the row itself shows in a narrow column: the text without where it comes from, which
    // is put shortly in `mark` ("track 3", "ch. 2") and drawn apart, so that a cut name never
    // hides the one thing telling two rows apart. Both empty for a row with no twin.
    std::string name;
    std::string mark;
    int32_t notes = 0;  // drawn notes of the part
};

// What a press on the legend asks for.
enum class LegendAction : uint8_t {
    None,
    Cycle,  // the row itself: heard, muted, soloed, heard again
    Mute,   // its M button: muted, or heard again
    Solo,   // its S button: alone, or back with the others
    Play,   // its triangle: the player plays this part and the song the others
};

struct LegendAnswer {
    LegendAction action = LegendAction::None;
    int part = -1;  // the part, counted as the song stores them, or kDrumsPart
};

struct VoiceLegend {
    Bitmap swatches[res::kNoteColourCount];  // the white-key note body of each colour
    const SongData* song = nullptr;          // the song the rows were made for
    std::string heading;                     // "2 hands", "5 voices"
    std::vector<LegendRow> rows;
    std::string drums;      // the drums row's text ("Drums: 300 notes, not drawn"), or empty
    int32_t shownRows = 0;  // rows drawn in the last frame, the drums row included
    int32_t firstRow = 0;   // the row at the top: how far the rows are scrolled
    float countWidth = 0;   // the note counts' column: as wide as the longest count needs
    RectF rowsArea;         // where the rows were drawn in the last frame, the scroll bar included
    bool dragging = false;  // the scroll bar's thumb is being dragged
    float dragOffset = 0;   // from the thumb's top to where it was taken

    // All the rows there are, the drums row included.
    [[nodiscard]] int32_t RowCount() const {
        return static_cast<int32_t>(rows.size()) + (drums.empty() ? 0 : 1);
    }

    // Once, with the panel's device.
    void Build(GraphicsDevice* device, ImageLookup lookup = &res::FindImage);
    // Every frame: makes the rows when the song differs from the last one; null empties the legend.
    // A new song may be allocated where the last one was, so whoever replaces the song hands in null
    // first.
    void SetSong(const SongData* current);
    // Draws the legend inside `area`; nothing when there is no song or no room for a row.
    // The mouse in the same units as `area` (null: none) picks the row or button whose tip is shown.
    // With `practice`, a row not heard is drawn faded and its M or S button lit; `played` lights the
    // triangles of the parts the player is playing. Returns what the left button went down on since
    // the last frame (`pressed`); `down` says it is still held, for the scroll bar's drag.
    LegendAnswer Draw(const GraphicsDevice* device, const RectF& area, ColourF text, ColourF dim,
                      const PointI* mouse = nullptr, ColourF tipFill = {0.1f, 0.12f, 0.16f, 1.0f},
                      bool pressed = false, const PracticeChoice* practice = nullptr, bool down = false,
                      const std::bitset<kMaxParts>* played = nullptr);

    // The wheel turned `notches` (positive: away from the user) with the mouse at `mouse`: the rows
    // scroll by as many rows when the mouse is over them and they do not all fit. False when the
    // wheel was not the legend's.
    bool Wheel(PointI mouse, int notches);
    // Scrolls so that row `row` is in view (after a key chose it, say).
    void ShowRow(int row);

    // The least height that shows the heading and `rows` rows.
    [[nodiscard]] static float HeightFor(int rows);

  private:
    [[nodiscard]] int VisibleRows() const;
    static void DrawToggle(platform::RenderTarget& target, const char* label, float x, float y, bool on,
                           bool over, ColourF text, ColourF dim, ColourF fill);
    static void DrawTip(platform::RenderTarget& target, const std::string& tip, const RectF& area,
                        float rowTop, ColourF text, ColourF fill);
};

// The rows of a song, in the order its parts are stored (the order the notes view colours them).
[[nodiscard]] std::vector<LegendRow> LegendRows(const SongData& song);
