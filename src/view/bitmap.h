// view/: drawing the scene through the abstract render target: panels, bitmaps, the notes
// view with its keyboard, and the time bar.
//
// One of the program's PNG images, decoded for the drawing device, and the three ways it is drawn:
// whole, a part of it, and the three-slice note sprite of the notes view. An image that is missing
// or cannot be decoded leaves the bitmap empty, and drawing an empty bitmap does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/geometry.h"
#include "platform/graphics.h"
#include "resources/images.h"

struct GraphicsDevice;

// Where images are found by number. The program uses its embedded images; tests hand in their own.
using ImageLookup = res::EmbeddedFile (*)(int id);

// The images the view and the panels draw, by resource number. The voices' own colours are
// numbered by res::VoiceImageId.
enum ImageId : int {
    ImageBodyPart1Black = 125,  // green note body
    ImageGlowPart1Black = 126,  // green glow
    ImageBodyPart1White = 127,  // yellow-green note body
    ImageGlowPart1White = 128,  // yellow-green glow
    ImageGlowPart0Black = 130,  // orange glow
    ImageBodyPart0White = 131,  // yellow note body
    ImageGlowPart0White = 132,  // orange glow
    ImageKeysLowEnd = 134,      // A0, A#0, B0, plain
    ImageLitBlackPart1 = 136,   // octave, all keys lit green
    ImageLitBlackPart0 = 137,   // octave, all keys lit tan
    ImageLitWhitePart1 = 138,   // octave, white keys lit yellow-green
    ImageLitWhitePart0 = 139,   // octave, white keys lit yellow
    ImageKeysTopC = 140,        // C8, plain
    ImageBodyPart0Black = 141,  // orange note body
    ImageKeysOctave = 142,      // octave C to B, plain
    ImageLogo = 145,            // the program's logo, 441 x 127
    ImageSparkDisc = 146,       // red disc of a lit key's spark
    ImageSparkGlow = 147,       // large red glow of a lit key's spark
};

// Rows at each end of a note sprite that are never stretched: the 32 transparent rows of the
// margin and the first 3 rows of the rounded core.
inline constexpr float kSpriteCapRows = 35.0f;

struct Bitmap {
    GraphicsDevice* device = nullptr;

    // The image with resource number `id`, for `device`. It is decoded when it is first drawn or
    // measured: a song draws a handful of the program's hundred images, and decoding them all
    // before the first frame held it up by a tenth of a second.
    [[nodiscard]] static Bitmap LoadPng(int id, GraphicsDevice* device, ImageLookup lookup = &res::FindImage);

    [[nodiscard]] bool Loaded() const { return Decoded() != nullptr; }
    [[nodiscard]] float ImageWidth() const;
    [[nodiscard]] float ImageHeight() const;

    void Draw(float left, float top, float right, float bottom, float opacity) const;
    void DrawPart(const RectF& destination, const RectF& source, float opacity) const;
    // The note sprite stretched over `r` and clipped to the band clipTop..clipHeight. `r` comes
    // back three times as wide, so that the sprite's 32-pixel core covers the width it was given.
    void DrawNoteSprite(RectF& r, float clipHeight, float opacity, float clipTop = 0) const;

  private:
    // The image, decoded on the first call; null when it is missing or cannot be decoded.
    const platform::Image* Decoded() const;

    res::EmbeddedFile file_;  // the embedded PNG, which lives as long as the program
    mutable std::unique_ptr<platform::Image> image_;
    mutable bool decoded_ = false;
};
