// Contents: creating the window's target; watching the window; recording a frame's calls;
// replaying and presenting them.
#include <SDL.h>

#include <algorithm>

#include "platform/graphics_sdl.h"
#include "platform/sdl_image.h"

namespace platform {

std::unique_ptr<WindowRenderTarget> WindowRenderTarget::Create(SDL_Window* window, int width, int height,
                                                               std::string* error) {
    auto fail = [&](const char* what) {
        if (error != nullptr) *error = std::string(what) + ": " + SDL_GetError();
        return nullptr;
    };
    if (window == nullptr || width <= 0 || height <= 0) return fail("no window to draw on");
    std::unique_ptr<WindowRenderTarget> target(new WindowRenderTarget(width, height));
    // No vertical sync: the frame loop paces itself and must not block in Present.
    SDL_Renderer* renderer =
        SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_TARGETTEXTURE);
    if (renderer == nullptr) {
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE | SDL_RENDERER_TARGETTEXTURE);
    }
    if (renderer == nullptr) return fail("cannot create a renderer");
    if (!target->Attach(renderer)) return fail("cannot start the font engine");
    target->scene_ =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET, width, height);
    if (target->scene_ == nullptr) return fail("cannot create the scene texture");
    // The scene is scaled only when the window no longer has its first size; smoothing then keeps
    // text legible instead of doubling some pixel rows and not others.
    SDL_SetTextureScaleMode(target->scene_, SDL_ScaleModeLinear);
    SDL_SetTextureBlendMode(target->scene_, SDL_BLENDMODE_NONE);
    target->windowId_ = SDL_GetWindowID(window);
    SDL_AddEventWatch(&WindowRenderTarget::WatchEvents, target.get());
    return target;
}

WindowRenderTarget::~WindowRenderTarget() {
    SDL_DelEventWatch(&WindowRenderTarget::WatchEvents, this);
    if (scene_ != nullptr) SDL_DestroyTexture(scene_);
    scene_ = nullptr;
    Release();
}

void WindowRenderTarget::SelectScene(bool scene) {
    SDL_SetRenderTarget(renderer_, scene ? scene_ : nullptr);
}

WindowRenderTarget::WindowRenderTarget(int width, int height) : SdlRenderTarget(width, height) {}

int WindowRenderTarget::WatchEvents(void* self, SDL_Event* event) {
    auto* target = static_cast<WindowRenderTarget*>(self);
    if (event->type == SDL_RENDER_TARGETS_RESET || event->type == SDL_RENDER_DEVICE_RESET) {
        target->sceneLost_ = true;
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

void WindowRenderTarget::BeginDraw() {
    StartFrame();
    commands_.clear();
    text_.clear();
}

void WindowRenderTarget::Clear(ColourF colour) {
    Command c;
    c.op = Command::Op::Clear;
    c.colour = colour;
    commands_.push_back(c);
}

void WindowRenderTarget::FillRect(const RectF& r, ColourF colour) {
    Command c;
    c.op = Command::Op::FillRect;
    c.v[0] = r.left, c.v[1] = r.top, c.v[2] = r.right, c.v[3] = r.bottom;
    c.colour = colour;
    commands_.push_back(c);
}

void WindowRenderTarget::DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) {
    Command c;
    c.op = Command::Op::DrawLine;
    c.v[0] = x0, c.v[1] = y0, c.v[2] = x1, c.v[3] = y1;
    c.colour = colour;
    c.width = width;
    commands_.push_back(c);
}

void WindowRenderTarget::DrawRect(const RectF& r, ColourF colour, float width) {
    Command c;
    c.op = Command::Op::DrawRect;
    c.v[0] = r.left, c.v[1] = r.top, c.v[2] = r.right, c.v[3] = r.bottom;
    c.colour = colour;
    c.width = width;
    commands_.push_back(c);
}

void WindowRenderTarget::DrawImage(const Image& image, const RectF& dest, const RectF& source,
                                   float opacity) {
    const auto* sdlImage = dynamic_cast<const SdlImage*>(&image);
    if (sdlImage == nullptr || sdlImage->TextureFor(this) == nullptr) return;
    Command c;
    c.op = Command::Op::DrawImage;
    c.v[0] = dest.left, c.v[1] = dest.top, c.v[2] = dest.right, c.v[3] = dest.bottom;
    c.v[4] = source.left, c.v[5] = source.top, c.v[6] = source.right, c.v[7] = source.bottom;
    c.width = opacity;
    c.image = &image;
    c.imageSerial = sdlImage->Serial();
    commands_.push_back(c);
}

void WindowRenderTarget::DrawText(const std::string& text, const TextFormat& format, const RectF& r,
                                  ColourF colour) {
    if (text.empty() || text.size() > UINT32_MAX - text_.size()) return;
    Command c;
    c.op = Command::Op::DrawText;
    c.v[0] = r.left, c.v[1] = r.top, c.v[2] = r.right, c.v[3] = r.bottom;
    c.colour = colour;
    c.format = format;
    c.textStart = static_cast<uint32_t>(text_.size());
    c.textLength = static_cast<uint32_t>(text.size());
    text_ += text;
    commands_.push_back(c);
}

void WindowRenderTarget::Replay() {
    SelectScene(true);
    for (const Command& c : commands_) {
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
                replayText_.assign(text_, c.textStart, c.textLength);
                SdlRenderTarget::DrawText(replayText_, c.format, r, c.colour);
                break;
        }
    }
}

void WindowRenderTarget::EndDraw() {
    const bool changed =
        !drawnOnce_ || sceneLost_.exchange(false) || commands_ != previous_ || text_ != previousText_;
    const bool repaint = repaint_.exchange(false);
    if (changed) Replay();
    if (changed || repaint) {
        SelectScene(false);
        SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        SDL_RenderClear(renderer_);
        SDL_RenderCopy(renderer_, scene_, nullptr, nullptr);
        SDL_RenderPresent(renderer_);
        ++framesPresented_;
    }
    drawnOnce_ = true;
    std::swap(commands_, previous_);
    std::swap(text_, previousText_);
}

}  // namespace platform
