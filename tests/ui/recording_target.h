// A render target that records what is drawn, for checking widget geometry and colours.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/graphics.h"

namespace testing_support {

class RecordingTarget : public platform::RenderTarget {
  public:
    struct Fill {
        RectF r;
        ColourF colour;
    };
    struct Line {
        float x0, y0, x1, y1;
        ColourF colour;
        float width;
    };
    struct Text {
        std::string text;
        platform::TextFormat format;
        RectF r;
        ColourF colour;
    };
    struct ImageDraw {
        int width, height;
        RectF dest, source;
        float opacity;
    };

    class FakeImage : public platform::Image {
      public:
        FakeImage(int w, int h) : w_(w), h_(h) {}
        int Width() const override { return w_; }
        int Height() const override { return h_; }

      private:
        int w_, h_;
    };

    int Width() const override { return 1536; }
    int Height() const override { return 832; }
    void BeginDraw() override {}
    void EndDraw() override {}
    void Clear(ColourF c) override { clears.push_back(c); }
    void FillRect(const RectF& r, ColourF c) override { fills.push_back({r, c}); }
    void DrawLine(float x0, float y0, float x1, float y1, ColourF c, float w) override {
        lines.push_back({x0, y0, x1, y1, c, w});
    }
    void DrawRect(const RectF& r, ColourF c, float) override { outlines.push_back({r, c}); }
    void DrawImage(const platform::Image& image, const RectF& dest, const RectF& source,
                   float opacity) override {
        images.push_back({image.Width(), image.Height(), dest, source, opacity});
    }
    void DrawText(const std::string& text, const platform::TextFormat& f, const RectF& r,
                  ColourF c) override {
        texts.push_back({text, f, r, c});
    }
    // Every PNG decodes to an image of the chosen size, so sprite geometry is testable without art.
    std::unique_ptr<platform::Image> DecodePng(const uint8_t*, size_t) override {
        return std::make_unique<FakeImage>(imageWidth, imageHeight);
    }

    void Reset() { *this = RecordingTarget{}; }

    int imageWidth = 96, imageHeight = 96;
    std::vector<ColourF> clears;
    std::vector<Fill> fills;
    std::vector<Line> lines;
    std::vector<Fill> outlines;
    std::vector<Text> texts;
    std::vector<ImageDraw> images;
};

inline bool SameColour(ColourF a, ColourF b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

}  // namespace testing_support
