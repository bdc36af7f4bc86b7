#pragma once

#include <cstdint>

// A rectangle in design units (pixels of the client size at start-up).
struct RectF {
    float left = 0, top = 0, right = 0, bottom = 0;

    [[nodiscard]] bool Contains(float x, float y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
    [[nodiscard]] float Width() const { return right - left; }
    [[nodiscard]] float Height() const { return bottom - top; }
};

struct PointI {
    int32_t x = 0, y = 0;
};
