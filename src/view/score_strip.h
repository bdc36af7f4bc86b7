// The score strip: the song's sheet music above the falling notes, one line of music (a system)
// at a time, turned like a page when the song moves past its last bar. The notes sounding now are
// lit in their hand's colour as their keys are, a line marks the chord being played, the
// loop is shaded, and a click on the music names the place to go to.
//
// The notation is made once for a song (and again when notes change hands), the first time the
// strip is drawn; it is engraved again only when the strip changes size. A frame draws one system:
// its unchanging marks as one group the window keeps from frame to frame, then the few that move.
// Every glyph is the music font's, drawn through the target's text layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midi/meter_events.h"
#include "notation/measure_layout.h"
#include "notation/page_engraving.h"
#include "view/panel.h"

class TempoMap;

// How tall the strip stands over the top of a notes view `notesHeight` tall for `staves` staves: a
// grand staff (or one staff) at a comfortable size, more staves taller in proportion, but never so
// much that the falling notes lose most of their room. Past that share the staves are drawn
// smaller, and when they would be too small to read, only the first that fit are shown.
[[nodiscard]] float ScoreStripHeight(float notesHeight, size_t staves = 2);

class ScoreStrip : public Panel {
  public:
    // One system as the strip draws it: the engraving's marks of its band, its bars, and the places
    // its music sounds at (anchors of ticks and x, both ascending), which the line follows.
    struct System {
        float bandTop = 0;                    // the band's top in the engraving
        float staffTop = 0, staffBottom = 0;  // its top and bottom staff lines, in the engraving
        int64_t startTick = 0, endTick = 0;
        std::vector<int32_t> measures;  // indices into the layout's measures
        std::vector<float> barX;        // each measure's left bar line, beside `measures`
        std::vector<GlyphMark> glyphs;  // from left to right
        std::vector<size_t> barGlyphs;  // where each bar's glyphs start among them, and the end
        std::vector<LineMark> lines;
        std::vector<BeamMark> beams;
        std::vector<TieMark> ties;
        std::vector<OctaveMark> octaves;
        std::vector<int64_t> anchorTicks;
        std::vector<float> anchorX;
    };

    bool shown = false;  // S shows and hides it; the window remembers the choice

    // The song shown, with its tempo map and the file's bytes (for its time and key signatures);
    // a null song or tempo shows nothing. Cheap while nothing changed: the notation is made again
    // only for another song or when the parts' notes have changed, and not before it is drawn.
    // The bytes, like the song, must stay in place until the next SetSong.
    void SetSong(const SongData* song, const TempoMap* tempo, const uint8_t* midi, size_t size);
    // The parts a song read by voices shows, a staff each: those the learner chose, or none for its
    // first piano part. A song read as hands shows both hands whatever is chosen. Laid out again,
    // when next drawn, only when the choice changes what is shown.
    void SetParts(const std::vector<int32_t>& parts);
    // How many staves the song and the choice ask for (two for the hands), for the strip's height;
    // known without laying the song out.
    [[nodiscard]] size_t StavesAsked() const;

    // Draws the strip into its rectangle at the view's song time. Lays out and engraves first
    // when that is due.
    void Draw(const SongView& view);

    // The song time (seconds) a point of the strip stands for, on the system drawn last; negative
    // outside the music or without a song.
    [[nodiscard]] double SecondsAt(float x, float y) const;

    // For tests and the frame: the systems engraved for the current size, the one drawn last, and
    // where the line stands (design units) at a song time on the system that holds it: at the
    // last note or bar begun.
    [[nodiscard]] const std::vector<System>& Systems() const { return systems_; }
    [[nodiscard]] int ShownSystem() const { return shownSystem_; }
    [[nodiscard]] const ScoreLayout& Layout() const { return layout_; }
    [[nodiscard]] float CursorX(double seconds) const;

  private:
    void Forget();  // the notation made, to be made again when next drawn
    void LayOut();
    void Engrave();
    [[nodiscard]] int SystemAtTick(double tick) const;
    [[nodiscard]] float XAtTick(const System& s, double tick) const;
    // The place of the last onset (or bar start) at or before `tick`: the line steps from chord
    // to chord rather than gliding, so the strip changes only when the music does, which is
    // what keeps its frames cheap to draw.
    [[nodiscard]] static float OnsetX(const System& s, double tick);
    void DrawLines(const System& s, float dx, float dy) const;
    void DrawOctaves(const System& s, float dx, float dy) const;
    void DrawNames(const System& s, float dx, float dy) const;
    void DrawBar(const System& s, size_t bar, float dx, float dy) const;
    [[nodiscard]] platform::TextFormat NumberFormat() const;
    // Where a bar's number stands over its bar line.
    [[nodiscard]] RectF NumberBox(const System& s, size_t bar, float dx, float dy) const;
    void DrawGlyph(const GlyphMark& g, float dx, float dy, ColourF colour) const;

    const SongData* song_ = nullptr;
    const TempoMap* tempo_ = nullptr;
    uint64_t songStamp_ = 0;  // what the notation was made from; 0: nothing
    bool laidOut_ = false;
    SongMeters meters_;
    const uint8_t* midi_ = nullptr;  // the file's bytes of SetSong, read for meters_ when laid out
    size_t midiSize_ = 0;
    bool metersRead_ = false;
    ScoreSong score_;
    ScoreLayout layout_;
    LayoutChoice choice_;
    std::vector<int64_t> writtenTick_;  // per score note: the tick its written onset stands for
    // The engraving's size and staff space; engraved again when the strip's size changes.
    float engravedWidth_ = -1, engravedHeight_ = -1;
    float pendingWidth_ = -1, pendingHeight_ = -1;  // a new size, and the frames it has held
    int steadyFrames_ = 0;
    float space_ = 0;
    float bandHeight_ = 0;
    std::vector<std::string> staffNames_;  // several parts' names, for the staves engraved
    std::vector<System> systems_;
    int shownSystem_ = -1;
    float shownDy_ = 0;  // from the engraving's y to the strip's, for the system drawn last
    std::string glyphText_[static_cast<size_t>(Glyph::Count)];
    std::vector<size_t> lit_;  // the shown system's glyphs lit in the frame drawn last
};
