// The drawing layer: a render target whose size is given in design units, each drawn as a number
// of pixels the target chooses (its scale). The program's panels draw only through this interface, so every
// frame can be drawn off-screen (software renderer, saved as PNG) or recorded call by call in tests.
//
// Coordinates are design units with y growing downwards. All drawing is aliased and bitmaps are
// sampled nearest-neighbour, so a frame is the same pixels on every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/geometry.h"

namespace platform {

enum class TextAlign { Leading, Centre, Trailing };

// A text format: the face is the system's sans-serif face (DejaVu Sans when none is configured).
struct TextFormat {
    float size = 14.0f;  // design units
    int weight = 400;    // 400 regular, 700 bold
    TextAlign align = TextAlign::Centre;
    bool centreVertically = true;  // centred on the rectangle's middle, even when taller than it
    bool wrap = false;             // wrap at word boundaries inside the rectangle's width
    bool ellipsis = false;         // a line too long for the rectangle ends in "…" at a character boundary
    // The music font (platform/music_font.h) instead of the interface's face: its glyphs stand where
    // an engraving places them, the rectangle's top left corner being the origin of the first one
    // (the start of its baseline). Alignment, centring, wrapping and trimming do not apply.
    bool music = false;
};

// A decoded image, ready to draw on the target that decoded it.
class Image {
  public:
    virtual ~Image() = default;
    [[nodiscard]] virtual int Width() const = 0;
    [[nodiscard]] virtual int Height() const = 0;
};

class RenderTarget {
  public:
    virtual ~RenderTarget() = default;

    [[nodiscard]] virtual int Width() const = 0;  // the size in design units
    [[nodiscard]] virtual int Height() const = 0;

    virtual void BeginDraw() = 0;
    virtual void EndDraw() = 0;  // the frame is complete (and, on a window, presented)

    virtual void Clear(ColourF colour) = 0;
    virtual void FillRect(const RectF& r, ColourF colour) = 0;
    virtual void DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) = 0;
    virtual void DrawRect(const RectF& r, ColourF colour, float width) = 0;  // outline centred on r's edges
    // The source rectangle of the image, in image pixels, into the destination rectangle.
    virtual void DrawImage(const Image& image, const RectF& dest, const RectF& source, float opacity) = 0;
    // UTF-8 text laid out in the rectangle by the format. Text that falls outside is clipped only
    // by the target's own edges.
    virtual void DrawText(const std::string& text, const TextFormat& format, const RectF& r,
                          ColourF colour) = 0;
    // How many lines DrawText wraps the text onto in a column `width` wide at the format's size
    // (however tall the rectangle); 0 when the target cannot tell, having no text layer of its own.
    [[nodiscard]] virtual int WrappedLineCount(const std::string& text, const TextFormat& format,
                                               float width) {
        static_cast<void>(text);
        static_cast<void>(format);
        static_cast<void>(width);
        return 0;
    }

    // How wide `text` is on one line at the format's size, in design units; 0 when the target cannot
    // tell, having no text layer of its own (the caller then estimates).
    [[nodiscard]] virtual float TextWidth(const std::string& text, const TextFormat& format) {
        static_cast<void>(text);
        static_cast<void>(format);
        return 0;
    }

    // A run of calls that draws the same pixels whenever its key is the same: the caller makes the
    // key from everything the calls depend on. False when the target still holds the run from the
    // last frame under this key: the caller then leaves the calls out and goes on to EndGroup.
    // A target that keeps nothing says true, and the calls are made as usual.
    virtual bool BeginGroup(uint64_t key) {
        static_cast<void>(key);
        return true;
    }
    virtual void EndGroup() {}

    // Decodes PNG bytes into an image for this target; null when the bytes are not a PNG.
    virtual std::unique_ptr<Image> DecodePng(const uint8_t* data, size_t size) = 0;
};

}  // namespace platform
