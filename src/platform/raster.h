// The software rasteriser: flat fills and stretched image pieces drawn straight into 32-bit ARGB
// pixels in memory, with no renderer underneath. The render targets decide which pixels a shape
// covers (graphics_sdl.h states the rules) and hand the rasteriser whole-pixel boxes.
//
// Opaque fills and the clear are not written at once: each row keeps the spans of flat colour
// still owed to it, and a later opaque fill or opaque image row simply replaces what it covers,
// while a translucent fill over a flat span only changes the span's colour. The pixels of a span
// are written when something that needs them (a blended image, text drawn by someone else, the end
// of the frame, a read-back) reaches them, so a pixel painted over several times in a frame is
// written once.
//
// Pieces of artwork are drawn at a handful of widths frame after frame (keys, octaves, note sprites
// whose lengths vary only in height), so a piece stretched to a width, with its opacity applied
// and its colours premultiplied, is kept and its rows are copied or blended straight from it.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace platform {

// The pixels a rasteriser draws into, 0xAARRGGBB, `stride` pixels from one row to the next.
struct Canvas {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    ptrdiff_t stride = 0;
};

// A box of whole pixels.
struct PixelBox {
    int32_t x, y, w, h;
};

// A span of flat colour owed to one row: the pixels [first, end) are to be `colour` (0xAARRGGBB)
// but have not been written yet.
struct OwedRun {
    int32_t first, end;
    uint32_t colour;
};

// An image's pixels as the rasteriser draws them: 0xAARRGGBB row by row without padding, with the
// extent of each row's visible part.
class RasterImage {
  public:
    // The columns [first, end) of a row outside which every pixel is fully transparent;
    // first == end for a row with nothing to show.
    struct RowExtent {
        int32_t first, end;
        bool opaque;  // every pixel of [first, end) is fully opaque
    };

    // `serial` tells this image from one made later at the same address.
    explicit RasterImage(uint64_t serial) : serial_(serial) {}

    void Keep(int width, int height, std::vector<uint32_t> argb);
    [[nodiscard]] bool Empty() const { return pixels_.empty(); }
    [[nodiscard]] int Width() const { return width_; }
    [[nodiscard]] int Height() const { return height_; }
    [[nodiscard]] uint64_t Serial() const { return serial_; }
    [[nodiscard]] const uint32_t* Row(int y) const {
        return pixels_.data() + static_cast<ptrdiff_t>(y) * width_;
    }
    [[nodiscard]] RowExtent Extent(int y) const { return extents_[static_cast<size_t>(y)]; }

  private:
    uint64_t serial_;
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;
    std::vector<RowExtent> extents_;  // per row of pixels_
};

class Rasteriser {
  public:
    // The pixels drawn into from now on, all of them open to drawing. What was owed is forgotten.
    void SetCanvas(const Canvas& canvas);
    [[nodiscard]] const Canvas& Pixels() const { return canvas_; }
    // Limits all drawing to the box [left, right) x [top, bottom) of the canvas, after writing
    // what is owed. Pixels outside it keep what they hold.
    void SetClip(int left, int top, int right, int bottom);
    void ClearClip() { SetClip(0, 0, canvas_.width, canvas_.height); }

    // Fills are owed and written late (true, the default) or written at once (for comparisons).
    void DeferFills(bool on);
    void StartFrame();  // ages the kept pieces; those unused for a while are let go

    // Every pixel takes the colour, its alpha included: a clear does not blend.
    void Clear(uint32_t colour);
    // The pixels [left, right) x [top, bottom) in the colour, blended when it is translucent.
    void Fill(int left, int top, int right, int bottom, uint32_t colour);
    // The whole source pixels `src` of the image stretched over `out` nearest-neighbour, with
    // their alpha scaled by `alpha`. The source lies inside the image; `out` may reach past the
    // canvas and is stepped through as a whole, then clipped.
    void CopyPiece(const RasterImage& image, const PixelBox& src, const PixelBox& out, uint8_t alpha);

    // Writes what is owed inside the box, so that someone else may draw over it.
    void Settle(int left, int top, int right, int bottom);
    // Writes everything owed; the frame's pixels are then all in place.
    void SettleAll();
    // Something owed may lie in the rows [top, bottom).
    [[nodiscard]] bool OwesRows(int top, int bottom) const {
        return owedBottom_ > owedTop_ && top < owedBottom_ && bottom > owedTop_;
    }

  private:
    // The columns src.x .. src.x + src.w of every row of an image, stretched to `width` pixels as
    // source terms (see raster_blend.h), so that drawing a row of it is a copy or a two-term blend
    // of contiguous pixels.
    struct StripKey {
        uint64_t serial;
        int32_t srcX, srcW, outWidth;
        uint32_t alpha;
        bool operator==(const StripKey&) const = default;
    };
    struct StripKeyHash {
        size_t operator()(const StripKey& k) const {
            uint64_t h = k.serial * 0x9E3779B97F4A7C15ull;
            for (uint64_t v : {uint64_t(uint32_t(k.srcX)), uint64_t(uint32_t(k.srcW)),
                               uint64_t(uint32_t(k.outWidth)), uint64_t(k.alpha)}) {
                h = (h ^ v) * 0xBF58476D1CE4E5B9ull;
            }
            return static_cast<size_t>(h ^ (h >> 31));
        }
    };
    struct StripSpan {
        int32_t first, end;  // destination columns from the piece's left edge
        bool copy;           // every pixel opaque: copied; otherwise blended
    };
    struct Strip {
        int32_t width = 0;
        std::vector<uint32_t> pixels;     // image rows of `width` source terms; alpha on top
        std::vector<uint32_t> spanStart;  // per image row, its first span; one more at the end
        std::vector<StripSpan> spans;     // the parts of each row with anything to show
        uint64_t lastUsedFrame = 0;
        uint32_t asked = 0;  // times asked for before it was made
    };

    // Marks row y as possibly holding owed runs.
    void NoteOwed(int y) {
        owedTop_ = std::min(owedTop_, y);
        owedBottom_ = std::max(owedBottom_, y + 1);
    }
    [[nodiscard]] bool Owes(int y) const {
        return y >= owedTop_ && y < owedBottom_ && !owed_[static_cast<size_t>(y)].empty();
    }
    [[nodiscard]] uint32_t* RowAt(int y) const {
        return canvas_.pixels + static_cast<ptrdiff_t>(y) * canvas_.stride;
    }
    void OweBox(int left, int top, int right, int bottom, uint32_t colour);
    void BlendBox(int left, int top, int right, int bottom, uint32_t colour);
    // Writes the owed pixels of row y in [left, right) and forgets them.
    void SettleSpan(int y, int left, int right);
    void CopyStripRows(const Strip& strip, const PixelBox& src, const PixelBox& out, int x0, int x1, int y0,
                       int y1);
    void CopyPickedRows(const RasterImage& image, const PixelBox& src, const PixelBox& out, uint8_t alpha,
                        int x0, int x1, int y0, int y1);
    const Strip* StripFor(const RasterImage& image, const PixelBox& src, int outWidth, uint8_t alpha);
    void MakeStrip(Strip& strip, const RasterImage& image, const PixelBox& src, int outWidth, uint8_t alpha);
    void EvictOldStrips();

    Canvas canvas_;
    int clipLeft_ = 0, clipTop_ = 0, clipRight_ = 0, clipBottom_ = 0;
    bool deferFills_ = true;
    uint64_t frameNumber_ = 0;
    std::vector<int32_t> sourceColumns_;  // per destination column of an image piece; kept to reuse
    std::unordered_map<StripKey, Strip, StripKeyHash> strips_;
    size_t stripPixels_ = 0;                    // held by all strips together
    std::vector<std::vector<OwedRun>> owed_;    // per row of the canvas: sorted, disjoint runs
    int owedTop_ = INT32_MAX, owedBottom_ = 0;  // the rows that may hold runs
    std::vector<OwedRun> runScratch_;           // the new runs of one row while it is rewritten
};

}  // namespace platform
