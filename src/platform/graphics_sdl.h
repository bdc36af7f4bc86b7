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
// Text: the face is the system's sans-serif face as fontconfig names it (the bold face for weight
// 600 and above), DejaVu Sans when fontconfig has none. A format's size is the em size in pixels.
// Lines are the font's line skip apart; a block of n lines is (n - 1) line skips plus one font
// height tall, and each line starts on a whole pixel. Rendered lines are cached per target, so a
// frame of unchanged labels costs one lookup and one copy per line.
//
// The off-screen target fills shapes and draws images straight into its surface's pixels rather
// than through SDL's software renderer, whose general-purpose scaled blitter costs several
// nanoseconds a pixel. The results are the renderer's: the same pixels are covered, a scaled image
// takes the same source pixel for each destination pixel, and blending uses the same arithmetic
// (the renderer's own unscaled blitters round a level or two differently in places). Text still
// goes through the renderer.
//
// Opaque fills and the clear are not written at once: each row keeps the spans of flat colour
// still owed to it, and a later opaque fill or opaque image row simply replaces what it covers,
// while a translucent fill over a flat span only changes the span's colour. The pixels of a span
// are written when something that needs them (a blended image, text, the end of the frame, a
// read-back) reaches them, so a pixel painted over several times in a frame is written once.
#pragma once

#include <SDL_rect.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/graphics.h"

struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Surface;
struct SDL_Window;
union SDL_Event;
typedef struct _TTF_Font TTF_Font;

namespace platform {

class SdlImage;  // the images the targets decode

// A span of flat colour owed to one row of an off-screen frame: the pixels [first, end) are to be
// `colour` (0xAARRGGBB) but have not been written yet.
struct OwedRun {
    int32_t first, end;
    uint32_t colour;
};

// The font files the text of every target uses. Looked up once per process.
struct FontFiles {
    std::string regular;
    int regularIndex = 0;
    std::string bold;
    int boldIndex = 0;
    bool boldIsSynthetic = false;  // no bold face: the regular face is emboldened
};
[[nodiscard]] const FontFiles& SystemFontFiles();

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
    [[nodiscard]] size_t CachedTextCount() const { return textCache_.size(); }

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
    void DrawStraightInto(SDL_Surface* surface) { direct_ = surface; }
    // Shapes and images go through the renderer even when a surface is set (for comparisons).
    void UseRenderer(bool always);
    // Fills are owed and written late (true, the default) or written at once (for comparisons).
    void DeferFills(bool on);
    // Writes every owed fill into the surface; the frame's pixels are then all in place.
    void SettleFills();

    SDL_Renderer* renderer_ = nullptr;

  private:
    struct TextLine {
        SDL_Texture* texture = nullptr;  // white on transparent; null for an empty line
        int width = 0;
        int height = 0;
    };
    struct TextEntry {
        std::vector<TextLine> lines;
        std::vector<std::string> text;  // what each line reads
        int lineSkip = 0;
        int fontHeight = 0;
        uint64_t lastUsedFrame = 0;
    };
    struct FontSlot {
        int pixelSize;
        bool bold;
        TTF_Font* font;  // null when the face could not be opened; not retried
    };

    // The pixels drawn straight into, with the renderer's queued drawing carried out first so
    // that the two kinds of drawing land in the order they were asked for.
    struct Canvas {
        uint32_t* pixels = nullptr;
        int width = 0;
        int height = 0;
        ptrdiff_t stride = 0;  // pixels from one row to the next
    };
    [[nodiscard]] bool Direct() const { return direct_ != nullptr && !rendererOnly_; }
    Canvas OpenCanvas();
    void SetColour(ColourF colour);
    void FillPixels(float left, float top, float right, float bottom);  // by the pixel-centre rule
    // The pixels [left, right) x [top, bottom), clipped to the canvas, in SetColour's colour.
    void FillBlock(const Canvas& canvas, int left, int top, int right, int bottom);
    using Run = OwedRun;
    [[nodiscard]] bool Deferring() const { return deferFills_ && Direct(); }
    // Marks row y as possibly holding owed runs.
    void NoteOwed(int y) {
        owedTop_ = std::min(owedTop_, y);
        owedBottom_ = std::max(owedBottom_, y + 1);
    }
    [[nodiscard]] bool Owes(int y) const {
        return y >= owedTop_ && y < owedBottom_ && !owed_[static_cast<size_t>(y)].empty();
    }
    // Writes the owed pixels of row y in [left, right) and forgets them.
    void SettleSpan(const Canvas& canvas, int y, int left, int right);
    // Everything owed inside the box [left, right) x [top, bottom), clipped to the canvas.
    void SettleBox(const Canvas& canvas, int left, int top, int right, int bottom);
    // One piece of an image: the whole source pixels `src` stretched over `out`.
    void CopyPiece(const SdlImage& image, const SDL_Rect& src, const SDL_Rect& out, uint8_t alpha);

    // The columns src.x .. src.x + src.w of every row of an image, stretched to `outWidth` pixels,
    // with the opacity applied and each pixel's colour already multiplied by its alpha, so that
    // drawing a row of it is a copy or a two-term blend of contiguous pixels. Pieces of artwork
    // are drawn at a handful of widths frame after frame (keys, octaves, note sprites whose
    // lengths vary only in height), so a strip is made once and reused.
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
    const Strip* StripFor(const SdlImage& image, const SDL_Rect& src, int outWidth, uint8_t alpha);
    void EvictOldStrips();
    TTF_Font* Font(const TextFormat& format);
    const TextEntry* LayOut(const std::string& text, const TextFormat& format, const RectF& r,
                            TTF_Font* font);
    void EvictOldText();
    static void DestroyEntry(TextEntry& entry);

    int width_;
    int height_;
    bool ttfStarted_ = false;
    std::shared_ptr<int> alive_;  // images hold a weak pointer: their textures die with the renderer
    std::vector<FontSlot> fonts_;
    std::unordered_map<std::string, TextEntry> textCache_;
    std::vector<SDL_Rect> spanBuffer_;  // rows of a slanted line, kept to reuse its memory
    std::string keyBuffer_;             // reused for every lookup so that a cached label allocates nothing
    uint64_t frameNumber_ = 0;

    SDL_Surface* direct_ = nullptr;  // drawn into straight; null when everything goes through the renderer
    bool rendererOnly_ = false;
    bool rendererPending_ = false;        // the renderer has queued drawing not yet carried out
    uint32_t fillColour_ = 0;             // the colour of SetColour as 0xAARRGGBB
    std::vector<int32_t> sourceColumns_;  // per destination column of an image piece; kept to reuse
    bool deferFills_ = true;
    std::unordered_map<StripKey, Strip, StripKeyHash> strips_;
    size_t stripPixels_ = 0;                    // held by all strips together
    std::vector<std::vector<Run>> owed_;        // per row of the canvas: sorted, disjoint runs
    int owedTop_ = INT32_MAX, owedBottom_ = 0;  // the rows that may hold runs
    std::vector<Run> runScratch_;               // the new runs of one row while it is rewritten
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
