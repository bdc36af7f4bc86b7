// The legend in the control panel's middle: which colour of the notes view is which part of the
// song. One row per part, in the part's colour: a small note, the instrument and the note count; a
// song read by voices lists its voices in the order they first sound, a piano song its two hands.
//
// The rows are made once when a song arrives, so drawing a frame allocates nothing. When the rows do
// not fit the space they are given, the last visible line says how many more there are. The column
// is narrow, so a long name ends in "…": the mouse over a row shows its whole text in a tip box,
// and over the "+N more" line the names of the rows left out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "resources/images.h"
#include "synth/practice_choice.h"
#include "view/bitmap.h"

struct GraphicsDevice;
struct SongData;
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

struct VoiceLegend {
    Bitmap swatches[res::kNoteColourCount];  // the white-key note body of each colour
    const SongData* song = nullptr;          // the song the rows were made for
    std::string heading;                     // "2 hands", "5 voices"
    std::vector<LegendRow> rows;
    std::string footnote;   // the percussion heard but not drawn, or empty
    int32_t shownRows = 0;  // rows drawn in the last frame; the rest were summed up in one line
    float countWidth = 0;   // the note counts' column: as wide as the longest count needs
    bool wasDown = false;   // the left button was down at the last Draw

    // Once, with the panel's device.
    void Build(GraphicsDevice* device, ImageLookup lookup = &res::FindImage);
    // Every frame: makes the rows when the song differs from the last one; null empties the legend.
    // A new song may be allocated where the last one was, so whoever replaces the song hands in null
    // first.
    void SetSong(const SongData* current);
    // Draws the legend inside `area`; nothing when there is no song or no room for a row.
    // The mouse in the same units as `area` (null: none) picks the row whose tip is shown. With
    // `practice`, a row not heard is drawn faded, and says "muted" (or "solo" for one soloed).
    // Returns the row the left button went down on in this frame (`down` is the button now), or -1.
    int Draw(const GraphicsDevice* device, const RectF& area, ColourF text, ColourF dim,
             const PointI* mouse = nullptr, ColourF tipFill = {0.1f, 0.12f, 0.16f, 1.0f}, bool down = false,
             const PracticeChoice* practice = nullptr);

    // The least height that shows the heading, `rows` rows and the footnote line.
    [[nodiscard]] static float HeightFor(int rows);

  private:
    static void DrawTip(platform::RenderTarget& target, const std::string& tip, const RectF& area,
                        float rowTop, ColourF text, ColourF fill);
};

// The rows of a song, in the order its parts are stored (the order the notes view colours them).
[[nodiscard]] std::vector<LegendRow> LegendRows(const SongData& song);
