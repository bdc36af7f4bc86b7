// The keyboards play-along may listen to, listed in the control panel under the legend while
// play-along is on: every MIDI input there is, then the computer keyboard, the one listened to
// marked. A click on a row chooses it; under the rows, the live keys' own volume.
//
// The rows are what the owner lists this frame, so an input plugged in or pulled out shows at
// once; the owner decides what a choice means (and remembers it).
#pragma once

#include <string>
#include <vector>

#include "platform/geometry.h"
#include "ui/widgets.h"

struct GraphicsDevice;

// What the list shows in one frame.
struct InputListView {
    std::vector<std::string> names;  // the rows, the computer keyboard last
    int listening = -1;              // the row listened to now
    float volumePercent = 100;       // the live keys' volume
};

// What the list was asked for in one frame.
struct InputListAnswer {
    int chosen = -1;  // the row clicked, or -1
    SliderChange volume = SliderChange::None;
};

struct InputList {
    Slider volume;  // "Keys 80%"

    // Once, with the panel's device and brushes (which must outlive the list).
    void Build(const GraphicsDevice* device, const ColourF* brushes);
    // The height the list takes with `rows` rows: its heading, the rows and the volume.
    [[nodiscard]] static float HeightFor(size_t rows);
    // Draws `shown` from the top of `area` down (as many rows as fit), taking the mouse: `pressed`
    // says the left button went down since the last frame.
    InputListAnswer Draw(const GraphicsDevice* device, const RectF& area, const InputListView& shown,
                         ColourF text, ColourF dim, const PointI* mouse, bool mouseDown, bool pressed);
};
