// Where the three panels and the two splitters lie for given split ratios: the notes view upper
// left, the time bar under it, the control panel on the right, with a gap of two half-widths
// between neighbours. In full view the notes view covers the whole scene and the other panels
// are not laid out at all.
#pragma once

#include "platform/geometry.h"

// The split the window starts with: the notes view and time bar take this share of the width, the
// notes view this share of the height.
inline constexpr float kDefaultSplitX = 0.87f;
inline constexpr float kDefaultSplitY = 0.8f;
inline constexpr float kSplitterHalfWidth = 2.0f;  // half the width of each splitter gap

struct PanelLayout {
    RectF notesView;
    RectF timeBar;             // empty in full view
    RectF controlPanel;        // empty in full view
    RectF horizontalSplitter;  // between notes view and time bar; empty in full view
    RectF verticalSplitter;    // between the left column and the control panel; empty in full view
};

// W x H is the design size. The time bar and the control panel stop one pixel short of the
// scene's right and bottom edges, which therefore keep the clear colour.
[[nodiscard]] constexpr PanelLayout LayOutPanels(float W, float H, float splitX, float splitY,
                                                 float splitterHalfWidth, bool fullView) {
    PanelLayout layout{};
    if (fullView) {
        layout.notesView = {0, 0, W, H};
        return layout;
    }
    const float a = W * splitX;
    const float b = H * splitY;
    const float g = splitterHalfWidth;
    layout.notesView = {0, 0, a - g, b - g};
    layout.timeBar = {0, b + g, a - g, H - 1};
    layout.controlPanel = {a + g, 0, W - 1, H - 1};
    layout.horizontalSplitter = {0, b - g, a, b + g};
    layout.verticalSplitter = {a - g, 0, a + g, H};
    return layout;
}
