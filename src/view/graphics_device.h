// The drawing device every panel draws through: the render target of the design size and the
// two text formats of the interface.
#pragma once

#include <string>

#include "platform/graphics.h"

struct GraphicsDevice {
    platform::RenderTarget* target = nullptr;  // all drawing goes here; not owned
    // 14 px bold, centred both ways, one line, "…" when too long: buttons, labels, bar numbers.
    platform::TextFormat textSmall{14.0f, 700, platform::TextAlign::Centre, true, false, true};
    // 24 px regular, centred both ways, "…" when too long: the control panel's file names.
    platform::TextFormat textMedium{24.0f, 400, platform::TextAlign::Centre, true, true, true};
    int clientWidth = 0;  // the design size: the client area's size now, in design units
    int clientHeight = 0;

    // The whole text centred in the rectangle (x, y, x + width, y + height); the size is whole
    // design units.
    void DrawTextSmall(const std::string& text, float x, float y, int width, int height,
                       ColourF colour) const {
        Draw(text, textSmall, x, y, width, height, colour);
    }
    void DrawTextMedium(const std::string& text, float x, float y, int width, int height,
                        ColourF colour) const {
        Draw(text, textMedium, x, y, width, height, colour);
    }

  private:
    void Draw(const std::string& text, const platform::TextFormat& format, float x, float y, int width,
              int height, ColourF colour) const {
        if (target == nullptr) return;
        const RectF r{x, y, x + static_cast<float>(width), y + static_cast<float>(height)};
        target->DrawText(text, format, r, colour);
    }
};
