// A render target that draws nothing and records every call with its arguments, so that the
// panels' geometry can be checked exactly without a display. Its images are fakes of a chosen
// size: FakeImages() stands in for the embedded artwork and gives each image number its size.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics.h"
#include "resources/images.h"

namespace viewtest {

struct FakeImage : platform::Image {
    FakeImage(int imageId, int w, int h) : id(imageId), width(w), height(h) {}
    int id, width, height;
    [[nodiscard]] int Width() const override { return width; }
    [[nodiscard]] int Height() const override { return height; }
};

enum class Op { Clear, Fill, Line, Outline, Image, Text };

struct Call {
    Op op = Op::Clear;
    RectF rect;    // fill and outline rectangle, image destination, text rectangle; a line's x0, y0, x1, y1
    RectF source;  // image source
    ColourF colour{0, 0, 0, 0};
    float width = 0;    // stroke width
    float opacity = 0;  // image opacity
    int imageId = -1;   // the fake's number; -1 for a decoded real PNG
    std::string text;
    platform::TextFormat format;
};

class RecordingTarget : public platform::RenderTarget {
  public:
    RecordingTarget(int w = 1536, int h = 832) : width_(w), height_(h) {}

    std::vector<Call> calls;
    // Text measures this many units a character at any size; 0 measures nothing, as a target with
    // no text layer of its own does.
    float charWidth = 0;

    [[nodiscard]] int Width() const override { return width_; }
    [[nodiscard]] int Height() const override { return height_; }
    void BeginDraw() override {}
    void EndDraw() override {}
    void Clear(ColourF c) override { Record(Op::Clear, {}, c); }
    void FillRect(const RectF& r, ColourF c) override { Record(Op::Fill, r, c); }
    void DrawLine(float x0, float y0, float x1, float y1, ColourF c, float w) override {
        Record(Op::Line, {x0, y0, x1, y1}, c).width = w;
    }
    void DrawRect(const RectF& r, ColourF c, float w) override { Record(Op::Outline, r, c).width = w; }
    void DrawImage(const platform::Image& image, const RectF& dest, const RectF& source,
                   float opacity) override {
        const auto* fake = dynamic_cast<const FakeImage*>(&image);
        Call& call = Record(Op::Image, dest, {});
        call.source = source;
        call.opacity = opacity;
        call.imageId = fake != nullptr ? fake->id : -1;
    }
    float TextWidth(const std::string& text, const platform::TextFormat&) override {
        return charWidth * static_cast<float>(text.size());
    }
    void DrawText(const std::string& text, const platform::TextFormat& format, const RectF& r,
                  ColourF c) override {
        Call& call = Record(Op::Text, r, c);
        call.text = text;
        call.format = format;
    }

    // Fake image bytes are "FAKE", then the number, width and height as 16-bit values; a real PNG
    // gives an image of its header's size.
    std::unique_ptr<platform::Image> DecodePng(const uint8_t* data, size_t size) override {
        if (size >= 10 && std::memcmp(data, "FAKE", 4) == 0) {
            return std::make_unique<FakeImage>(U16(data + 4), U16(data + 6), U16(data + 8));
        }
        static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        if (size >= 24 && std::memcmp(data, kPng, 8) == 0) {
            return std::make_unique<FakeImage>(-1, static_cast<int>(U32(data + 16)),
                                               static_cast<int>(U32(data + 20)));
        }
        return nullptr;
    }

    [[nodiscard]] std::vector<Call> Where(const std::function<bool(const Call&)>& keep) const {
        std::vector<Call> out;
        for (const Call& c : calls) {
            if (keep(c)) out.push_back(c);
        }
        return out;
    }
    [[nodiscard]] std::vector<Call> Images(int id) const {
        return Where([id](const Call& c) { return c.op == Op::Image && c.imageId == id; });
    }
    [[nodiscard]] std::vector<Call> Texts() const {
        return Where([](const Call& c) { return c.op == Op::Text; });
    }

  private:
    Call& Record(Op op, const RectF& r, ColourF c) {
        Call& call = calls.emplace_back();
        call.op = op;
        call.rect = r;
        call.colour = c;
        return call;
    }
    static int U16(const uint8_t* p) { return p[0] << 8 | p[1]; }
    static uint32_t U32(const uint8_t* p) {
        return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
               static_cast<uint32_t>(p[2]) << 8 | p[3];
    }
    int width_, height_;
};

// The size of each of the program's images, as the artwork has them.
inline void ImageSize(int id, int& w, int& h) {
    if (id >= res::kFirstVoiceImage) {
        const int slot = (id - res::kFirstVoiceImage) % res::VoiceImageSlots;
        w = slot == res::VoiceLitWhiteKeys || slot == res::VoiceLitBlackKeys ? 609 : 96;
        h = slot == res::VoiceLitWhiteKeys ? 492 : slot == res::VoiceLitBlackKeys ? 341 : 96;
        return;
    }
    switch (id) {
        case 134:
            w = 174, h = 491;
            break;
        case 140:
            w = 87, h = 492;
            break;
        case 136:
        case 137:
        case 138:
        case 139:
        case 142:
            w = 609, h = 492;
            break;
        case 145:
            w = 174, h = 50;
            break;
        default:
            w = 96, h = 96;
            break;
    }
}

// Stands in for the embedded images: fake bytes for every number the program draws.
inline res::EmbeddedFile FakeImages(int id) {
    static std::map<int, std::vector<uint8_t>> store;
    std::vector<uint8_t>& bytes = store[id];
    if (bytes.empty()) {
        int w = 0, h = 0;
        ImageSize(id, w, h);
        bytes = {'F',
                 'A',
                 'K',
                 'E',
                 static_cast<uint8_t>(id >> 8),
                 static_cast<uint8_t>(id),
                 static_cast<uint8_t>(w >> 8),
                 static_cast<uint8_t>(w),
                 static_cast<uint8_t>(h >> 8),
                 static_cast<uint8_t>(h)};
    }
    return {bytes.data(), bytes.size()};
}

}  // namespace viewtest
