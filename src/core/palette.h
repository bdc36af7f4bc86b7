// The 24 colours of the interface. Every colour the program draws is chosen by its index here.
#pragma once

#include <cstdint>

#include "platform/geometry.h"

struct Palette {
    uint32_t colour[24];  // 0xRRGGBB, opaque
};

// Roles of the entries the shell itself relies on; the panels name the others where they use them.
enum PaletteIndex : int {
    PalClear = 0,          // every frame is cleared with it; notes-view background
    PalControlPanel = 20,  // control panel background
    PalTimeBar = 21,       // time bar background
};

inline constexpr Palette kDefaultPalette{{
    0x000000, 0x101010, 0x404040, 0x484848, 0x104060, 0x205070, 0x205080, 0x304070,
    0xD0D0D0, 0xFFFFFF, 0xB0B0B0, 0x707080, 0x97CC00, 0xEBCA01, 0x1F4A01, 0x894500,
    0x101010, 0x000000, 0x202020, 0x404040, 0x102040, 0x051020, 0x001030, 0x204080,
}};

// A palette entry as the drawing layer takes it: each channel 0..1, alpha 1.
[[nodiscard]] constexpr ColourF PaletteColour(uint32_t rgb) {
    return {static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
            static_cast<float>(rgb & 0xFF) / 255.0f, 1.0f};
}
