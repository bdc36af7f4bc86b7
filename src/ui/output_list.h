// What the song sounds on, chosen in the control panel under the legend: one line saying it
// ("Sound: SoundFont", "Sound: Stage piano"), which opens, when clicked, into the choices: the
// SoundFont, then every MIDI output there is, the one sounding marked. A click on a row chooses it
// and closes the list; while an instrument is chosen, its own delay is set under the rows.
//
// The rows are what the owner lists this frame, so an output plugged in or pulled out shows at
// once; the owner decides what a choice means (and remembers it). Whether the list is open is the
// list's own: a choice, or a click on its line, closes it.
#pragma once

#include <string>
#include <vector>

#include "platform/geometry.h"
#include "ui/widgets.h"

struct GraphicsDevice;

// What the list shows in one frame.
struct OutputListView {
    std::vector<std::string> names;  // the rows: the SoundFont first, then the MIDI outputs
    int chosen = 0;                  // the row that sounds now
    float delayMs = 0;               // the instrument's own delay, shown while row 0 is not chosen
};

// What the list was asked for in one frame.
struct OutputListAnswer {
    int chosen = -1;  // the row clicked, or -1
    SliderChange delay = SliderChange::None;
};

struct OutputList {
    Slider delay;  // "Delay 20 ms"
    bool open = false;

    void Build(const GraphicsDevice* device, const ColourF* brushes);
    // The height the list takes as it is now (one line while closed) with `shown`.
    [[nodiscard]] float Height(const OutputListView& shown) const;
    // Draws `shown` from the top of `area` down, taking the mouse: `pressed` says the left button
    // went down since the last frame.
    OutputListAnswer Draw(const GraphicsDevice* device, const RectF& area, const OutputListView& shown,
                          ColourF text, ColourF dim, const PointI* mouse, bool mouseDown, bool pressed);
};
