// Contents: pixel snapping; SdlRenderTarget (set-up, shapes, images, text, read-back);
// OffscreenRenderTarget. The window's target is in graphics_window.cpp.
#include "platform/graphics_sdl.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/sdl_image.h"

namespace platform {

// --- Pixel snapping ---

namespace {

// Far beyond any target, but small enough that the conversion to int is always defined.
constexpr float kCoordinateLimit = 1.0e7f;

// The first pixel whose centre lies at or after the edge: centres are at i + 0.5.
int PixelEdge(float edge) {
    if (!(edge > -kCoordinateLimit)) return static_cast<int>(-kCoordinateLimit);
    if (edge > kCoordinateLimit) return static_cast<int>(kCoordinateLimit);
    return static_cast<int>(std::ceil(edge - 0.5f));
}

struct PixelSpan {
    int first, end;  // [first, end)
};

// An edge that is not a number covers nothing; infinite edges reach as far as any target.
PixelSpan Span(float from, float to) {
    if (std::isnan(from) || std::isnan(to)) return {0, 0};
    return {PixelEdge(from), PixelEdge(to)};
}

Uint8 Channel(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 255;
    return static_cast<Uint8>(std::lround(value * 255.0f));
}

// Cut points of the source range [from, to) that leave whole pixels between them: from, the first
// whole-pixel edge after it, the last one before `to`, and `to`, without repeats. Returns the
// number of pieces (cuts - 1).
int Cuts(float from, float to, float cuts[4]) {
    int n = 0;
    cuts[n++] = from;
    const float firstEdge = std::ceil(from);
    const float lastEdge = std::floor(to);
    if (firstEdge > from && firstEdge < to) cuts[n++] = firstEdge;
    if (lastEdge > cuts[n - 1] && lastEdge < to) cuts[n++] = lastEdge;
    cuts[n++] = to;
    return n - 1;
}

}  // namespace

// --- SdlRenderTarget ---

SdlRenderTarget::SdlRenderTarget(int pixelWidth, int pixelHeight)
    : pixelWidth_(pixelWidth), pixelHeight_(pixelHeight) {}

void SdlRenderTarget::SetScale(float scale) {
    // Far below any legible size, and far above any screen: beyond these a design unit is no
    // longer a sensible thing to lay out in.
    if (!(scale >= 1.0f / 64.0f) || !(scale <= 64.0f)) return;
    scale_ = scale;
}

SdlRenderTarget::~SdlRenderTarget() {
    Release();
}

bool SdlRenderTarget::Attach(SDL_Renderer* renderer) {
    renderer_ = renderer;
    alive_ = std::make_shared<int>(0);
    return text_.Start(renderer);
}

void SdlRenderTarget::Release() {
    text_.Release();
    alive_.reset();
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    renderer_ = nullptr;
}

void SdlRenderTarget::StartFrame() {
    text_.StartFrame();
    raster_.StartFrame();
}

void SdlRenderTarget::DrawStraightInto(SDL_Surface* surface) {
    direct_ = surface;
    // A plain surface in memory never needs locking; one that did would be unlocked the moment
    // it was opened, so it is not drawn into at all.
    if (surface == nullptr || SDL_MUSTLOCK(surface) || surface->pixels == nullptr) {
        raster_.SetCanvas({});
        return;
    }
    raster_.SetCanvas({static_cast<uint32_t*>(surface->pixels), surface->w, surface->h, surface->pitch / 4});
}

Rasteriser& SdlRenderTarget::Raster() {
    if (rendererPending_) {
        SDL_RenderFlush(renderer_);
        rendererPending_ = false;
    }
    return raster_;
}

void SdlRenderTarget::SettleFills() {
    Raster().SettleAll();
}

void SdlRenderTarget::SetColour(ColourF colour) {
    const Uint8 r = Channel(colour.r), g = Channel(colour.g), b = Channel(colour.b), a = Channel(colour.a);
    fillColour_ =
        static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
    if (Direct()) return;
    SDL_SetRenderDrawColor(renderer_, r, g, b, a);
    SDL_SetRenderDrawBlendMode(renderer_, colour.a >= 1.0f ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND);
}

void SdlRenderTarget::UseRenderer(bool always) {
    SettleFills();
    rendererOnly_ = always;
}

void SdlRenderTarget::DeferFills(bool on) {
    SettleFills();
    raster_.DeferFills(on);
}

void SdlRenderTarget::FillPixels(float left, float top, float right, float bottom) {
    const PixelSpan x = Span(left, right);
    const PixelSpan y = Span(top, bottom);
    if (x.end <= x.first || y.end <= y.first) return;
    if (Direct()) {
        Raster().Fill(x.first, y.first, x.end, y.end, fillColour_);
        return;
    }
    const SDL_Rect rect{x.first, y.first, x.end - x.first, y.end - y.first};
    SDL_RenderFillRect(renderer_, &rect);
    rendererPending_ = true;
}

void SdlRenderTarget::Clear(ColourF colour) {
    if (renderer_ == nullptr) return;
    if (Direct()) {
        // Every pixel takes the colour, its alpha included: a clear does not blend.
        SetColour(colour);
        Raster().Clear(fillColour_);
        return;
    }
    SDL_SetRenderDrawColor(renderer_, Channel(colour.r), Channel(colour.g), Channel(colour.b),
                           Channel(colour.a));
    SDL_RenderClear(renderer_);
    rendererPending_ = true;
}

void SdlRenderTarget::FillRect(const RectF& r, ColourF colour) {
    if (renderer_ == nullptr || colour.a <= 0.0f) return;
    SetColour(colour);
    const RectF p = ToPixels(r);
    FillPixels(p.left, p.top, p.right, p.bottom);
}

void SdlRenderTarget::DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) {
    if (renderer_ == nullptr || colour.a <= 0.0f || !(width > 0.0f)) return;
    SetColour(colour);
    const float s = scale_;
    DrawPixelLine(x0 * s, y0 * s, x1 * s, y1 * s, width * s);
}

void SdlRenderTarget::DrawPixelLine(float x0, float y0, float x1, float y1, float width) {
    const float half = width / 2.0f;
    // The line is the rectangle `width` wide around the segment, with flat ends at the end points.
    // Most lines of the interface are upright or level and fill whole pixels that way.
    if (x0 == x1) {
        FillPixels(x0 - half, std::min(y0, y1), x0 + half, std::max(y0, y1));
        return;
    }
    if (y0 == y1) {
        FillPixels(std::min(x0, x1), y0 - half, std::max(x0, x1), y0 + half);
        return;
    }
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 0.0f) || !std::isfinite(length)) return;
    // A slanted line is filled row by row with the same pixel-centre rule as everything else, so
    // that it looks the same on every renderer.
    const float nx = -dy / length * half;
    const float ny = dx / length * half;
    const float px[4] = {x0 + nx, x1 + nx, x1 - nx, x0 - nx};
    const float py[4] = {y0 + ny, y1 + ny, y1 - ny, y0 - ny};
    const PixelSpan rows =
        Span(std::min({py[0], py[1], py[2], py[3]}), std::max({py[0], py[1], py[2], py[3]}));
    spanBuffer_.clear();
    for (int row = rows.first; row < rows.end; ++row) {
        const float yc = static_cast<float>(row) + 0.5f;
        float from = kCoordinateLimit, to = -kCoordinateLimit;
        for (int e = 0; e < 4; ++e) {
            const int f = (e + 1) % 4;
            if ((py[e] <= yc) == (py[f] <= yc)) continue;  // this edge does not cross the row's centre
            const float x = px[e] + (yc - py[e]) * (px[f] - px[e]) / (py[f] - py[e]);
            from = std::min(from, x);
            to = std::max(to, x);
        }
        const PixelSpan cols = Span(from, to);
        if (cols.end > cols.first) spanBuffer_.push_back({cols.first, row, cols.end - cols.first, 1});
    }
    if (spanBuffer_.empty()) return;
    if (Direct()) {
        Rasteriser& raster = Raster();
        for (const SDL_Rect& span : spanBuffer_)
            raster.Fill(span.x, span.y, span.x + span.w, span.y + 1, fillColour_);
        return;
    }
    SDL_RenderFillRects(renderer_, spanBuffer_.data(), static_cast<int>(spanBuffer_.size()));
    rendererPending_ = true;
}

void SdlRenderTarget::DrawRect(const RectF& rect, ColourF colour, float width) {
    if (renderer_ == nullptr || colour.a <= 0.0f || !(width > 0.0f)) return;
    SetColour(colour);
    const RectF r = ToPixels(rect);
    width *= scale_;
    const float h = width / 2.0f;
    // Four bands that meet without overlapping, so a translucent outline is even all round.
    if (r.bottom - r.top <= width || r.right - r.left <= width) {
        FillPixels(r.left - h, r.top - h, r.right + h, r.bottom + h);
        return;
    }
    FillPixels(r.left - h, r.top - h, r.right + h, r.top + h);
    FillPixels(r.left - h, r.bottom - h, r.right + h, r.bottom + h);
    FillPixels(r.left - h, r.top + h, r.left + h, r.bottom - h);
    FillPixels(r.right - h, r.top + h, r.right + h, r.bottom - h);
}

void SdlRenderTarget::DrawImage(const Image& image, const RectF& dest, const RectF& source, float opacity) {
    if (renderer_ == nullptr || !(opacity > 0.0f)) return;
    const auto* sdlImage = dynamic_cast<const SdlImage*>(&image);
    if (sdlImage == nullptr || !sdlImage->DrawableOn(this)) return;
    SDL_Texture* texture = sdlImage->TextureFor(this);
    const bool direct = Direct() && !sdlImage->Pixels().Empty();
    if (!direct && texture == nullptr) return;

    float sl = source.left, st = source.top, sr = source.right, sb = source.bottom;
    const RectF d = ToPixels(dest);
    float dl = d.left, dt = d.top, dr = d.right, db = d.bottom;
    if (!(sr > sl) || !(sb > st) || !(dr > dl) || !(db > dt)) return;
    const float scaleX = (dr - dl) / (sr - sl);
    const float scaleY = (db - dt) / (sb - st);
    if (!std::isfinite(scaleX) || !std::isfinite(scaleY)) return;

    // A source reaching past the image draws only the part that exists, where it would have been.
    const float iw = static_cast<float>(image.Width());
    const float ih = static_cast<float>(image.Height());
    if (sl < 0) {
        dl -= sl * scaleX;
        sl = 0;
    }
    if (st < 0) {
        dt -= st * scaleY;
        st = 0;
    }
    if (sr > iw) {
        dr -= (sr - iw) * scaleX;
        sr = iw;
    }
    if (sb > ih) {
        db -= (sb - ih) * scaleY;
        sb = ih;
    }
    if (!(sr > sl) || !(sb > st)) return;

    // SDL copies whole source pixels. A source with fractional edges is cut into at most three
    // pieces each way: the part of a partial first pixel, the whole pixels, the part of a partial
    // last pixel. Each piece is a whole-pixel source stretched over the destination pixels whose
    // centres map into it, so every destination pixel shows the source pixel under its centre.
    float cutsX[4], cutsY[4];
    const int piecesX = Cuts(sl, sr, cutsX);
    const int piecesY = Cuts(st, sb, cutsY);
    const Uint8 alpha = Channel(opacity);
    if (!direct) SDL_SetTextureAlphaMod(texture, alpha);
    for (int py = 0; py < piecesY; ++py) {
        const PixelSpan rows = Span(dt + (cutsY[py] - st) * scaleY, dt + (cutsY[py + 1] - st) * scaleY);
        if (rows.end <= rows.first) continue;
        const int srcTop = static_cast<int>(std::floor(cutsY[py]));
        const int srcBottom = static_cast<int>(std::ceil(cutsY[py + 1]));
        for (int px = 0; px < piecesX; ++px) {
            const PixelSpan cols = Span(dl + (cutsX[px] - sl) * scaleX, dl + (cutsX[px + 1] - sl) * scaleX);
            if (cols.end <= cols.first) continue;
            const int srcLeft = static_cast<int>(std::floor(cutsX[px]));
            const int srcRight = static_cast<int>(std::ceil(cutsX[px + 1]));
            const SDL_Rect src{srcLeft, srcTop, srcRight - srcLeft, srcBottom - srcTop};
            const SDL_Rect out{cols.first, rows.first, cols.end - cols.first, rows.end - rows.first};
            if (direct) {
                Raster().CopyPiece(sdlImage->Pixels(), {src.x, src.y, src.w, src.h},
                                   {out.x, out.y, out.w, out.h}, alpha);
            } else {
                SDL_RenderCopy(renderer_, texture, &src, &out);
                rendererPending_ = true;
            }
        }
    }
}

std::unique_ptr<Image> SdlRenderTarget::DecodePng(const uint8_t* data, size_t size) {
    return Decode(data, size, false);
}

std::unique_ptr<Image> SdlRenderTarget::DecodePicture(const uint8_t* data, size_t size) {
    return Decode(data, size, true);
}

std::unique_ptr<Image> SdlRenderTarget::ImageFromPixels(std::vector<uint32_t> argb, int width, int height) {
    if (!Direct() || width <= 0 || height <= 0 ||
        argb.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
        return nullptr;
    }
    auto image = std::make_unique<SdlImage>(nullptr, width, height, this, alive_);
    image->KeepPixels(std::move(argb));
    return image;
}

std::unique_ptr<Image> SdlRenderTarget::Decode(const uint8_t* data, size_t size, bool jpeg) {
    if (renderer_ == nullptr || data == nullptr || size == 0 || size > static_cast<size_t>(INT32_MAX)) {
        return nullptr;
    }
    SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
    if (rw == nullptr) return nullptr;
    SDL_Surface* loaded = IMG_isPNG(rw)           ? IMG_LoadPNG_RW(rw)
                          : jpeg && IMG_isJPG(rw) ? IMG_LoadJPG_RW(rw)
                                                  : nullptr;
    SDL_RWclose(rw);
    if (loaded == nullptr) return nullptr;
    // Whatever the file's layout, the image is kept as 32-bit ARGB, and the texture is made from
    // the same pixels, so that both ways of drawing it start from equal pixels.
    SDL_Surface* surface = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(loaded);
    if (surface == nullptr) return nullptr;
    // An image is held in one form only: the pixels for a target that draws images itself, a
    // texture for one that draws them through the renderer (large images would otherwise be held
    // twice, the renderer's copy never used).
    const bool keepPixels = Direct() && !SDL_MUSTLOCK(surface);
    SDL_Texture* texture = keepPixels ? nullptr : SDL_CreateTextureFromSurface(renderer_, surface);
    const int w = surface->w, h = surface->h;
    std::vector<uint32_t> pixels;
    if (keepPixels) {
        pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
        for (int y = 0; y < h; ++y) {
            std::memcpy(
                pixels.data() + static_cast<ptrdiff_t>(y) * w,
                static_cast<const uint8_t*>(surface->pixels) + static_cast<ptrdiff_t>(y) * surface->pitch,
                static_cast<size_t>(w) * 4);
        }
    }
    SDL_FreeSurface(surface);
    if (texture == nullptr && pixels.empty()) return nullptr;
    if (texture != nullptr) {
        SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
        SDL_SetTextureScaleMode(texture, SDL_ScaleModeNearest);
    }
    auto image = std::make_unique<SdlImage>(texture, w, h, this, alive_);
    if (!pixels.empty()) image->KeepPixels(std::move(pixels));
    return image;
}

// --- Text ---

void SdlRenderTarget::DrawText(const std::string& text, const TextFormat& designFormat, const RectF& rect,
                               ColourF colour) {
    if (renderer_ == nullptr || text.empty() || colour.a <= 0.0f) return;
    const TextFormat format = ToPixels(designFormat);
    const RectF r = ToPixels(rect);
    const TextCache::Block* entry = text_.LayOut(text, format, r);
    if (entry == nullptr || entry->lines.empty()) return;

    const int blockHeight =
        static_cast<int>(entry->lines.size() - 1) * entry->lineSkip + entry->lines.back().height;
    float y = r.top;
    if (format.music) {
        y -= static_cast<float>(entry->ascent);  // the top is the baseline
    } else if (format.centreVertically) {
        y += ((r.bottom - r.top) - static_cast<float>(blockHeight)) / 2.0f;
    }
    for (const TextCache::Line& line : entry->lines) {
        if (line.texture != nullptr && std::isfinite(y)) {
            float x = r.left;
            if (!format.music && format.align == TextAlign::Centre)
                x += ((r.right - r.left) - static_cast<float>(line.width)) / 2.0f;
            if (!format.music && format.align == TextAlign::Trailing)
                x = r.right - static_cast<float>(line.width);
            if (!std::isfinite(x)) break;
            // Each line starts on the whole pixel nearest to its exact place (halves round down).
            const SDL_Rect out{PixelEdge(x), PixelEdge(y), line.width, line.height};
            // Fills owed under the line are written first, or they would land on top of it. The
            // renderer's queue goes first so that nothing older lands on them either.
            if (raster_.OwesRows(out.y, out.y + out.h))
                Raster().Settle(out.x, out.y, out.x + out.w, out.y + out.h);
            SDL_SetTextureColorMod(line.texture, Channel(colour.r), Channel(colour.g), Channel(colour.b));
            SDL_SetTextureAlphaMod(line.texture, Channel(colour.a));
            SDL_RenderCopy(renderer_, line.texture, nullptr, &out);
            rendererPending_ = true;
        }
        y += static_cast<float>(entry->lineSkip);
    }
}

PixelBox SdlRenderTarget::TextBox(const std::string& text, const TextFormat& designFormat,
                                  const RectF& rect) {
    PixelBox box{0, 0, 0, 0};
    if (renderer_ == nullptr || text.empty()) return box;
    const TextFormat format = ToPixels(designFormat);
    const RectF r = ToPixels(rect);
    const TextCache::Block* entry = text_.LayOut(text, format, r);
    if (entry == nullptr || entry->lines.empty()) return box;
    // The same placement as DrawText; a line that cannot be placed covers the whole target.
    const int blockHeight =
        static_cast<int>(entry->lines.size() - 1) * entry->lineSkip + entry->lines.back().height;
    float y = r.top;
    if (format.music) {
        y -= static_cast<float>(entry->ascent);  // the top is the baseline
    } else if (format.centreVertically) {
        y += ((r.bottom - r.top) - static_cast<float>(blockHeight)) / 2.0f;
    }
    int left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    for (const TextCache::Line& line : entry->lines) {
        float x = r.left;
        if (!format.music && format.align == TextAlign::Centre)
            x += ((r.right - r.left) - static_cast<float>(line.width)) / 2.0f;
        if (!format.music && format.align == TextAlign::Trailing)
            x = r.right - static_cast<float>(line.width);
        if (!std::isfinite(x) || !std::isfinite(y)) return {0, 0, pixelWidth_, pixelHeight_};
        left = std::min(left, PixelEdge(x));
        top = std::min(top, PixelEdge(y));
        right = std::max(right, PixelEdge(x) + line.width);
        bottom = std::max(bottom, PixelEdge(y) + line.height);
        y += static_cast<float>(entry->lineSkip);
    }
    return {left, top, right - left, bottom - top};
}

void SdlRenderTarget::ClipTo(const PixelBox* box) {
    if (box == nullptr) {
        Raster().ClearClip();
        SDL_RenderSetClipRect(renderer_, nullptr);
        return;
    }
    Raster().SetClip(box->x, box->y, box->x + box->w, box->y + box->h);
    const SDL_Rect clip{box->x, box->y, box->w, box->h};
    SDL_RenderSetClipRect(renderer_, &clip);
    rendererPending_ = true;
}

std::vector<std::string> SdlRenderTarget::TextLines(const std::string& text, const TextFormat& format,
                                                    const RectF& r) {
    if (renderer_ == nullptr || text.empty()) return {};
    const TextCache::Block* block = text_.LayOut(text, ToPixels(format), ToPixels(r));
    if (block == nullptr) return {};
    return block->text;
}

int SdlRenderTarget::WrappedLineCount(const std::string& text, const TextFormat& format, float width) {
    TextFormat wrapped = format;
    wrapped.wrap = true;
    wrapped.ellipsis = false;  // then the rectangle's height plays no part
    return static_cast<int>(TextLines(text, wrapped, RectF{0, 0, width, 0}).size());
}

float SdlRenderTarget::TextWidth(const std::string& text, const TextFormat& format) {
    if (renderer_ == nullptr || text.empty()) return 0;
    return static_cast<float>(text_.Width(text, ToPixels(format))) / scale_;
}

// --- Read-back ---

std::vector<uint32_t> SdlRenderTarget::ReadPixels() {
    std::vector<uint32_t> pixels;
    if (renderer_ == nullptr) return pixels;
    SettleFills();
    pixels.resize(static_cast<size_t>(pixelWidth_) * static_cast<size_t>(pixelHeight_));
    SelectScene(true);
    const int result =
        SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(), pixelWidth_ * 4);
    SelectScene(false);
    if (result != 0) pixels.clear();
    return pixels;
}

bool SdlRenderTarget::SavePng(const std::string& path) {
    std::vector<uint32_t> pixels = ReadPixels();
    if (pixels.empty()) {
        std::fprintf(stderr, "%s: cannot read the frame back: %s\n", path.c_str(), SDL_GetError());
        return false;
    }
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), pixelWidth_, pixelHeight_, 32,
                                                              pixelWidth_ * 4, SDL_PIXELFORMAT_ARGB8888);
    const bool saved = surface != nullptr && IMG_SavePNG(surface, path.c_str()) == 0;
    if (!saved) std::fprintf(stderr, "%s: cannot save the frame: %s\n", path.c_str(), SDL_GetError());
    if (surface != nullptr) SDL_FreeSurface(surface);
    return saved;
}

// --- OffscreenRenderTarget ---

Made<OffscreenRenderTarget> OffscreenRenderTarget::Create(int width, int height) {
    auto fail = [&](const char* what) {
        return Made<OffscreenRenderTarget>::Not(FailureKind::TargetOpen,
                                                std::string(what) + ": " + SDL_GetError());
    };
    if (width <= 0 || height <= 0) return fail("an off-screen target needs a positive size");
    std::unique_ptr<OffscreenRenderTarget> target(new OffscreenRenderTarget(width, height));
    target->surface_ = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888);
    if (target->surface_ == nullptr) return fail("cannot create the surface");
    SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(target->surface_);
    if (renderer == nullptr) return fail("cannot create the software renderer");
    if (!target->Attach(renderer)) return fail("cannot start the font engine");
    target->DrawStraightInto(target->surface_);
    return Made<OffscreenRenderTarget>::Of(std::move(target));
}

OffscreenRenderTarget::~OffscreenRenderTarget() {
    Release();
    if (surface_ != nullptr) SDL_FreeSurface(surface_);
    surface_ = nullptr;
}

void OffscreenRenderTarget::BeginDraw() {
    StartFrame();
}

void OffscreenRenderTarget::EndDraw() {
    SDL_RenderFlush(renderer_);
    SettleFills();
}

const uint32_t* OffscreenRenderTarget::FramePixels() {
    if (surface_ == nullptr || SDL_MUSTLOCK(surface_) || surface_->pixels == nullptr ||
        surface_->pitch != surface_->w * 4) {
        return nullptr;
    }
    SDL_RenderFlush(renderer_);
    SettleFills();
    return static_cast<const uint32_t*>(surface_->pixels);
}

uint32_t OffscreenRenderTarget::PixelAt(int x, int y) {
    if (surface_ == nullptr || x < 0 || y < 0 || x >= PixelWidth() || y >= PixelHeight()) return 0;
    SDL_RenderFlush(renderer_);
    SettleFills();
    if (SDL_MUSTLOCK(surface_) && SDL_LockSurface(surface_) != 0) return 0;
    const auto* row =
        static_cast<const uint8_t*>(surface_->pixels) + static_cast<ptrdiff_t>(y) * surface_->pitch;
    uint32_t pixel = 0;
    std::memcpy(&pixel, row + static_cast<ptrdiff_t>(x) * 4, sizeof pixel);
    if (SDL_MUSTLOCK(surface_)) SDL_UnlockSurface(surface_);
    return pixel;
}

}  // namespace platform
