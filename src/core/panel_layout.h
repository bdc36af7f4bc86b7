// The scale a scene is drawn at, and where the three panels and the two splitters lie in it: the
// notes view upper left, the time bar under it, the control panel on the right, with a gap of two
// half-widths between neighbours. In full view the notes view covers the whole scene and the other
// panels are not laid out at all.
#pragma once

#include <algorithm>

#include "platform/geometry.h"

// The client size the panels were drawn for: the window's first size on a 1920 x 1080 screen. A
// scene of this size is drawn one pixel per design unit.
inline constexpr float kReferenceWidth = 1536.0f;
inline constexpr float kReferenceHeight = 864.0f;
// The smallest scale: the panel's 14-pixel bold labels stay at least 11 pixels tall.
inline constexpr float kSmallestUiScale = 0.8f;
// Scales are whole eighths, so that a window dragged a few pixels larger or smaller keeps its
// scale (and its rendered text), and the window's first size on the usual screens, a little
// shorter than the reference for the task bar, still draws one pixel per design unit.
inline constexpr float kUiScaleStep = 0.125f;

// Pixels per design unit for a scene of pixelWidth x pixelHeight: the reference design fitted
// into it (the smaller of the two ratios), to the nearest step, never below the smallest scale.
// The design size is then the pixel size divided by the scale; it is never much smaller than
// the reference in either direction, and grows in the other one with the window's shape.
[[nodiscard]] constexpr float UiScaleFor(int pixelWidth, int pixelHeight) {
    if (pixelWidth <= 0 || pixelHeight <= 0) return 1.0f;
    const float fit = std::min(static_cast<float>(pixelWidth) / kReferenceWidth,
                               static_cast<float>(pixelHeight) / kReferenceHeight);
    const float steps = static_cast<float>(static_cast<int>(fit / kUiScaleStep + 0.5f));
    return std::max(steps * kUiScaleStep, kSmallestUiScale);
}

// The split the panels were drawn with, as shares of the reference size: the notes view and time
// bar take this share of the width, the notes view this share of the height.
inline constexpr float kDefaultSplitX = 0.87f;
inline constexpr float kDefaultSplitY = 0.8f;
inline constexpr float kSplitterHalfWidth = 2.0f;  // half the width of each splitter gap

// The control panel's width and the time bar's height are fixed in design units, from the right
// and the bottom edge to the middle of their splitter: the notes view takes whatever room is left,
// so the panels keep their proportions at every window shape. Written as differences so that the
// reference size is laid out to the bit as the shares lay it out.
inline constexpr float kDefaultControlPanelWidth = kReferenceWidth - kReferenceWidth * kDefaultSplitX;
inline constexpr float kDefaultTimeBarHeight = kReferenceHeight - kReferenceHeight * kDefaultSplitY;
// However the splitters are dragged, every panel keeps this share of the reference size.
inline constexpr float kSmallestPanelShare = 0.05f;

// The control panel's width (or the time bar's height) that the scene's width (or height) `size`
// leaves room for: at least the smallest share, and at most what leaves the notes view its own.
[[nodiscard]] constexpr float ClampPanelSize(float wanted, float size, float reference) {
    const float smallest = reference * kSmallestPanelShare;
    const float largest = std::max(smallest, size - smallest);
    return std::clamp(wanted, smallest, largest);
}

struct PanelLayout {
    RectF notesView;
    RectF timeBar;             // empty in full view
    RectF controlPanel;        // empty in full view
    RectF horizontalSplitter;  // between notes view and time bar; empty in full view
    RectF verticalSplitter;    // between the left column and the control panel; empty in full view
};

// W x H is the design size; the control panel's width and the time bar's height are in design
// units and are clamped as ClampPanelSize says. The time bar and the control panel stop one pixel
// short of the scene's right and bottom edges, which therefore keep the clear colour.
[[nodiscard]] constexpr PanelLayout LayOutPanels(float W, float H, float controlPanelWidth,
                                                 float timeBarHeight, float splitterHalfWidth,
                                                 bool fullView) {
    PanelLayout layout{};
    if (fullView) {
        layout.notesView = {0, 0, W, H};
        return layout;
    }
    const float a = W - ClampPanelSize(controlPanelWidth, W, kReferenceWidth);
    const float b = H - ClampPanelSize(timeBarHeight, H, kReferenceHeight);
    const float g = splitterHalfWidth;
    layout.notesView = {0, 0, a - g, b - g};
    layout.timeBar = {0, b + g, a - g, H - 1};
    layout.controlPanel = {a + g, 0, W - 1, H - 1};
    layout.horizontalSplitter = {0, b - g, a, b + g};
    layout.verticalSplitter = {a - g, 0, a + g, H};
    return layout;
}
