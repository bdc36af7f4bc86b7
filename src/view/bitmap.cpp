#include "view/bitmap.h"

#include <algorithm>

#include "view/graphics_device.h"

Bitmap Bitmap::LoadPng(int id, GraphicsDevice* device, ImageLookup lookup) {
    Bitmap bitmap;
    bitmap.device = device;
    if (device == nullptr || device->target == nullptr || lookup == nullptr) return bitmap;
    bitmap.file_ = lookup(id);
    return bitmap;
}

const platform::Image* Bitmap::Decoded() const {
    if (!decoded_) {
        decoded_ = true;
        if (file_.data != nullptr && file_.size > 0 && device != nullptr && device->target != nullptr)
            image_ = device->target->DecodePng(file_.data, file_.size);
    }
    return image_.get();
}

float Bitmap::ImageWidth() const {
    const platform::Image* image = Decoded();
    return image != nullptr ? static_cast<float>(image->Width()) : 0.0f;
}

float Bitmap::ImageHeight() const {
    const platform::Image* image = Decoded();
    return image != nullptr ? static_cast<float>(image->Height()) : 0.0f;
}

void Bitmap::Draw(float left, float top, float right, float bottom, float opacity) const {
    DrawPart({left, top, right, bottom}, {0, 0, ImageWidth(), ImageHeight()}, opacity);
}

void Bitmap::DrawPart(const RectF& destination, const RectF& source, float opacity) const {
    const platform::Image* image = Decoded();
    if (image == nullptr || device == nullptr || device->target == nullptr) return;
    // A destination without area shows nothing; an inverted one would show the image mirrored.
    if (!(destination.right > destination.left && destination.bottom > destination.top)) return;
    // A fading spark can take its level a step below zero; an opacity outside 0..1 means nothing
    // to the target, and NaN would reach it as garbage.
    const float a = opacity > 0.0f ? std::min(opacity, 1.0f) : 0.0f;
    device->target->DrawImage(*image, destination, source, a);
}

void Bitmap::DrawNoteSprite(RectF& r, float clipHeight, float opacity, float clipTop) const {
    const float w = r.right - r.left;
    r.left -= w;
    r.right += w;
    if (r.top > r.bottom) return;

    const float hc = clipHeight, t = clipTop;
    const float ws = ImageWidth();
    const float hs = ImageHeight();
    const float cap = kSpriteCapRows;

    // Top cap, cut at the band's top when the sprite is entering the notes area.
    if (r.top > t - cap && hc > r.top) {
        if (r.top >= t) {
            DrawPart({r.left, r.top, r.right, r.top + cap}, {0, 0, ws, cap}, opacity);
        } else {
            DrawPart({r.left, t, r.right, r.top + cap}, {0, t - r.top, ws, cap}, opacity);
        }
    }
    // Middle, stretched over the note's length and clipped to the band. A sprite shorter than its
    // two caps has no middle; drawing the inverted strip would mirror it over the caps.
    if (hc - cap > r.top && r.bottom > t + cap) {
        const RectF dest{r.left, std::max(t, r.top + cap), r.right, std::min(hc, r.bottom - cap)};
        if (dest.bottom > dest.top) DrawPart(dest, {0, cap + 1, ws, hs - (cap + 1)}, opacity);
    }
    // Bottom cap, cut at the band's top while only its end is in the band, or at the clip height.
    if (hc + cap > r.bottom) {
        if (hc > r.bottom && r.bottom >= t + cap) {
            DrawPart({r.left, r.bottom - cap, r.right, r.bottom}, {0, hs - cap, ws, hs}, opacity);
        } else if (r.bottom < t + cap) {
            if (r.bottom > t)
                DrawPart({r.left, t, r.right, r.bottom}, {0, hs - (r.bottom - t), ws, hs}, opacity);
        } else {
            DrawPart({r.left, r.bottom - cap, r.right, hc}, {0, hs - cap, ws, hs - (r.bottom - hc)}, opacity);
        }
    }
}
