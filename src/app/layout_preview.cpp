#include "app/layout_preview.h"

#include "app/panel_layout.h"
#include "settings/settings.h"

LayoutPreview::LayoutPreview(GraphicsDevice* device_, platform::Dialogs* dialogs) : device(device_) {
    shared.dialogs = dialogs;
}

void LayoutPreview::Initialise() {
    ReadSettings(shared);
}

void LayoutPreview::Frame() {
    platform::RenderTarget* target = device != nullptr ? device->target : nullptr;
    if (target == nullptr) return;
    const float W = static_cast<float>(device->clientWidth);
    const float H = static_cast<float>(device->clientHeight);
    const PanelLayout layout = LayOutPanels(W, H, splitX, splitY, splitterHalfWidth, false);
    target->Clear(PaletteColour(palette.colour[PalClear]));
    target->FillRect(layout.notesView, PaletteColour(palette.colour[PalClear]));
    target->FillRect(layout.timeBar, PaletteColour(palette.colour[PalTimeBar]));
    target->FillRect(layout.controlPanel, PaletteColour(palette.colour[PalControlPanel]));
}
