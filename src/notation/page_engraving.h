// A layout engraved: systems of staves broken into pages, every mark placed in points, the music's
// symbols named as glyphs of the music font (its note heads, clefs, accidentals, rests, flags and
// figures) and the rest as lines, beams and tie curves. Whoever draws the marks needs only the font
// and a way to draw lines; nothing here draws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "notation/measure_layout.h"

enum class Glyph : uint8_t {
    NoteheadWhole,
    NoteheadHalf,
    NoteheadBlack,
    ClefTreble,
    ClefBass,
    ClefTrebleChange,
    ClefBassChange,
    Sharp,
    Flat,
    Natural,
    RestWhole,
    RestHalf,
    RestQuarter,
    RestEighth,
    Rest16th,
    Rest32nd,
    Rest64th,
    FlagUp8th,
    FlagUp16th,
    FlagUp32nd,
    FlagUp64th,
    FlagDown8th,
    FlagDown16th,
    FlagDown32nd,
    FlagDown64th,
    Dot,
    Arpeggio,           // one wave of a roll's line: they join a staff space apart
    ArpeggioArrowDown,  // the foot of a roll downwards
    Digit0,             // Digit0 + n for the figure n
    Count = Digit0 + 10,
};

// The label an octave line of `octaves` begins with ("8va" for 1, "8vb" for -1, "15ma", "15mb").
[[nodiscard]] const char* OctaveLabel(int8_t octaves);

// The glyph's name in the music font.
[[nodiscard]] const char* GlyphName(Glyph glyph);
// The character the music font maps the glyph to (its private-use code point, or the digit), for
// a drawing layer that places text by character rather than glyphs by name.
[[nodiscard]] char32_t GlyphCharacter(Glyph glyph);

struct GlyphMark {
    Glyph glyph;
    float x, y;    // the glyph's origin, points from the page's top left
    float size;    // the font's size in points: four staff spaces
    int32_t note;  // the ScoreSong note a head stands for; -1 for any other mark
};
struct LineMark {
    float x1, y1, x2, y2, width;
};
struct BeamMark {  // a parallelogram: its left and right edge centres, and its thickness
    float x1, y1, x2, y2, thickness;
};
struct TieMark {  // a curve from one head to the next, bowing up or down
    float x1, y1, x2, y2;
    bool up;
};
// An octave line: its label ("8va", "15ma" over the staff, "8vb", "15mb" under it) at its start,
// then a dashed line to its end, hooked towards the staff where the passage ends (not where it
// goes on into the next system).
struct OctaveMark {
    float x1, x2;  // the label's start and the line's end
    float y;       // the dashed line's height, the label's middle
    int8_t octaves;
    float size;  // the label's text size in points
    bool hook;
};
struct TextMark {
    std::string text;
    float x, y, size;  // the baseline's start, or its middle when centred
    bool bold;
    bool centred;
};

// Where each measure went, for a reader that follows the song on the page.
struct MeasurePlace {
    int32_t measure;  // index into ScoreLayout::measures
    int32_t page;
    float x1, x2;       // its left and right bar lines
    float top, bottom;  // its system's top and bottom staff lines
};

struct EngravedPage {
    float width, height;
    std::vector<GlyphMark> glyphs;
    std::vector<LineMark> lines;
    std::vector<BeamMark> beams;
    std::vector<TieMark> ties;
    std::vector<TextMark> texts;
    std::vector<OctaveMark> octaves;
};

struct Engraving {
    std::vector<EngravedPage> pages;
    std::vector<MeasurePlace> places;
};

struct EngraveOptions {
    float pageWidth = 595.0f;  // A4 in points
    float pageHeight = 842.0f;
    float margin = 42.0f;
    float staffSpace = 5.0f;
    bool onePage = false;             // one page as tall as the music needs (SVG, the score strip)
    bool namesOnEverySystem = false;  // several parts' names before every system, not the first only
    float nameSize = 0;               // the names' text size in points; 0: 1.6 staff spaces
    int32_t firstMeasure = 0;         // the measures engraved: [first, last)
    int32_t lastMeasure = -1;         // -1: to the end
};

// The names written before the staves of several parts (cut when long); none for two hands or a
// single staff.
[[nodiscard]] std::vector<std::string> StaffNames(const ScoreLayout& layout);

[[nodiscard]] Engraving EngraveScore(const ScoreLayout& layout, const std::string& title,
                                     const EngraveOptions& options = {});
