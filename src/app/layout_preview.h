// Draws the window's three panels as plain backgrounds at the split ratios the program starts
// with. It stands in for the controller until that drives the frames, so that the window already
// shows its layout; it keeps the settings it read so that closing the window writes them back
// unchanged.
#pragma once

#include "app/dx_app.h"
#include "app/palette.h"
#include "app/session_state.h"

class LayoutPreview final : public FrameClient {
  public:
    LayoutPreview(GraphicsDevice* device, platform::Dialogs* dialogs);

    void Initialise() override;  // reads the settings file
    void Frame() override;
    void OnInput(const platform::InputMessage&) override {}
    [[nodiscard]] const SessionState& Settings() const override { return shared; }

    GraphicsDevice* device;  // not owned
    Palette palette = kDefaultPalette;
    float splitX = 0.87f;
    float splitY = 0.8f;
    float splitterHalfWidth = 2.0f;
    SessionState shared;
};
