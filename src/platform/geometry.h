// Plain geometry and colour values shared by the drawing layer and the program's own code.
#pragma once

#include <cstdint>

// A rectangle in design units (pixels of the client size at start-up).
struct RectF {
    float left = 0, top = 0, right = 0, bottom = 0;

    // Whether (x, y) lies inside, edges included: a click on a button's last pixel row counts.
    [[nodiscard]] bool ContainsClosed(float x, float y) const {
        return left <= x && x <= right && top <= y && y <= bottom;
    }
    [[nodiscard]] float Width() const { return right - left; }
    [[nodiscard]] float Height() const { return bottom - top; }
};

struct PointI {
    int32_t x = 0, y = 0;
};

// A colour as the drawing layer takes it: each channel 0..1.
struct ColourF {
    float r, g, b, a;
};
