#include "view/panel.h"

void Panel::Init(GraphicsDevice* drawingDevice, SessionState* state, const PointI* mouse) {
    device = drawingDevice;
    sharedState = state;
    mousePoint = mouse;
    mouseDown = false;
}

void Panel::CreateBrushes() {
    for (int i = 0; i < kPaletteSize; ++i) {
        brushes[i] = palette != nullptr ? PaletteColour(palette->colour[i]) : ColourF{0, 0, 0, 1};
    }
    topInset = 0;
}

void Panel::DrawBackground() const {
    platform::RenderTarget* target = Target();
    if (target == nullptr || background >= kPaletteSize) return;
    target->FillRect({left, top + topInset, right, bottom}, brushes[background]);
}

void Panel::SetRect(float l, float t, float r, float b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
    width = r - l;
    height = b - t;
}
