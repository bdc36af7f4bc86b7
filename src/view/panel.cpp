#include "view/panel.h"

void Panel::Init(GraphicsDevice* drawingDevice, const PointI* mouse) {
    device = drawingDevice;
    mousePoint = mouse;
    mouseDown = false;
}

void Panel::CreateBrushes() {
    for (int i = 0; i < kPaletteSize; ++i) {
        brushes[i] = palette != nullptr ? PaletteColour(palette->colour[i]) : ColourF{0, 0, 0, 1};
    }
}

void Panel::DrawBackground() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || background >= kPaletteSize) return;
    target->FillRect({left, top, right, bottom}, brushes[background]);
}

void Panel::SetRect(float l, float t, float r, float b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
    width = r - l;
    height = b - t;
}
