// The drawing layer on SDL2: render targets for the window and for off-screen frames, text through
// SDL2_ttf and PNG decoding through SDL2_image.
//
//   SdlRenderTarget        everything both targets share: rectangles, lines, images, text
//   WindowRenderTarget     draws into a texture of the design size, stretched over the window
//   OffscreenRenderTarget  SDL's software renderer over a surface; pixels can be read and saved
//
// Pixel rules (the same on both targets, so an off-screen frame shows what the window shows):
// a filled shape covers exactly the pixels whose centres lie inside it, the top and left edges
// included and the bottom and right ones not. A rectangle (0, 0, 10, 10) is 10 x 10 pixels; a
// 1-wide horizontal line at y = 10 covers row 9, at y = 10.5 row 10. Images are sampled
// nearest-neighbour. Text is the only antialiased drawing.
//
// Shapes and images are drawn by the software rasteriser (raster.h) straight into the pixels of an
// off-screen target, rather than through SDL's software renderer, whose general-purpose scaled
// blitter costs several nanoseconds a pixel. The results are the renderer's: the same pixels are
// covered, a scaled image takes the same source pixel for each destination pixel, and blending
// uses the same arithmetic (the renderer's own unscaled blitters round a level or two differently
// in places). Text (text_cache.h) goes through the renderer.
#pragma once

#include <SDL_rect.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics.h"
#include "platform/raster.h"
#include "platform/text_cache.h"

struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Surface;
struct SDL_Window;
union SDL_Event;

namespace platform {

class SdlImage;  // the images the targets decode

class SdlRenderTarget : public RenderTarget {
  public:
    ~SdlRenderTarget() override;
    SdlRenderTarget(const SdlRenderTarget&) = delete;
    SdlRenderTarget& operator=(const SdlRenderTarget&) = delete;

    [[nodiscard]] int Width() const override { return width_; }
    [[nodiscard]] int Height() const override { return height_; }

    void Clear(ColourF colour) override;
    void FillRect(const RectF& r, ColourF colour) override;
    void DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) override;
    void DrawRect(const RectF& r, ColourF colour, float width) override;
    void DrawImage(const Image& image, const RectF& dest, const RectF& source, float opacity) override;
    void DrawText(const std::string& text, const TextFormat& format, const RectF& r, ColourF colour) override;
    std::unique_ptr<Image> DecodePng(const uint8_t* data, size_t size) override;

    // The last drawn frame at the design size as 0xAARRGGBB, row by row; empty on failure. Call
    // it outside BeginDraw/EndDraw.
    [[nodiscard]] std::vector<uint32_t> ReadPixels();
    // The last drawn frame as a PNG file. Returns false, with the reason on standard error, when
    // it cannot be written.
    bool SavePng(const std::string& path);

    // The lines DrawText would draw for this text in this rectangle, after wrapping and trimming.
    [[nodiscard]] std::vector<std::string> TextLines(const std::string& text, const TextFormat& format,
                                                     const RectF& r);
    // Rendered text lines kept for reuse; for tests and measurements.
    [[nodiscard]] size_t CachedTextCount() const { return text_.Count(); }

  protected:
    SdlRenderTarget(int width, int height);
    // Takes the renderer (owned from now on) and starts the font engine; false when that fails.
    bool Attach(SDL_Renderer* renderer);
    // Frees the text cache, the fonts and the renderer. Derived targets call it first in their
    // destructors, while the surface or texture under the renderer still exists.
    void Release();
    // Points the renderer at the design-size pixels (true) or back at the window (false); the
    // off-screen target always draws into its surface.
    virtual void SelectScene(bool /*scene*/) {}
    void StartFrame();  // housekeeping shared by both BeginDraw implementations
    // Makes shapes and images draw straight into this 32-bit ARGB surface, which must be the
    // renderer's own target and outlive it. Images decoded from then on keep a copy of their pixels.
    void DrawStraightInto(SDL_Surface* surface);
    // Shapes and images go through the renderer even when a surface is set (for comparisons).
    void UseRenderer(bool always);
    // Fills are owed and written late (true, the default) or written at once (for comparisons).
    void DeferFills(bool on);
    // Writes every owed fill into the surface; the frame's pixels are then all in place.
    void SettleFills();

    SDL_Renderer* renderer_ = nullptr;

  private:
    [[nodiscard]] bool Direct() const { return direct_ != nullptr && !rendererOnly_; }
    // The rasteriser, with the renderer's queued drawing carried out first so that the two kinds
    // of drawing land in the order they were asked for.
    Rasteriser& Raster();
    void SetColour(ColourF colour);
    void FillPixels(float left, float top, float right, float bottom);  // by the pixel-centre rule

    int width_;
    int height_;
    std::shared_ptr<int> alive_;  // images hold a weak pointer: their textures die with the renderer
    TextCache text_;
    Rasteriser raster_;
    std::vector<SDL_Rect> spanBuffer_;  // rows of a slanted line, kept to reuse its memory

    SDL_Surface* direct_ = nullptr;  // drawn into straight; null when everything goes through the renderer
    bool rendererOnly_ = false;
    bool rendererPending_ = false;  // the renderer has queued drawing not yet carried out
    uint32_t fillColour_ = 0;       // the colour of SetColour as 0xAARRGGBB
};

// The window's target: the scene is drawn at the design size fixed at creation and stretched over
// the window's whole client area when the frame ends, however the window has been resized since.
//
// The frame's drawing calls are recorded and carried out at EndDraw, and only when they differ
// from the previous frame's (or the window was uncovered or resized): an idle window then costs
// one comparison per frame instead of rasterising and presenting the whole scene sixty times a
// second. Images drawn in a frame must therefore live until its EndDraw.
class WindowRenderTarget final : public SdlRenderTarget {
  public:
    // Null, with the reason in *error, when no renderer or scene texture can be made.
    static std::unique_ptr<WindowRenderTarget> Create(SDL_Window* window, int width, int height,
                                                      std::string* error);
    ~WindowRenderTarget() override;

    void BeginDraw() override;
    void EndDraw() override;  // draws and presents the frame when it differs from the last one

    void Clear(ColourF colour) override;
    void FillRect(const RectF& r, ColourF colour) override;
    void DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) override;
    void DrawRect(const RectF& r, ColourF colour, float width) override;
    void DrawImage(const Image& image, const RectF& dest, const RectF& source, float opacity) override;
    void DrawText(const std::string& text, const TextFormat& format, const RectF& r, ColourF colour) override;

    // Frames that were rasterised and presented, of all that ended.
    [[nodiscard]] uint64_t FramesPresented() const { return framesPresented_; }

  private:
    // One recorded drawing call. Every argument that affects the pixels is kept, so that two frames
    // with equal calls are equal pictures.
    struct Command {
        enum class Op : uint8_t { Clear, FillRect, DrawLine, DrawRect, DrawImage, DrawText };
        Op op = Op::Clear;
        float v[8] = {};  // rectangle, or line ends, or destination and source rectangles
        ColourF colour{0, 0, 0, 0};
        float width = 0;  // line width or image opacity
        const Image* image = nullptr;
        uint64_t imageSerial = 0;
        TextFormat format{};
        uint32_t textStart = 0;
        uint32_t textLength = 0;

        bool operator==(const Command& o) const {
            for (int i = 0; i < 8; ++i) {
                if (v[i] != o.v[i]) return false;
            }
            return op == o.op && colour.r == o.colour.r && colour.g == o.colour.g && colour.b == o.colour.b &&
                   colour.a == o.colour.a && width == o.width && image == o.image &&
                   imageSerial == o.imageSerial && format.size == o.format.size &&
                   format.weight == o.format.weight && format.align == o.format.align &&
                   format.centreVertically == o.format.centreVertically && format.wrap == o.format.wrap &&
                   format.ellipsis == o.format.ellipsis && textStart == o.textStart &&
                   textLength == o.textLength;
        }
    };

    WindowRenderTarget(int width, int height);
    void SelectScene(bool scene) override;
    static int WatchEvents(void* self, SDL_Event* event);
    void Replay();

    SDL_Texture* scene_ = nullptr;
    uint32_t windowId_ = 0;
    std::vector<Command> commands_;  // this frame's drawing calls
    std::vector<Command> previous_;  // the last frame's
    std::string text_;               // the texts of this frame's calls, end to end
    std::string previousText_;
    std::string replayText_;  // one text at a time while replaying; keeps its memory
    bool drawnOnce_ = false;
    std::atomic<bool> repaint_{true};     // the window needs the scene presented again
    std::atomic<bool> sceneLost_{false};  // the renderer dropped the scene texture's pixels
    uint64_t framesPresented_ = 0;
};

// An off-screen target on SDL's software renderer: no display, no window, the same pixels.
// Usable without SDL_Init.
class OffscreenRenderTarget final : public SdlRenderTarget {
  public:
    static std::unique_ptr<OffscreenRenderTarget> Create(int width, int height, std::string* error = nullptr);
    ~OffscreenRenderTarget() override;

    void BeginDraw() override;
    void EndDraw() override;

    // One pixel of the frame as 0xAARRGGBB; 0 outside the target.
    [[nodiscard]] uint32_t PixelAt(int x, int y);

    // Shapes and images are drawn straight into the surface (true, the default) or through SDL's
    // software renderer (false). For comparing the two and measuring the difference.
    void SetDirectDrawing(bool on) { UseRenderer(!on); }
    // Opaque fills are written when something needs their pixels (true, the default) or at once
    // (false). The pixels come out the same; for comparing the two and measuring the difference.
    void SetDeferredFills(bool on) { DeferFills(on); }

  private:
    OffscreenRenderTarget(int width, int height) : SdlRenderTarget(width, height) {}

    SDL_Surface* surface_ = nullptr;
};

}  // namespace platform
