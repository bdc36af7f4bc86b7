// The control panel's immediate-mode widgets: a push button with an optional progress display, the
// link to the user guide, a one-line label and the volume slider. Each is laid out, hit-tested and
// drawn by one call per frame from its owner's rectangle and the shared mouse state; there is no
// focus, no keyboard and no retained widget tree.
//
// A click fires on the press, not on the release: in the first frame in which the pointer is over
// the widget while the left button is held, provided the button has been up in some frame since the
// widget's last click (`armed`). Holding the button over a widget therefore fires exactly once, and
// a press that began elsewhere fires when it is dragged onto the widget. The owner also says whether
// the button went down since the last frame (`pressed`): a tap on a touchpad can go down and up
// between two frames, and is one click however short.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/geometry.h"

struct GraphicsDevice;

enum WidgetState : int32_t {
    WidgetNormal = 0,
    WidgetHover = 1,
    WidgetClicked = 2,  // only in the frame of the click
};

struct Button {
    float left = 0, top = 0, right = 0, bottom = 0;  // rectangle of the last update
    int32_t state = WidgetNormal;
    bool showProgress = false;  // the owner lets this button show a progress value
    float progress = -1.0f;     // percent; negative means none
    std::string text;           // the caption
    const GraphicsDevice* device = nullptr;
    bool mouseDown = false;            // the owner's button-down flag as of the last update
    float offsetY = 0;                 // distance of the button's top from the owner's top
    const ColourF* brushes = nullptr;  // the owner's 24 palette colours
    bool armed = true;                 // a press may fire a click
    bool dimmed = false;               // cannot act now: drawn flat with a dimmed caption

    // Lays the button out 10 pixels in from each side of the owner, takes the mouse (none when
    // `mousePoint` is null) and draws it.
    // Returns true in the frame of a click. A button whose right edge falls left of x = 0 is
    // neither hit-tested nor drawn.
    bool Update(float panelLeft, float panelRight, float panelTop, const PointI* mousePoint, bool down,
                bool pressed = false);
};

// Spans its owner's whole width. A click asks its owner to open `url`; the link opens nothing.
struct LinkButton {
    float left = 0, top = 0, right = 0, bottom = 0;
    int32_t state = WidgetNormal;
    std::string text;  // what the link shows
    std::string url;   // what a click opens
    const GraphicsDevice* device = nullptr;
    bool mouseDown = false;
    float offsetY = 0;
    const ColourF* brushes = nullptr;
    bool armed = true;
    // For the owner to say when nothing on the desktop opens the address; empty: nothing is said.
    std::string unopenedText;
    int lines = 1;  // text lines the link has room for; a longer text wraps at its spaces

    [[nodiscard]] float Height() const;

    bool Update(float panelLeft, float panelRight, float panelTop, const PointI* mousePoint, bool down,
                bool pressed = false);
};

struct Label {
    float left = 0, top = 0, right = 0, bottom = 0;
    std::string text;
    const GraphicsDevice* device = nullptr;
    float offsetY = 0;
    const ColourF* brushes = nullptr;

    // Centres the text across the owner's width, 20 pixels high, with an ellipsis when too wide.
    void Draw(float panelLeft, float panelRight, float panelTop);
};

// What a slider's update reports.
enum class SliderChange : uint8_t {
    None,
    Moved,     // dragged to a new `value`: the owner plays at it now
    Released,  // let go at `value`: the owner plays at it and keeps it
};

// The caption column that "Volume 100%" takes. A slider given a wider one falls back to this where
// the owner has no room for it, the caption then trimmed, before it shows the value alone.
inline constexpr float kSliderCaptionColumn = 92.0f;

// A horizontal slider over whole percents, 0 to 100, with its caption and value ("Volume 80%") in a
// column at its left; where the owner is too narrow for the caption only the value shows. A press
// on the track moves the knob there and starts a drag, which follows the pointer's x wherever the
// pointer goes until the button comes up. Unlike a button's, the drag never starts from a press
// that began elsewhere: a slider would jump to wherever such a drag happened to cross it.
struct Slider {
    float left = 0, top = 0, right = 0, bottom = 0;  // the row of the last update: caption and track
    float trackLeft = 0, trackRight = 0;             // where 0% and 100% lie; equal when there is no room
    int32_t state = WidgetNormal;                    // WidgetClicked all the while it is dragged
    float value = 0;                                 // the percent shown; while dragged, the pointer's
    // The values at the track's two ends, and the step the pointer's value is rounded to.
    float lowest = 0, highest = 100, step = 1;
    bool dragging = false;
    bool armed = true;                          // the button has been up since its last press
    std::string caption;                        // "Volume"
    float captionWidth = kSliderCaptionColumn;  // room for the caption and its value
    const char* unit = "%";                     // after the value: "%", or " ms" for a delay
    const GraphicsDevice* device = nullptr;
    const ColourF* brushes = nullptr;

    // Lays the slider out 10 pixels in from each side of the owner with its top at `rowTop`, takes
    // the mouse (none when `mousePoint` is null) and draws it. Out of a drag it shows `ownerValue`,
    // so that a change made elsewhere (a key) shows at once.
    SliderChange Update(float panelLeft, float panelRight, float rowTop, const PointI* mousePoint, bool down,
                        float ownerValue, bool pressed = false);
    // How wide the caption column must be for the caption with its widest value to show whole, as
    // the text layer measures it; `captionWidth` when the target cannot measure text. Measured
    // again only when the caption changes: it is asked for every frame.
    [[nodiscard]] float CaptionNeed();

  private:
    std::string measuredCaption_;  // the caption, with its widest value, last measured
    float measuredNeed_ = 0;
    [[nodiscard]] float ValueAt(float x) const;
    void Draw() const;
};

// The slider's caption: "Volume 80%", or "80%" without a caption; the percent kept between
// `lowest` and `highest`.
[[nodiscard]] std::string SliderCaption(const std::string& caption, float percent, float lowest = 0,
                                        float highest = 100, const char* unit = "%");

// How many lines `text` takes when wrapped in a column `width` wide at `textSize`, each '\n' starting
// a line, judged by a generous average glyph width (bold, plus slack for breaks at spaces): a box
// made a line too tall costs nothing, one a line too short cuts what it is there to show.
[[nodiscard]] int EstimatedLines(std::string_view text, float width, float textSize);

// The caption a progress-showing button displays: "text (42%)".
[[nodiscard]] std::string ProgressCaption(const std::string& text, float progress);
