// The drawing layer on SDL2: render targets for the window and for off-screen frames, text through
// SDL2_ttf and PNG decoding through SDL2_image.
//
//   SdlRenderTarget        everything both targets share: rectangles, lines, images, text
//   WindowRenderTarget     draws into a surface of the window's client size and shows it there
//   OffscreenRenderTarget  SDL's software renderer over a surface; pixels can be read and saved
//
// Design units and pixels: a target has a size in pixels and a scale, the pixels per design unit
// (1 unless SetScale says otherwise). Every coordinate, rectangle, line width and text size given
// to the drawing calls is multiplied by the scale before it is drawn, and Width() and Height() are
// the pixel size divided by the scale, rounded: the panels lay themselves out in design units
// whatever the pixel size. Text is laid out and rendered at its size in pixels, so it stays crisp
// at any scale; images are stretched nearest-neighbour over their destination in pixels.
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

#include "core/made.h"
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

    [[nodiscard]] int Width() const override { return DesignSize(pixelWidth_); }  // in design units
    [[nodiscard]] int Height() const override { return DesignSize(pixelHeight_); }
    [[nodiscard]] int PixelWidth() const { return pixelWidth_; }
    [[nodiscard]] int PixelHeight() const { return pixelHeight_; }
    [[nodiscard]] float Scale() const { return scale_; }
    // Pixels per design unit from the next drawing call on; a scale outside 1/64 .. 64 (or not a
    // number) is ignored. Call it between frames.
    virtual void SetScale(float scale);

    void Clear(ColourF colour) override;
    void FillRect(const RectF& r, ColourF colour) override;
    void DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) override;
    void DrawRect(const RectF& r, ColourF colour, float width) override;
    void DrawImage(const Image& image, const RectF& dest, const RectF& source, float opacity) override;
    void DrawText(const std::string& text, const TextFormat& format, const RectF& r, ColourF colour) override;
    [[nodiscard]] int WrappedLineCount(const std::string& text, const TextFormat& format,
                                       float width) override;
    [[nodiscard]] float TextWidth(const std::string& text, const TextFormat& format) override;
    std::unique_ptr<Image> DecodePng(const uint8_t* data, size_t size) override;
    // A picture of the user's own, PNG or JPEG; null when the bytes are neither.
    std::unique_ptr<Image> DecodePicture(const uint8_t* data, size_t size);
    // An image of the given 0xAARRGGBB pixels, row by row, for a target that draws images itself
    // (null for one that draws through the renderer): a picture composed once and then drawn
    // every frame at its own pixel size.
    std::unique_ptr<Image> ImageFromPixels(std::vector<uint32_t> argb, int width, int height);

    // The last drawn frame at its pixel size as 0xAARRGGBB, row by row; empty on failure. Call
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
    SdlRenderTarget(int pixelWidth, int pixelHeight);
    void SetPixelSize(int width, int height) {
        pixelWidth_ = width;
        pixelHeight_ = height;
    }
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
    // Limits shapes, images and text to the box (null: the whole target). Only for a target
    // that draws straight into its surface.
    void ClipTo(const PixelBox* box);
    // The pixels DrawText may touch for this text in this rectangle (given in design units); empty
    // when none.
    [[nodiscard]] PixelBox TextBox(const std::string& text, const TextFormat& format, const RectF& r);

    SDL_Renderer* renderer_ = nullptr;

  private:
    std::unique_ptr<Image> Decode(const uint8_t* data, size_t size, bool jpeg);
    [[nodiscard]] bool Direct() const { return direct_ != nullptr && !rendererOnly_; }
    // The rasteriser, with the renderer's queued drawing carried out first so that the two kinds
    // of drawing land in the order they were asked for.
    Rasteriser& Raster();
    void SetColour(ColourF colour);
    [[nodiscard]] int DesignSize(int pixels) const {
        return static_cast<int>(static_cast<float>(pixels) / scale_ + 0.5f);
    }
    [[nodiscard]] RectF ToPixels(const RectF& r) const {
        return {r.left * scale_, r.top * scale_, r.right * scale_, r.bottom * scale_};
    }
    [[nodiscard]] TextFormat ToPixels(const TextFormat& format) const {
        TextFormat f = format;
        f.size *= scale_;
        return f;
    }
    void DrawPixelLine(float x0, float y0, float x1, float y1, float width);  // in pixels, colour set
    void FillPixels(float left, float top, float right, float bottom);        // by the pixel-centre rule

    int pixelWidth_;
    int pixelHeight_;
    float scale_ = 1.0f;
    std::shared_ptr<int> alive_;  // images hold a weak pointer: their textures die with the renderer
    TextCache text_;
    Rasteriser raster_;
    std::vector<SDL_Rect> spanBuffer_;  // rows of a slanted line, kept to reuse its memory

    SDL_Surface* direct_ = nullptr;  // drawn into straight; null when everything goes through the renderer
    bool rendererOnly_ = false;
    bool rendererPending_ = false;  // the renderer has queued drawing not yet carried out
    uint32_t fillColour_ = 0;       // the colour of SetColour as 0xAARRGGBB
};

// The window's target: the scene is drawn at the window's client size (Resize follows the window),
// by the software rasteriser into a surface of its own, and copied to the window when the frame
// ends; a window whose size has changed since the last Resize shows the scene at its top left. Where the
// machine has a GPU, the copy goes through SDL's accelerated renderer as a streaming texture; without one,
// straight into the window's own surface. DORVIK_DEBUG=1 says which on standard error.
//
// The frame's drawing calls are recorded and carried out at EndDraw, and only where they differ
// from the previous frame's: the calls of the two frames are matched in order, and only the boxes
// of the calls that found no match are drawn again and copied to the window. An unchanged frame
// costs one comparison; a frame where only a key's spark fades costs the spark's few pixels.
// Images drawn in a frame must therefore live until its EndDraw. A group of calls (BeginGroup) is
// kept from one frame to the next and stands in the frame as a single call, so that thousands of
// unchanged calls (the time bar's waveform) are neither made, recorded nor compared again.
class WindowRenderTarget final : public SdlRenderTarget {
  public:
    // Nothing, with the reason, when the scene or a way to show it cannot be made. The size is in
    // pixels; the scale starts at 1.
    static Made<WindowRenderTarget> Create(SDL_Window* window, int width, int height);
    ~WindowRenderTarget() override;

    // A new pixel size (the window's client size) and scale. The scene's pixels are made again
    // only when the pixel size changes, and the next frame is drawn whole. False, with the target
    // unusable until a later Resize succeeds, when the new scene cannot be made.
    bool Resize(int pixelWidth, int pixelHeight, float scale);
    void SetScale(float scale) override;  // the next frame is drawn whole

    void BeginDraw() override;
    void EndDraw() override;  // draws and presents what differs from the last frame
    // Presents the last drawn frame again, drawing nothing, if the window has asked for it since
    // (it was uncovered or resized); for while the program cannot draw, as under a dialog.
    void PresentAgain();

    void Clear(ColourF colour) override;
    void FillRect(const RectF& r, ColourF colour) override;
    void DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) override;
    void DrawRect(const RectF& r, ColourF colour, float width) override;
    void DrawImage(const Image& image, const RectF& dest, const RectF& source, float opacity) override;
    void DrawText(const std::string& text, const TextFormat& format, const RectF& r, ColourF colour) override;
    bool BeginGroup(uint64_t key) override;  // groups inside a group are part of it
    void EndGroup() override;

    // Frames that were drawn and presented, of all that ended.
    [[nodiscard]] uint64_t FramesPresented() const { return framesPresented_; }
    // Pixels drawn again by the last presented frame; for tests and measurements.
    [[nodiscard]] uint64_t LastRedrawnPixels() const { return lastRedrawn_; }
    // The frame as the window shows it (the client area's size) as 0xAARRGGBB with opaque alpha,
    // read back from what was handed to the display; empty on failure.
    [[nodiscard]] std::vector<uint32_t> ReadWindowPixels(int* width, int* height);

  private:
    // One recorded drawing call. Every argument that affects the pixels is kept, so that two
    // equal calls draw equal pixels.
    struct Command {
        enum class Op : uint8_t { Clear, FillRect, DrawLine, DrawRect, DrawImage, DrawText, Group };
        Op op = Op::Clear;
        float v[8] = {};  // rectangle, or line ends, or destination and source rectangles
        ColourF colour{0, 0, 0, 0};
        float width = 0;  // line width or image opacity
        const Image* image = nullptr;
        uint64_t imageSerial = 0;  // a group's key for a group
        TextFormat format{};
        uint32_t textStart = 0;  // in the frame's texts
        uint32_t textLength = 0;
    };
    // A frame's calls and their texts, end to end.
    struct Frame {
        std::vector<Command> commands;
        std::string text;
    };
    // The calls of a group, kept while the last frame or this one uses it.
    struct Group {
        uint64_t key = 0;
        Frame calls;
        PixelBox box{0, 0, 0, 0};  // every pixel its calls may touch
        uint64_t lastFrame = 0;    // the last frame that used it
    };

    WindowRenderTarget(int width, int height) : SdlRenderTarget(width, height) {}
    Failure MakeScene(int width, int height);  // the scene, its renderer and upload
    void FreeScene();
    Failure StartPresenting(SDL_Window* window);
    static int WatchEvents(void* self, SDL_Event* event);
    [[nodiscard]] static bool Same(const Command& a, const std::string& textA, const Command& b,
                                   const std::string& textB);
    PixelBox BoxOf(const Command& c, const std::string& text);
    void AddDirty(const PixelBox& box);
    // Matches this frame's calls with the last one's; what found no match is dirty. False when
    // the whole frame is better drawn again.
    bool FindDirty();
    // The calls, only those that reach the box when one is given.
    void Replay(const Frame& calls, const PixelBox* box);
    [[nodiscard]] const Group* FindGroup(uint64_t key) const;
    void AddGroupCall(uint64_t key);
    void Present(bool whole);
    void PresentOnSurface(bool whole);
    void PresentOnGpu(bool whole);

    SDL_Window* window_ = nullptr;
    SDL_Surface* scene_ = nullptr;  // the frame's pixels, ARGB
    SDL_Renderer* gpu_ = nullptr;   // with a GPU: the window's renderer and the scene's texture
    SDL_Texture* upload_ = nullptr;
    uint32_t windowId_ = 0;
    Frame frame_;                  // this frame's calls
    Frame previous_;               // the last drawn frame's
    std::string replayText_;       // one text at a time while replaying; keeps its memory
    std::vector<PixelBox> dirty_;  // what differs from the last frame, as a few disjoint-ish boxes
    std::vector<SDL_Rect> rects_;  // the same for SDL; keeps its memory
    uint64_t dirtyArea_ = 0;
    uint64_t boxCost_ = 0;  // what one more box costs to draw, in pixels
    std::vector<Group> groups_;
    uint64_t frameNumber_ = 0;
    int groupDepth_ = 0;
    bool recordingGroup_ = false;  // the outermost open group is new: its calls are being recorded
    uint64_t groupKey_ = 0;
    size_t groupStart_ = 0, groupTextStart_ = 0;  // where its calls and texts start in the frame
    bool drawnOnce_ = false;
    std::atomic<bool> repaint_{true};  // the window needs the whole scene presented again
    uint64_t framesPresented_ = 0;
    uint64_t lastRedrawn_ = 0;
};

// An off-screen target on SDL's software renderer: no display, no window, the same pixels.
// Usable without SDL_Init.
class OffscreenRenderTarget final : public SdlRenderTarget {
  public:
    // Nothing, with the reason, when the surface or its renderer cannot be made.
    static Made<OffscreenRenderTarget> Create(int width, int height);
    ~OffscreenRenderTarget() override;

    void BeginDraw() override;
    void EndDraw() override;

    // One pixel of the frame as 0xAARRGGBB (x and y in pixels); 0 outside the target.
    [[nodiscard]] uint32_t PixelAt(int x, int y);
    // The last drawn frame where it lies, PixelWidth() x PixelHeight() pixels of 0xAARRGGBB row
    // by row with nothing between rows; valid until the next drawing call. Null when the surface
    // cannot be read in place. A reader of every frame (a video encoder) is spared a copy of each.
    [[nodiscard]] const uint32_t* FramePixels();

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
