// Contents: choosing how frames reach the window; creating the target; watching the window;
// recording a frame's calls and keeping groups of them; finding what differs; replaying; presenting.
#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/graphics_sdl.h"
#include "platform/sdl_image.h"

namespace platform {

namespace {

// Whether OpenGL here runs on a GPU: a context is made on a hidden window of its own and asked for
// its renderer's name. Mesa's software rasterisers (on a virtual display, in a container) are no
// GPU: drawing through them costs more than the direct path.
bool HasGpu() {
    const char* forced = std::getenv("DORVIK_PRESENT");
    if (forced != nullptr && std::strcmp(forced, "software") == 0) return false;
    // Without a render node there is no GPU to ask, and loading OpenGL would only cost memory.
    if (access("/dev/dri", F_OK) != 0) return false;
    SDL_Window* probe = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (probe == nullptr) return false;
    bool gpu = false;
    if (SDL_GLContext context = SDL_GL_CreateContext(probe)) {
        using GetString = const unsigned char* (*)(unsigned);
        constexpr unsigned kGlRenderer = 0x1F01;
        auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
        const unsigned char* name = getString != nullptr ? getString(kGlRenderer) : nullptr;
        if (name != nullptr) {
            const char* n = reinterpret_cast<const char*>(name);
            gpu = std::strstr(n, "llvmpipe") == nullptr && std::strstr(n, "softpipe") == nullptr &&
                  std::strstr(n, "Software") == nullptr && std::strstr(n, "swrast") == nullptr;
        }
        SDL_GL_DeleteContext(context);
    }
    SDL_DestroyWindow(probe);
    return gpu;
}

bool Debugging() {
    const char* debug = std::getenv("DORVIK_DEBUG");
    return debug != nullptr && *debug != '\0' && std::strcmp(debug, "0") != 0;
}

// Rows of a 32-bit surface whose red, green and blue lie where ARGB has them take the scene's
// rows as they are: the display ignores the top byte.
bool TakesArgbRows(const SDL_Surface* s) {
    return s->format->BytesPerPixel == 4 && s->format->Rmask == 0x00FF0000u &&
           s->format->Gmask == 0x0000FF00u && s->format->Bmask == 0x000000FFu;
}

void CopyBox(const SDL_Surface* from, SDL_Surface* to, const SDL_Rect& r) {
    for (int y = r.y; y < r.y + r.h; ++y) {
        std::memcpy(
            static_cast<uint8_t*>(to->pixels) + static_cast<ptrdiff_t>(y) * to->pitch + r.x * 4,
            static_cast<const uint8_t*>(from->pixels) + static_cast<ptrdiff_t>(y) * from->pitch + r.x * 4,
            static_cast<size_t>(r.w) * 4);
    }
}

}  // namespace

// --- Creating ---

namespace {

Failure SdlFailure(const char* what) {
    return Failure::Because(FailureKind::TargetOpen, std::string(what) + ": " + SDL_GetError());
}

}  // namespace

Made<WindowRenderTarget> WindowRenderTarget::Create(SDL_Window* window, int width, int height) {
    if (window == nullptr || width <= 0 || height <= 0) return {nullptr, SdlFailure("no window to draw on")};
    std::unique_ptr<WindowRenderTarget> target(new WindowRenderTarget(width, height));
    if (Failure failed = target->MakeScene(width, height); !failed.Ok()) return {nullptr, std::move(failed)};
    if (Failure failed = target->StartPresenting(window); !failed.Ok()) return {nullptr, std::move(failed)};
    target->windowId_ = SDL_GetWindowID(window);
    SDL_AddEventWatch(&WindowRenderTarget::WatchEvents, target.get());
    return Made<WindowRenderTarget>::Of(std::move(target));
}

Failure WindowRenderTarget::MakeScene(int width, int height) {
    auto fail = [](const char* what) { return SdlFailure(what); };
    SetPixelSize(width, height);
    scene_ = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888);
    if (scene_ == nullptr) return fail("cannot create the scene");
    SDL_SetSurfaceBlendMode(scene_, SDL_BLENDMODE_NONE);
    // The software renderer over the scene draws the text; everything else goes straight in.
    SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(scene_);
    if (renderer == nullptr) return fail("cannot create the software renderer");
    if (!Attach(renderer)) return fail("cannot start the font engine");
    DrawStraightInto(scene_);
    if (gpu_ != nullptr) {
        upload_ =
            SDL_CreateTexture(gpu_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
        if (upload_ == nullptr) return fail("cannot create the scene's texture");
        SDL_SetTextureBlendMode(upload_, SDL_BLENDMODE_NONE);
    }
    return Failure::None();
}

void WindowRenderTarget::FreeScene() {
    DrawStraightInto(nullptr);
    Release();  // the renderer draws into the scene, so it goes first
    if (upload_ != nullptr) SDL_DestroyTexture(upload_);
    upload_ = nullptr;
    if (scene_ != nullptr) SDL_FreeSurface(scene_);
    scene_ = nullptr;
    SetPixelSize(0, 0);
}

bool WindowRenderTarget::Resize(int pixelWidth, int pixelHeight, float scale) {
    SetScale(scale);
    if (scene_ != nullptr && pixelWidth == PixelWidth() && pixelHeight == PixelHeight()) return true;
    FreeScene();
    if (pixelWidth <= 0 || pixelHeight <= 0) return false;
    if (const Failure failed = MakeScene(pixelWidth, pixelHeight); !failed.Ok()) {
        std::fprintf(stderr, "dorvik-midi-player: %s\n", failed.text.c_str());
        FreeScene();
        return false;
    }
    drawnOnce_ = false;
    groups_.clear();  // their boxes are in the old scene's pixels
    previous_.commands.clear();
    previous_.text.clear();
    repaint_ = true;
    return true;
}

void WindowRenderTarget::SetScale(float scale) {
    const float was = Scale();
    SdlRenderTarget::SetScale(scale);
    // The last frame's calls no longer say which pixels they covered.
    if (Scale() != was) {
        drawnOnce_ = false;
        groups_.clear();
    }
}

Failure WindowRenderTarget::StartPresenting(SDL_Window* window) {
    window_ = window;
    if (HasGpu()) {
        // No vertical sync: the frame loop paces itself and must not block in Present.
        gpu_ = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
        if (gpu_ != nullptr) {
            upload_ = SDL_CreateTexture(gpu_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                        PixelWidth(), PixelHeight());
            if (upload_ == nullptr) {
                SDL_DestroyRenderer(gpu_);
                gpu_ = nullptr;
            } else {
                SDL_SetTextureBlendMode(upload_, SDL_BLENDMODE_NONE);
            }
        }
    }
    // Without a GPU, SDL would still put the window's surface on a texture of its OpenGL
    // renderer, which then runs on the processor; the display's own shared memory is cheaper.
    if (gpu_ == nullptr) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (gpu_ == nullptr && SDL_GetWindowSurface(window) == nullptr) {
        return SdlFailure("cannot draw on the window's surface");
    }
    if (Debugging()) {
        std::fprintf(stderr,
                     "dorvik-midi-player: frames drawn by the software rasteriser, shown through %s\n",
                     gpu_ != nullptr ? "the GPU renderer" : "the window's surface (no GPU)");
    }
    return Failure::None();
}

WindowRenderTarget::~WindowRenderTarget() {
    SDL_DelEventWatch(&WindowRenderTarget::WatchEvents, this);
    FreeScene();
    if (gpu_ != nullptr) SDL_DestroyRenderer(gpu_);
}

int WindowRenderTarget::WatchEvents(void* self, SDL_Event* event) {
    auto* target = static_cast<WindowRenderTarget*>(self);
    if (event->type == SDL_RENDER_TARGETS_RESET || event->type == SDL_RENDER_DEVICE_RESET) {
        target->repaint_ = true;
    } else if (event->type == SDL_WINDOWEVENT && event->window.windowID == target->windowId_) {
        switch (event->window.event) {
            case SDL_WINDOWEVENT_SHOWN:
            case SDL_WINDOWEVENT_EXPOSED:
            case SDL_WINDOWEVENT_RESIZED:
            case SDL_WINDOWEVENT_SIZE_CHANGED:
            case SDL_WINDOWEVENT_MAXIMIZED:
            case SDL_WINDOWEVENT_RESTORED:
                target->repaint_ = true;
                break;
            default:
                break;
        }
    }
    return 0;
}

// --- Recording ---

void WindowRenderTarget::BeginDraw() {
    StartFrame();
    // This frame is compared with the last one: only the groups that one used are still needed.
    groups_.erase(std::remove_if(groups_.begin(), groups_.end(),
                                 [&](const Group& g) { return g.lastFrame < frameNumber_; }),
                  groups_.end());
    ++frameNumber_;
    frame_.commands.clear();
    frame_.text.clear();
    groupDepth_ = 0;
    recordingGroup_ = false;
}

const WindowRenderTarget::Group* WindowRenderTarget::FindGroup(uint64_t key) const {
    for (const Group& g : groups_) {
        if (g.key == key) return &g;
    }
    return nullptr;
}

void WindowRenderTarget::AddGroupCall(uint64_t key) {
    Command c;
    c.op = Command::Op::Group;
    c.imageSerial = key;
    frame_.commands.push_back(c);
}

bool WindowRenderTarget::BeginGroup(uint64_t key) {
    if (groupDepth_++ > 0) return true;
    for (Group& g : groups_) {
        if (g.key != key) continue;
        g.lastFrame = frameNumber_;
        AddGroupCall(key);
        return false;
    }
    recordingGroup_ = true;
    groupKey_ = key;
    groupStart_ = frame_.commands.size();
    groupTextStart_ = frame_.text.size();
    return true;
}

void WindowRenderTarget::EndGroup() {
    if (groupDepth_ == 0 || --groupDepth_ > 0 || !recordingGroup_) return;
    recordingGroup_ = false;
    // The group's calls move out of the frame into the group, which takes their place.
    Group g;
    g.key = groupKey_;
    g.lastFrame = frameNumber_;
    const auto start = frame_.commands.begin() + static_cast<ptrdiff_t>(groupStart_);
    g.calls.commands.assign(start, frame_.commands.end());
    g.calls.text.assign(frame_.text, groupTextStart_);
    frame_.commands.erase(start, frame_.commands.end());
    frame_.text.resize(groupTextStart_);
    bool any = false;
    for (Command& c : g.calls.commands) {
        c.textStart -= static_cast<uint32_t>(groupTextStart_);
        const PixelBox b = BoxOf(c, g.calls.text);
        if (b.w <= 0 || b.h <= 0) continue;
        const int32_t l = any ? std::min(g.box.x, b.x) : b.x, t = any ? std::min(g.box.y, b.y) : b.y;
        const int32_t r = any ? std::max(g.box.x + g.box.w, b.x + b.w) : b.x + b.w;
        const int32_t d = any ? std::max(g.box.y + g.box.h, b.y + b.h) : b.y + b.h;
        g.box = {l, t, r - l, d - t};
        any = true;
    }
    groups_.push_back(std::move(g));
    AddGroupCall(groupKey_);
}

void WindowRenderTarget::Clear(ColourF colour) {
    Command c;
    c.op = Command::Op::Clear;
    c.colour = colour;
    frame_.commands.push_back(c);
}

void WindowRenderTarget::FillRect(const RectF& r, ColourF colour) {
    Command c;
    c.op = Command::Op::FillRect;
    c.v[0] = r.left, c.v[1] = r.top, c.v[2] = r.right, c.v[3] = r.bottom;
    c.colour = colour;
    frame_.commands.push_back(c);
}

void WindowRenderTarget::DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) {
    Command c;
    c.op = Command::Op::DrawLine;
    c.v[0] = x0, c.v[1] = y0, c.v[2] = x1, c.v[3] = y1;
    c.colour = colour;
    c.width = width;
    frame_.commands.push_back(c);
}

void WindowRenderTarget::DrawRect(const RectF& r, ColourF colour, float width) {
    Command c;
    c.op = Command::Op::DrawRect;
    c.v[0] = r.left, c.v[1] = r.top, c.v[2] = r.right, c.v[3] = r.bottom;
    c.colour = colour;
    c.width = width;
    frame_.commands.push_back(c);
}

void WindowRenderTarget::DrawImage(const Image& image, const RectF& dest, const RectF& source,
                                   float opacity) {
    const auto* sdlImage = dynamic_cast<const SdlImage*>(&image);
    if (sdlImage == nullptr || !sdlImage->DrawableOn(this)) return;
    Command c;
    c.op = Command::Op::DrawImage;
    c.v[0] = dest.left, c.v[1] = dest.top, c.v[2] = dest.right, c.v[3] = dest.bottom;
    c.v[4] = source.left, c.v[5] = source.top, c.v[6] = source.right, c.v[7] = source.bottom;
    c.width = opacity;
    c.image = &image;
    c.imageSerial = sdlImage->Serial();
    frame_.commands.push_back(c);
}

void WindowRenderTarget::DrawText(const std::string& text, const TextFormat& format, const RectF& r,
                                  ColourF colour) {
    if (text.empty() || text.size() > UINT32_MAX - frame_.text.size()) return;
    Command c;
    c.op = Command::Op::DrawText;
    c.v[0] = r.left, c.v[1] = r.top, c.v[2] = r.right, c.v[3] = r.bottom;
    c.colour = colour;
    c.format = format;
    c.textStart = static_cast<uint32_t>(frame_.text.size());
    c.textLength = static_cast<uint32_t>(text.size());
    frame_.text += text;
    frame_.commands.push_back(c);
}

// --- What differs ---

bool WindowRenderTarget::Same(const Command& a, const std::string& textA, const Command& b,
                              const std::string& textB) {
    for (int i = 0; i < 8; ++i) {
        if (a.v[i] != b.v[i]) return false;
    }
    const TextFormat &f = a.format, &g = b.format;
    return a.op == b.op && a.colour.r == b.colour.r && a.colour.g == b.colour.g && a.colour.b == b.colour.b &&
           a.colour.a == b.colour.a && a.width == b.width && a.image == b.image &&
           a.imageSerial == b.imageSerial && f.size == g.size && f.weight == g.weight && f.align == g.align &&
           f.centreVertically == g.centreVertically && f.wrap == g.wrap && f.ellipsis == g.ellipsis &&
           f.music == g.music && a.textLength == b.textLength &&
           textA.compare(a.textStart, a.textLength, textB, b.textStart, b.textLength) == 0;
}

PixelBox WindowRenderTarget::BoxOf(const Command& c, const std::string& text) {
    const PixelBox whole{0, 0, PixelWidth(), PixelHeight()};
    float l = c.v[0], t = c.v[1], r = c.v[2], b = c.v[3];
    switch (c.op) {
        case Command::Op::Clear:
            return whole;
        case Command::Op::Group: {
            const Group* g = FindGroup(c.imageSerial);
            return g != nullptr ? g->box : whole;
        }
        case Command::Op::DrawText:
            replayText_.assign(text, c.textStart, c.textLength);
            return TextBox(replayText_, c.format, {l, t, r, b});
        case Command::Op::DrawLine:
        case Command::Op::DrawRect: {
            const float half = std::abs(c.width) / 2.0f;
            l = std::min(c.v[0], c.v[2]) - half, r = std::max(c.v[0], c.v[2]) + half;
            t = std::min(c.v[1], c.v[3]) - half, b = std::max(c.v[1], c.v[3]) + half;
            break;
        }
        default:
            break;
    }
    const float s = Scale();
    l *= s, t *= s, r *= s, b *= s;
    if (!std::isfinite(l) || !std::isfinite(t) || !std::isfinite(r) || !std::isfinite(b)) return whole;
    // A pixel to spare on every side: the box need only be large enough, never exact.
    const float x0 = std::clamp(std::floor(l) - 1.0f, 0.0f, static_cast<float>(PixelWidth()));
    const float y0 = std::clamp(std::floor(t) - 1.0f, 0.0f, static_cast<float>(PixelHeight()));
    const float x1 = std::clamp(std::ceil(r) + 1.0f, x0, static_cast<float>(PixelWidth()));
    const float y1 = std::clamp(std::ceil(b) + 1.0f, y0, static_cast<float>(PixelHeight()));
    return {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
            static_cast<int32_t>(y1 - y0)};
}

namespace {

uint64_t Area(const PixelBox& b) {
    return static_cast<uint64_t>(b.w) * static_cast<uint64_t>(b.h);
}

PixelBox Union(const PixelBox& a, const PixelBox& b) {
    const int32_t l = std::min(a.x, b.x), t = std::min(a.y, b.y);
    const int32_t r = std::max(a.x + a.w, b.x + b.w), d = std::max(a.y + a.h, b.y + b.h);
    return {l, t, r - l, d - t};
}

bool Holds(const PixelBox& outer, const PixelBox& inner) {
    return outer.x <= inner.x && outer.y <= inner.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// The pixels two boxes joined into one cover beyond the two boxes themselves (negative when they
// overlap by more than the join adds).
int64_t Waste(const PixelBox& a, const PixelBox& b) {
    return static_cast<int64_t>(Area(Union(a, b))) - static_cast<int64_t>(Area(a)) -
           static_cast<int64_t>(Area(b));
}

// What one more box costs beyond its pixels, in pixels: each call of the frame is looked at
// again (one outside the box costs about as much as drawing this many pixels), and the clear and
// every wide fill crossing the box are taken up again row by row, which costs about as much as
// drawing this share of the frame.
constexpr uint64_t kPixelsPerCall = 16;
constexpr uint64_t kFrameSharePerPass = 24;  // 1/24

}  // namespace

void WindowRenderTarget::AddDirty(const PixelBox& box) {
    const int32_t x0 = std::max(box.x, 0), y0 = std::max(box.y, 0);
    const int32_t x1 = std::min(box.x + box.w, PixelWidth()), y1 = std::min(box.y + box.h, PixelHeight());
    if (x1 <= x0 || y1 <= y0) return;
    PixelBox add{x0, y0, x1 - x0, y1 - y0};
    for (const PixelBox& d : dirty_) {
        if (Holds(d, add)) return;
    }
    // Every box is one more pass over the frame's calls, so two boxes are joined whenever the
    // pixels the join adds cost less than that pass. The notes that move all over the view end
    // up as one box, while a still time bar under it stays out, with only its play position.
    const auto passCost = static_cast<int64_t>(boxCost_);
    for (bool joined = true; joined;) {
        joined = false;
        size_t best = dirty_.size();
        int64_t bestWaste = passCost;
        for (size_t i = 0; i < dirty_.size(); ++i) {
            const int64_t w = Waste(dirty_[i], add);
            if (w < bestWaste) bestWaste = w, best = i;
        }
        if (best < dirty_.size()) {
            add = Union(add, dirty_[best]);
            dirty_.erase(dirty_.begin() + static_cast<ptrdiff_t>(best));
            joined = true;
        }
    }
    dirty_.push_back(add);
    // Past a few boxes, the two that waste the least when joined are joined, whatever the cost.
    constexpr size_t kMostBoxes = 8;
    while (dirty_.size() > kMostBoxes) {
        size_t a = 0, b = 1;
        int64_t least = INT64_MAX;
        for (size_t i = 0; i < dirty_.size(); ++i) {
            for (size_t j = i + 1; j < dirty_.size(); ++j) {
                const int64_t w = Waste(dirty_[i], dirty_[j]);
                if (w < least) least = w, a = i, b = j;
            }
        }
        dirty_[a] = Union(dirty_[a], dirty_[b]);
        dirty_.erase(dirty_.begin() + static_cast<ptrdiff_t>(b));
    }
    dirtyArea_ = 0;
    for (const PixelBox& d : dirty_) dirtyArea_ += Area(d);
}

bool WindowRenderTarget::FindDirty() {
    dirty_.clear();
    dirtyArea_ = 0;
    const std::vector<Command>& was = previous_.commands;
    const std::vector<Command>& now = frame_.commands;
    const std::string &wasText = previous_.text, &nowText = frame_.text;
    // Drawing the boxes apart costs their pixels and a pass over the calls for each; once that
    // reaches the cost of the whole frame, the frame is drawn whole.
    const uint64_t whole = static_cast<uint64_t>(PixelWidth()) * static_cast<uint64_t>(PixelHeight());
    boxCost_ = whole / kFrameSharePerPass + static_cast<uint64_t>(now.size()) * kPixelsPerCall;
    auto enough = [&] { return dirtyArea_ + boxCost_ * dirty_.size() >= whole; };
    // How far ahead a call that moved is looked for: notes come and go at the top and the bottom of
    // the view, a few at a time.
    constexpr size_t kLookAhead = 48;
    size_t i = 0, j = 0;
    while (i < was.size() && j < now.size() && !enough()) {
        if (Same(was[i], wasText, now[j], nowText)) {
            ++i, ++j;
            continue;
        }
        size_t skipWas = 1, skipNow = 1;  // neither found again: both are dirty
        for (size_t k = 1; k <= kLookAhead; ++k) {
            if (j + k < now.size() && Same(was[i], wasText, now[j + k], nowText)) {
                skipWas = 0, skipNow = k;
                break;
            }
            if (i + k < was.size() && Same(was[i + k], wasText, now[j], nowText)) {
                skipWas = k, skipNow = 0;
                break;
            }
        }
        for (size_t k = 0; k < skipWas; ++k) AddDirty(BoxOf(was[i + k], wasText));
        for (size_t k = 0; k < skipNow; ++k) AddDirty(BoxOf(now[j + k], nowText));
        i += skipWas, j += skipNow;
    }
    for (; i < was.size() && !enough(); ++i) AddDirty(BoxOf(was[i], wasText));
    for (; j < now.size() && !enough(); ++j) AddDirty(BoxOf(now[j], nowText));
    return !enough();
}

// --- Replaying and presenting ---

void WindowRenderTarget::Replay(const Frame& calls, const PixelBox* box) {
    for (const Command& c : calls.commands) {
        // A shape or image wholly outside the box is passed over before any of the work of
        // drawing it: most of a frame's calls lie outside a box (the time bar's columns, say).
        if (box != nullptr && c.op != Command::Op::Clear && c.op != Command::Op::DrawText) {
            const PixelBox b = BoxOf(c, calls.text);
            if (b.x >= box->x + box->w || box->x >= b.x + b.w || b.y >= box->y + box->h ||
                box->y >= b.y + b.h)
                continue;
        }
        const RectF r{c.v[0], c.v[1], c.v[2], c.v[3]};
        switch (c.op) {
            case Command::Op::Clear:
                SdlRenderTarget::Clear(c.colour);
                break;
            case Command::Op::FillRect:
                SdlRenderTarget::FillRect(r, c.colour);
                break;
            case Command::Op::DrawLine:
                SdlRenderTarget::DrawLine(c.v[0], c.v[1], c.v[2], c.v[3], c.colour, c.width);
                break;
            case Command::Op::DrawRect:
                SdlRenderTarget::DrawRect(r, c.colour, c.width);
                break;
            case Command::Op::DrawImage:
                SdlRenderTarget::DrawImage(*c.image, r, {c.v[4], c.v[5], c.v[6], c.v[7]}, c.width);
                break;
            case Command::Op::DrawText:
                replayText_.assign(calls.text, c.textStart, c.textLength);
                SdlRenderTarget::DrawText(replayText_, c.format, r, c.colour);
                break;
            case Command::Op::Group:
                if (const Group* g = FindGroup(c.imageSerial)) Replay(g->calls, box);
                break;
        }
    }
}

void WindowRenderTarget::EndDraw() {
    if (scene_ == nullptr) return;  // a failed Resize: nothing to draw into
    const bool repaint = repaint_.exchange(false);
    bool whole = !drawnOnce_;
    if (!whole) whole = !FindDirty();
    if (whole || !dirty_.empty()) {
        if (whole) {
            ClipTo(nullptr);
            Replay(frame_, nullptr);
            lastRedrawn_ = static_cast<uint64_t>(PixelWidth()) * static_cast<uint64_t>(PixelHeight());
        } else {
            // The calls are carried out once per box, each limited to its box; outside them the
            // pixels are those of the last frame, which are what this frame would draw there.
            for (const PixelBox& box : dirty_) {
                ClipTo(&box);
                Replay(frame_, &box);
            }
            ClipTo(nullptr);
            lastRedrawn_ = dirtyArea_;
        }
        SettleFills();
        SDL_RenderFlush(renderer_);
    }
    if (whole || repaint || !dirty_.empty()) {
        Present(whole || repaint);
        ++framesPresented_;
    }
    drawnOnce_ = true;
    std::swap(frame_, previous_);
}

void WindowRenderTarget::PresentAgain() {
    if (!drawnOnce_ || !repaint_.exchange(false)) return;
    Present(true);
    ++framesPresented_;
}

void WindowRenderTarget::Present(bool whole) {
    if (gpu_ != nullptr) {
        PresentOnGpu(whole);
    } else {
        PresentOnSurface(whole);
    }
}

void WindowRenderTarget::PresentOnSurface(bool whole) {
    SDL_Surface* shown = SDL_GetWindowSurface(window_);
    if (shown == nullptr || SDL_MUSTLOCK(scene_)) return;
    const bool locked = SDL_MUSTLOCK(shown) && SDL_LockSurface(shown) == 0;
    if (SDL_MUSTLOCK(shown) && !locked) return;
    rects_.clear();
    if (whole) {
        rects_.push_back({0, 0, PixelWidth(), PixelHeight()});
    } else {
        for (const PixelBox& d : dirty_) rects_.push_back({d.x, d.y, d.w, d.h});
    }
    // Between a change of the window's size and the next Resize, the scene is shown at the top
    // left as far as it fits.
    const SDL_Rect fits{0, 0, std::min(shown->w, PixelWidth()), std::min(shown->h, PixelHeight())};
    for (SDL_Rect& r : rects_) {
        SDL_Rect part;
        if (!SDL_IntersectRect(&r, &fits, &part)) {
            r = {0, 0, 0, 0};
            continue;
        }
        r = part;
        if (TakesArgbRows(shown)) {
            CopyBox(scene_, shown, r);
        } else {
            SDL_Rect to = r;
            SDL_BlitSurface(scene_, &r, shown, &to);
        }
    }
    rects_.erase(std::remove_if(rects_.begin(), rects_.end(), [](const SDL_Rect& r) { return r.w <= 0; }),
                 rects_.end());
    if (locked) SDL_UnlockSurface(shown);
    if (!rects_.empty())
        SDL_UpdateWindowSurfaceRects(window_, rects_.data(), static_cast<int>(rects_.size()));
}

void WindowRenderTarget::PresentOnGpu(bool whole) {
    rects_.clear();
    if (whole) {
        rects_.push_back({0, 0, PixelWidth(), PixelHeight()});
    } else {
        for (const PixelBox& d : dirty_) rects_.push_back({d.x, d.y, d.w, d.h});
    }
    for (const SDL_Rect& r : rects_) {
        const auto* pixels = static_cast<const uint8_t*>(scene_->pixels) +
                             static_cast<ptrdiff_t>(r.y) * scene_->pitch + r.x * 4;
        SDL_UpdateTexture(upload_, &r, pixels, scene_->pitch);
    }
    SDL_SetRenderDrawColor(gpu_, 0, 0, 0, 255);
    SDL_RenderClear(gpu_);
    const SDL_Rect out{0, 0, PixelWidth(), PixelHeight()};
    SDL_RenderCopy(gpu_, upload_, nullptr, &out);
    SDL_RenderPresent(gpu_);
}

std::vector<uint32_t> WindowRenderTarget::ReadWindowPixels(int* width, int* height) {
    std::vector<uint32_t> pixels;
    int w = 0, h = 0;
    if (gpu_ != nullptr) {
        if (SDL_GetRendererOutputSize(gpu_, &w, &h) != 0) return pixels;
        pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
        if (SDL_RenderReadPixels(gpu_, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(), w * 4) != 0)
            pixels.clear();
    } else if (SDL_Surface* shown = SDL_GetWindowSurface(window_)) {
        w = shown->w, h = shown->h;
        pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
        if (SDL_ConvertPixels(w, h, shown->format->format, shown->pixels, shown->pitch,
                              SDL_PIXELFORMAT_ARGB8888, pixels.data(), w * 4) != 0) {
            pixels.clear();
        }
    }
    // The display keeps no alpha: every pixel it shows is opaque.
    for (uint32_t& p : pixels) p |= 0xFF000000u;
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    return pixels;
}

}  // namespace platform
