// What the window says about itself, drawn by the window from plain data: the overlay listing every
// key (F1 or ?), the tip box of a control under the mouse, and the brief note a toggle leaves on
// the screen ("Note names on", "Drums muted") that goes after a while or at the next action.
#pragma once

#include <cstddef>
#include <string>

#include "platform/geometry.h"

namespace platform {
class RenderTarget;
}

// One line of the key overlay: the keys, and what they do.
struct KeyHelp {
    const char* keys;
    const char* what;
};

struct HelpColours {
    ColourF text{0.93f, 0.94f, 0.96f, 1.0f};
    ColourF keys{1.0f, 0.84f, 0.3f, 1.0f};
    ColourF fill{0.06f, 0.09f, 0.15f, 0.94f};
    ColourF frame{0.45f, 0.52f, 0.62f, 1.0f};
};

// The overlay over `scene`: a heading and the lines in as many columns as the scene's width takes,
// the text made smaller (to a least size) when the lines would not fit its height otherwise.
void DrawKeyOverlay(platform::RenderTarget& target, const RectF& scene, const KeyHelp* lines, size_t count,
                    const HelpColours& colours = {});

// A tip box for `text` (lines split at '\n', each wrapped at the box's width) beside the point
// `at`, below and to its left where there is room, always inside `bounds`. Returns the box.
RectF DrawTooltip(platform::RenderTarget& target, const std::string& text, PointI at, const RectF& bounds,
                  const HelpColours& colours = {});

// A brief note at the top of an area, shown from `Show` for `seconds` or until `Clear`.
struct ScreenNote {
    static constexpr double kSeconds = 2.5;

    std::string text;
    double until = 0;  // the clock's seconds when it goes

    void Show(std::string words, double now, double seconds = kSeconds) {
        text = std::move(words);
        until = now + seconds;
    }
    void Clear() { text.clear(); }
    [[nodiscard]] bool Visible(double now) const { return !text.empty() && now < until; }
};

// The note centred near the top of `area`, when visible at `now`.
void DrawScreenNote(platform::RenderTarget& target, const ScreenNote& note, double now, const RectF& area,
                    const HelpColours& colours = {});
