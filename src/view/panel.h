// The base of the three screen panels (notes view, time bar, control panel): its rectangle, the
// mouse state the input handler leaves in it, the song time of the frame and one colour per
// palette entry.
//
// A panel is a plain record. The controller creates it, points it at the palette, sets its
// background index, calls Init and CreateBrushes once, and from then on sets its rectangle and
// song time every frame before DrawBackground and the panel's own drawing.
#pragma once

#include <cstdint>

#include "core/palette.h"
#include "platform/geometry.h"
#include "view/graphics_device.h"

struct SessionState;

inline constexpr int kPaletteSize = 24;

struct Panel {
    const Palette* palette = nullptr;                // set by the controller before Init
    float left = 0, right = 0, top = 0, bottom = 0;  // design units, set every frame
    float width = 0, height = 0;                     // right - left and bottom - top
    bool hover = false;                              // the mouse is over this panel
    const PointI* mousePoint = nullptr;              // the controller's mouse position
    bool mouseDown = false;                          // the left button is down (any panel)
    float songTime = -1.0f;                          // seconds, handed in by the controller
    float topInset = 0;                              // height reserved at the top; always 0
    uint16_t background = 0;                         // palette index of the background
    ColourF brushes[kPaletteSize] = {};              // brush i has the colour of palette entry i
    GraphicsDevice* device = nullptr;                // drawing target and text formats
    SessionState* sharedState = nullptr;

    void Init(GraphicsDevice* drawingDevice, SessionState* state, const PointI* mouse);
    void CreateBrushes();
    void DrawBackground() const;

    // Places the panel: the rectangle and the width and height that go with it.
    void SetRect(float l, float t, float r, float b);

    [[nodiscard]] platform::RenderTarget* Target() const {
        return device != nullptr ? device->target : nullptr;
    }
    [[nodiscard]] ColourF Brush(int index) const { return brushes[index]; }
};
