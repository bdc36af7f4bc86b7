// The images the SDL render targets decode: for a target that draws images itself, the pixels for
// the rasteriser; for one that draws them through its renderer, a texture of that renderer.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/graphics.h"
#include "platform/raster.h"

namespace platform {

class SdlRenderTarget;

class SdlImage final : public Image {
  public:
    SdlImage(SDL_Texture* texture, int width, int height, const SdlRenderTarget* owner,
             std::weak_ptr<int> alive)
        : texture_(texture),
          width_(width),
          height_(height),
          owner_(owner),
          alive_(std::move(alive)),
          pixels_(nextSerial_.fetch_add(1, std::memory_order_relaxed)) {}
    ~SdlImage() override {
        // Textures belong to their renderer; once it is gone, so is the texture.
        if (texture_ != nullptr && !alive_.expired()) SDL_DestroyTexture(texture_);
    }
    SdlImage(const SdlImage&) = delete;
    SdlImage& operator=(const SdlImage&) = delete;

    [[nodiscard]] int Width() const override { return width_; }
    [[nodiscard]] int Height() const override { return height_; }

    // The texture when the image has one and may be drawn on `target`, else null.
    [[nodiscard]] SDL_Texture* TextureFor(const SdlRenderTarget* target) const {
        return target == owner_ && !alive_.expired() ? texture_ : nullptr;
    }
    // Whether the image may be drawn on `target`: its texture is alive, or the target draws it
    // from the kept pixels (a target that made its renderer again keeps drawing its images).
    [[nodiscard]] bool DrawableOn(const SdlRenderTarget* target) const {
        return target == owner_ && ((texture_ != nullptr && !alive_.expired()) || !pixels_.Empty());
    }
    // Tells this image from one made later at the same address.
    [[nodiscard]] uint64_t Serial() const { return pixels_.Serial(); }

    // Keeps a copy of the pixels, 0xAARRGGBB row by row without padding.
    void KeepPixels(std::vector<uint32_t> argb) { pixels_.Keep(width_, height_, std::move(argb)); }
    // Empty unless the target draws the image itself.
    [[nodiscard]] const RasterImage& Pixels() const { return pixels_; }

  private:
    static inline std::atomic<uint64_t> nextSerial_{1};

    SDL_Texture* texture_;
    int width_;
    int height_;
    const SdlRenderTarget* owner_;
    std::weak_ptr<int> alive_;
    RasterImage pixels_;
};

}  // namespace platform
