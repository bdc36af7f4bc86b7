// The SDL drawing layer on its off-screen target: which pixels shapes cover, how images are
// sampled and blended, how text is placed, wrapped and trimmed, and that a frame survives a trip
// through a PNG file.
#include "platform/graphics_sdl.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>

namespace platform {
namespace {

constexpr ColourF kBlack{0, 0, 0, 1};
constexpr ColourF kWhite{1, 1, 1, 1};
constexpr uint32_t kOpaqueBlack = 0xFF000000u;

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("dorvik-gfx-" + std::to_string(getpid()) + "-" + name))
        .string();
}

std::unique_ptr<OffscreenRenderTarget> MakeTarget(int w, int h) {
    Made<OffscreenRenderTarget> made = OffscreenRenderTarget::Create(w, h);
    EXPECT_NE(made.value, nullptr) << made.failure.text;
    return std::move(made.value);
}

// The frame as rows of '#' (not black) and '.' (black), for messages that show the shape.
std::string Mask(OffscreenRenderTarget& target) {
    std::string rows;
    for (int y = 0; y < target.Height(); ++y) {
        for (int x = 0; x < target.Width(); ++x) rows += target.PixelAt(x, y) != kOpaqueBlack ? '#' : '.';
        rows += '\n';
    }
    return rows;
}

std::string Join(std::initializer_list<const char*> rows) {
    std::string s;
    for (const char* row : rows) s += std::string(row) + "\n";
    return s;
}

struct ShapeCase {
    const char* name;
    std::function<void(RenderTarget&)> draw;
    std::string expected;
};

TEST(OffscreenTarget, ShapesCoverThePixelsWhoseCentresLieInside) {
    const ShapeCase cases[] = {
        {"whole-pixel rectangle",
         [](RenderTarget& t) {
             t.FillRect({2, 1, 5, 3}, kWhite);
         },
         Join({"........", "..###...", "..###...", "........", "........", "........"})},
        {"fractional rectangle snaps by centres",
         [](RenderTarget& t) {
             t.FillRect({1.4f, 0.6f, 3.6f, 2.4f}, kWhite);
         },
         Join({"........", ".###....", "........", "........", "........", "........"})},
        {"empty rectangle",
         [](RenderTarget& t) {
             t.FillRect({3, 3, 3, 5}, kWhite);
         },
         Join({"........", "........", "........", "........", "........", "........"})},
        {"level line on a whole coordinate takes the row above",
         [](RenderTarget& t) { t.DrawLine(1, 2, 6, 2, kWhite, 1); },
         Join({"........", ".#####..", "........", "........", "........", "........"})},
        {"level line on a half coordinate", [](RenderTarget& t) { t.DrawLine(6, 2.5f, 1, 2.5f, kWhite, 1); },
         Join({"........", "........", ".#####..", "........", "........", "........"})},
        {"upright line of width 3", [](RenderTarget& t) { t.DrawLine(4.5f, 1, 4.5f, 5, kWhite, 3); },
         Join({"........", "...###..", "...###..", "...###..", "...###..", "........"})},
        {"zero width draws nothing", [](RenderTarget& t) { t.DrawLine(1, 1, 6, 1, kWhite, 0); },
         Join({"........", "........", "........", "........", "........", "........"})},
        {"outline is centred on the edges",
         [](RenderTarget& t) {
             t.DrawRect({1.5f, 1.5f, 6.5f, 4.5f}, kWhite, 1);
         },
         Join({"........", ".######.", ".#....#.", ".#....#.", ".######.", "........"})},
        {"thin rectangle outline becomes a bar",
         [](RenderTarget& t) {
             t.DrawRect({1, 2, 7, 3}, kWhite, 2);
         },
         Join({"........", "########", "########", "########", "........", "........"})},
    };
    auto target = MakeTarget(8, 6);
    ASSERT_NE(target, nullptr);
    for (const ShapeCase& c : cases) {
        target->BeginDraw();
        target->Clear(kBlack);
        c.draw(*target);
        target->EndDraw();
        EXPECT_EQ(Mask(*target), c.expected) << c.name;
    }
}

TEST(OffscreenTarget, ColoursAndTranslucency) {
    auto target = MakeTarget(4, 4);
    ASSERT_NE(target, nullptr);
    target->BeginDraw();
    target->Clear({16 / 255.0f, 32 / 255.0f, 64 / 255.0f, 1});
    target->FillRect({0, 0, 2, 4}, {1, 1, 1, 0.5f});  // half white over the clear colour
    target->FillRect({2, 2, 4, 4}, {0.8f, 0.2f, 0.4f, 1});
    target->EndDraw();
    EXPECT_EQ(target->PixelAt(3, 0), 0xFF102040u) << "clear colour";
    EXPECT_EQ(target->PixelAt(3, 3), 0xFFCC3366u) << "opaque fill replaces";
    const uint32_t blended = target->PixelAt(0, 0);
    EXPECT_NEAR(static_cast<int>((blended >> 16) & 0xFF), (16 + 255) / 2, 2) << std::hex << blended;
    EXPECT_NEAR(static_cast<int>(blended & 0xFF), (64 + 255) / 2, 2) << std::hex << blended;
}

TEST(OffscreenTarget, SlantedLineFollowsItsSegment) {
    auto target = MakeTarget(40, 40);
    ASSERT_NE(target, nullptr);
    target->BeginDraw();
    target->Clear(kBlack);
    target->DrawLine(5, 5, 35, 35, kWhite, 2);
    target->EndDraw();
    int covered = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            if (target->PixelAt(x, y) == kOpaqueBlack) continue;
            ++covered;
            EXPECT_LE(std::abs(x - y), 2) << "pixel (" << x << ", " << y << ") is off the segment";
        }
    }
    // Length 42.4 by width 2: about 85 pixels.
    EXPECT_GT(covered, 65);
    EXPECT_LT(covered, 105);
}

// PNG bytes of a w x h image whose pixels come from `colour(x, y)` (0xAARRGGBB).
std::vector<uint8_t> MakePng(int w, int h, const std::function<uint32_t(int, int)>& colour) {
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) + y * surface->pitch);
        for (int x = 0; x < w; ++x) row[x] = colour(x, y);
    }
    const std::string path = TempPath("image.png");
    EXPECT_EQ(IMG_SavePNG(surface, path.c_str()), 0) << IMG_GetError();
    SDL_FreeSurface(surface);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    return bytes;
}

// Four columns: red, green, blue, and white at half opacity; one row.
const uint32_t kStrip[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0x80FFFFFFu};

TEST(OffscreenTarget, ImagesAreSampledNearestNeighbour) {
    auto target = MakeTarget(12, 3);
    ASSERT_NE(target, nullptr);
    const std::vector<uint8_t> png = MakePng(4, 1, [](int x, int) { return kStrip[x]; });
    auto image = target->DecodePng(png.data(), png.size());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 4);
    EXPECT_EQ(image->Height(), 1);

    struct Case {
        const char* name;
        RectF dest, source;
        std::vector<uint32_t> row;  // expected first row, left to right
    };
    const Case cases[] = {
        {"three times wider",
         {0, 0, 9, 3},
         {0, 0, 3, 1},
         {kStrip[0], kStrip[0], kStrip[0], kStrip[1], kStrip[1], kStrip[1], kStrip[2], kStrip[2], kStrip[2],
          kOpaqueBlack}},
        {"part of the image",
         {0, 0, 4, 3},
         {1, 0, 3, 1},
         {kStrip[1], kStrip[1], kStrip[2], kStrip[2], kOpaqueBlack}},
        {"fractional source edges",
         {0, 0, 4, 3},
         {0.5f, 0, 2.5f, 1},
         {kStrip[0], kStrip[1], kStrip[1], kStrip[2], kOpaqueBlack}},
        {"source beyond the image is cut",
         {0, 0, 8, 3},
         {2, 0, 6, 1},
         {kStrip[2], kStrip[2], 0xFF808080u, 0xFF808080u, kOpaqueBlack}},
    };
    for (const Case& c : cases) {
        target->BeginDraw();
        target->Clear(kBlack);
        target->DrawImage(*image, c.dest, c.source, 1.0f);
        target->EndDraw();
        for (size_t x = 0; x < c.row.size(); ++x) {
            const uint32_t got = target->PixelAt(static_cast<int>(x), 1);
            const uint32_t want = c.row[x];
            // Blending a half-transparent white over black may round either way.
            const int diff = static_cast<int>(got & 0xFF) - static_cast<int>(want & 0xFF);
            EXPECT_TRUE(got == want || (want == 0xFF808080u && std::abs(diff) <= 1))
                << c.name << ": pixel " << x << " expected " << std::hex << want << " got " << got;
        }
    }
}

TEST(OffscreenTarget, ImageOpacityAndForeignImages) {
    auto target = MakeTarget(4, 4);
    auto other = MakeTarget(4, 4);
    ASSERT_NE(target, nullptr);
    ASSERT_NE(other, nullptr);
    const std::vector<uint8_t> png = MakePng(2, 2, [](int, int) { return 0xFFFFFFFFu; });
    auto image = target->DecodePng(png.data(), png.size());
    auto foreign = other->DecodePng(png.data(), png.size());
    ASSERT_NE(image, nullptr);
    ASSERT_NE(foreign, nullptr);

    target->BeginDraw();
    target->Clear(kBlack);
    target->DrawImage(*image, {0, 0, 2, 2}, {0, 0, 2, 2}, 0.25f);
    target->DrawImage(*image, {2, 2, 4, 4}, {0, 0, 2, 2}, 0.0f);
    target->DrawImage(*foreign, {2, 0, 4, 2}, {0, 0, 2, 2}, 1.0f);  // made for another target: ignored
    target->EndDraw();
    EXPECT_NEAR(static_cast<int>(target->PixelAt(0, 0) & 0xFF), 64, 2);
    EXPECT_EQ(target->PixelAt(3, 3), kOpaqueBlack) << "opacity 0 draws nothing";
    EXPECT_EQ(target->PixelAt(3, 0), kOpaqueBlack) << "an image of another target is not drawn";

    const uint8_t notPng[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
    EXPECT_EQ(target->DecodePng(notPng, sizeof notPng), nullptr);
    EXPECT_EQ(target->DecodePng(png.data(), png.size() / 2), nullptr) << "a truncated PNG";
    EXPECT_EQ(target->DecodePng(nullptr, 0), nullptr);

    // An image may outlive its target (panels keep theirs to the end of the program).
    target.reset();
    image.reset();
}

// The off-screen target draws shapes and images into its pixels itself; SDL's renderer, which it
// used to go through, is the reference. Both draw the same randomised calls: image pieces with
// fractional edges, partly off the target, scaled up and down and one to one, at many opacities,
// over translucent fills and slanted lines. Every pixel must take the same source pixel and the
// same colour; only SDL's one-to-one blitters round a blend a level or two differently (scaled
// pieces inside the target come out identical).
struct ScenePair {
    std::unique_ptr<OffscreenRenderTarget> direct = MakeTarget(97, 61);
    std::unique_ptr<OffscreenRenderTarget> reference = MakeTarget(97, 61);
    std::unique_ptr<Image> directImage, referenceImage;

    explicit ScenePair(const std::vector<uint8_t>& png) {
        reference->SetDirectDrawing(false);
        directImage = direct->DecodePng(png.data(), png.size());
        referenceImage = reference->DecodePng(png.data(), png.size());
    }
    template <typename Draw>
    void Both(Draw draw) {
        draw(static_cast<RenderTarget&>(*direct), *directImage);
        draw(static_cast<RenderTarget&>(*reference), *referenceImage);
    }
    // The largest difference of any colour channel of any pixel, and where it is. Alpha is left
    // out: SDL's one-to-one blitters let an opaque frame's alpha sink a little with each blend,
    // which the straight drawing does not (an opaque frame stays opaque).
    int LargestDifference(std::string* where) {
        const std::vector<uint32_t> a = direct->ReadPixels(), b = reference->ReadPixels();
        int worst = 0;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
            if ((a[i] >> 24) != 0xFF) {
                *where = "a pixel of the opaque frame turned translucent";
                return 256;
            }
            for (int shift = 0; shift < 24; shift += 8) {
                const int d = std::abs(static_cast<int>((a[i] >> shift) & 0xFF) -
                                       static_cast<int>((b[i] >> shift) & 0xFF));
                if (d > worst) {
                    worst = d;
                    char text[96];
                    std::snprintf(text, sizeof text, "(%zu, %zu): %08x against %08x", i % 97, i / 97, a[i],
                                  b[i]);
                    *where = text;
                }
            }
        }
        return a.size() == b.size() && !a.empty() ? worst : 256;
    }
};

// Noise with runs of transparent and of opaque pixels, as artwork has around and inside a shape.
uint32_t NoisePixel(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    const uint32_t colour = h & 0x00FFFFFFu;
    if (x < 3 || (x + y) % 11 == 0) return colour;  // fully transparent, colour left in
    if (y % 3 == 0) return 0xFF000000u | colour;    // opaque
    return (h >> 24) << 24 | colour;
}

TEST(OffscreenTarget, StraightDrawingMatchesTheRenderer) {
    const std::vector<uint8_t> png = MakePng(23, 17, NoisePixel);
    ScenePair pair(png);
    ASSERT_NE(pair.direct, nullptr);
    ASSERT_NE(pair.reference, nullptr);
    ASSERT_NE(pair.directImage, nullptr);
    ASSERT_NE(pair.referenceImage, nullptr);

    uint32_t seed = 12345;
    auto next = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
    };
    // Edges on whole pixels, on halves, or anywhere.
    auto edge = [&](float lo, float hi) {
        const float v = next(lo, hi);
        const float kind = next(0, 3);
        return kind < 1 ? std::round(v) : kind < 2 ? std::round(v * 2) / 2 : v;
    };

    for (int round = 0; round < 40; ++round) {
        pair.Both([](RenderTarget& t, Image&) {
            t.BeginDraw();
            t.Clear({0.2f, 0.3f, 0.4f, 1});
        });
        for (int call = 0; call < 12; ++call) {
            const float kind = next(0, 10);
            if (kind < 1.5f) {
                const RectF r{edge(-10, 90), edge(-10, 55), 0, 0};
                const RectF box{r.left, r.top, r.left + edge(0, 40), r.top + edge(0, 30)};
                const ColourF c{next(0, 1), next(0, 1), next(0, 1), next(0, 1.3f)};
                pair.Both([&](RenderTarget& t, Image&) { t.FillRect(box, c); });
            } else if (kind < 2.5f) {
                const float x0 = next(-5, 100), y0 = next(-5, 65), x1 = next(-5, 100), y1 = next(-5, 65);
                const ColourF c{next(0, 1), next(0, 1), next(0, 1), next(0.2f, 1)};
                const float w = next(0.5f, 4);
                pair.Both([&](RenderTarget& t, Image&) { t.DrawLine(x0, y0, x1, y1, c, w); });
            } else {
                RectF source{edge(-3, 22), edge(-3, 16), 0, 0};
                source.right = source.left + edge(0.25f, 14);
                source.bottom = source.top + edge(0.25f, 12);
                RectF dest{edge(-30, 95), edge(-30, 60), 0, 0};
                if (kind < 4) {  // one to one
                    dest.right = dest.left + (source.right - source.left);
                    dest.bottom = dest.top + (source.bottom - source.top);
                } else {
                    dest.right = dest.left + edge(0.5f, 70);
                    dest.bottom = dest.top + edge(0.5f, 50);
                }
                const float opacity = next(0, 3) < 1 ? 1.0f : next(0, 1);
                pair.Both([&](RenderTarget& t, Image& image) { t.DrawImage(image, dest, source, opacity); });
            }
        }
        pair.Both([](RenderTarget& t, Image&) { t.EndDraw(); });
        std::string where;
        const int worst = pair.LargestDifference(&where);
        // A level or two per blend, and blends stack; a wrong source pixel differs by far more.
        ASSERT_LE(worst, 4) << "round " << round << ", at " << where;
    }
}

// Opaque fills and clears are owed to their rows and written late; what ends up on screen must be
// exactly what writing every call at once gives. Two direct targets draw the same random frames,
// one writing fills at once: fills of every width and opacity, over and under opaque and blended
// image rows, outlines, level, upright and slanted lines, text, and pixels read back mid-frame.
TEST(OffscreenTarget, OwedFillsGiveTheSamePixelsAsImmediateOnes) {
    constexpr int kW = 97, kH = 61;
    auto owed = MakeTarget(kW, kH);
    auto now = MakeTarget(kW, kH);
    ASSERT_NE(owed, nullptr);
    ASSERT_NE(now, nullptr);
    now->SetDeferredFills(false);
    // Even rows opaque, odd rows translucent with a transparent margin: both kinds of image row.
    const std::vector<uint8_t> png = MakePng(19, 14, [](int x, int y) {
        const uint32_t colour =
            (static_cast<uint32_t>(x) * 0x3B1u ^ static_cast<uint32_t>(y) * 0x9E37u) & 0xFFFFFFu;
        if (y % 2 == 0) return 0xFF000000u | colour;
        return x < 2 ? colour : (static_cast<uint32_t>(40 + 11 * x) & 0xFF) << 24 | colour;
    });
    std::unique_ptr<Image> images[2] = {owed->DecodePng(png.data(), png.size()),
                                        now->DecodePng(png.data(), png.size())};
    ASSERT_NE(images[0], nullptr);
    ASSERT_NE(images[1], nullptr);
    OffscreenRenderTarget* targets[2] = {owed.get(), now.get()};
    auto both = [&](const std::function<void(OffscreenRenderTarget&, Image&)>& draw) {
        for (int i = 0; i < 2; ++i) draw(*targets[i], *images[i]);
    };

    uint32_t seed = 777;
    auto next = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
    };
    const TextFormat format{11.0f, 400, TextAlign::Leading, false, false, false};
    for (int round = 0; round < 60; ++round) {
        const ColourF clear{next(0, 1), next(0, 1), next(0, 1), 1};
        both([&](OffscreenRenderTarget& t, Image&) {
            t.BeginDraw();
            t.Clear(clear);
        });
        for (int call = 0; call < 30; ++call) {
            const float kind = next(0, 10);
            const ColourF c{next(0, 1), next(0, 1), next(0, 1), next(0, 3) < 2 ? 1.0f : next(0.1f, 1)};
            const float x = std::round(next(-10, 100)), y = std::round(next(-10, 65));
            if (kind < 3) {  // wide and narrow boxes
                const float w = next(0, 3) < 1 ? std::round(next(1, 3)) : std::round(next(1, 80));
                const RectF box{x, y, x + w, y + std::round(next(1, 40))};
                both([&](OffscreenRenderTarget& t, Image&) { t.FillRect(box, c); });
            } else if (kind < 4.5f) {
                const float x1 = next(0, 2) < 1 ? x : next(-5, 100), y1 = next(0, 2) < 1 ? y : next(-5, 65);
                const float w = next(0.5f, 4);
                both([&](OffscreenRenderTarget& t, Image&) { t.DrawLine(x, y, x1, y1, c, w); });
            } else if (kind < 5) {
                const RectF box{x, y, x + next(1, 50), y + next(1, 30)};
                both([&](OffscreenRenderTarget& t, Image&) { t.DrawRect(box, c, 2.0f); });
            } else if (kind < 8.5f) {
                const RectF source{std::round(next(0, 10)), std::round(next(0, 8)), 19, 14};
                const float scale = next(0, 2) < 1 ? 1.0f : next(0.5f, 3);
                const RectF dest{x, y, x + (source.right - source.left) * scale,
                                 y + (source.bottom - source.top) * scale};
                const float opacity = next(0, 3) < 2 ? 1.0f : next(0.1f, 1);
                both([&](OffscreenRenderTarget& t, Image& image) {
                    t.DrawImage(image, dest, source, opacity);
                });
            } else if (kind < 9.5f) {
                const RectF box{x, y, x + 60, y + 20};
                both([&](OffscreenRenderTarget& t, Image&) { t.DrawText("Wg 12", format, box, c); });
            } else {
                const int px = static_cast<int>(next(0, kW)), py = static_cast<int>(next(0, kH));
                ASSERT_EQ(owed->PixelAt(px, py), now->PixelAt(px, py))
                    << "round " << round << ", call " << call;
            }
        }
        both([](OffscreenRenderTarget& t, Image&) { t.EndDraw(); });
        const std::vector<uint32_t> a = owed->ReadPixels(), b = now->ReadPixels();
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(a[i], b[i]) << "round " << round << " at (" << i % kW << ", " << i / kW << ")";
        }
    }
}

// A piece drawn again at the same width comes from a stretched copy kept from before; it must
// give exactly the pixels of the first drawing, which went the general way. Pieces are scaled up,
// down and one to one, cut at fractional edges, partly off the target, at several opacities, and
// over owed and written fills alike.
TEST(OffscreenTarget, KeptStretchedPiecesDrawLikeTheFirstTime) {
    constexpr int kW = 97, kH = 61;
    auto target = MakeTarget(kW, kH);
    ASSERT_NE(target, nullptr);
    const std::vector<uint8_t> png = MakePng(23, 17, [](int x, int y) {
        if (y % 4 == 1) return 0xFF000000u | static_cast<uint32_t>(x * 977 + y * 131);  // wholly opaque rows
        return NoisePixel(x, y);
    });
    const auto image = target->DecodePng(png.data(), png.size());
    ASSERT_NE(image, nullptr);
    struct Case {
        RectF dest, source;
        float opacity;
    };
    const Case cases[] = {
        {{10, 5, 33, 22}, {0, 0, 23, 17}, 1.0f},           // one to one
        {{-7, -4, 60, 50}, {0, 0, 23, 17}, 1.0f},          // scaled up, cut by the target's edges
        {{3, 3, 14, 11}, {2.5f, 1.25f, 21, 16.5f}, 1.0f},  // scaled down, fractional source
        {{20, 10, 90, 58}, {1, 1, 22, 16}, 0.6f},          // translucent
        {{80, 40, 130, 90}, {0, 0, 23, 17}, 0.25f},        // off the bottom right
    };
    for (const Case& c : cases) {
        for (const bool written : {false, true}) {
            std::vector<uint32_t> frames[3];
            for (std::vector<uint32_t>& frame : frames) {
                target->BeginDraw();
                target->Clear({0.1f, 0.2f, 0.3f, 1});
                target->FillRect({0, 20, 70, 40}, {0.9f, 0.5f, 0.1f, 1});
                target->FillRect({30, 0, 50, 61}, {0.2f, 0.9f, 0.4f, 0.5f});
                if (written) (void)target->PixelAt(0, 0);  // the fills are written before the image
                target->DrawImage(*image, c.dest, c.source, c.opacity);
                target->DrawImage(*image, c.dest, c.source, c.opacity);  // over itself
                target->EndDraw();
                frame = target->ReadPixels();
            }
            ASSERT_EQ(frames[0].size(), static_cast<size_t>(kW * kH));
            for (size_t i = 0; i < frames[0].size(); ++i) {
                ASSERT_EQ(frames[1][i], frames[0][i]) << "at (" << i % kW << ", " << i / kW << ")";
                ASSERT_EQ(frames[2][i], frames[0][i]) << "at (" << i % kW << ", " << i / kW << ")";
            }
        }
    }
}

// The box around every pixel that is not the background; empty (right < left) when none.
struct Extent {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};
Extent InkExtent(OffscreenRenderTarget& target) {
    Extent e;
    for (int y = 0; y < target.Height(); ++y) {
        for (int x = 0; x < target.Width(); ++x) {
            if (target.PixelAt(x, y) == kOpaqueBlack) continue;
            e.left = std::min(e.left, x);
            e.right = std::max(e.right, x);
            e.top = std::min(e.top, y);
            e.bottom = std::max(e.bottom, y);
        }
    }
    return e;
}

const TextFormat kSmall{14.0f, 700, TextAlign::Centre, true, false, true};
const TextFormat kMedium{24.0f, 400, TextAlign::Centre, true, true, true};
const std::string kEllipsis = "\xE2\x80\xA6";

TEST(OffscreenTarget, TextIsCentredInItsRectangle) {
    auto target = MakeTarget(200, 60);
    ASSERT_NE(target, nullptr);
    const RectF box{20, 10, 180, 50};
    target->BeginDraw();
    target->Clear(kBlack);
    target->DrawText("Load MIDI", kSmall, box, kWhite);
    target->EndDraw();
    const Extent e = InkExtent(*target);
    ASSERT_GE(e.right, e.left) << "nothing was drawn";
    EXPECT_NEAR(e.left - 20, 179 - e.right, 3) << "horizontal margins " << e.left << " .. " << e.right;
    // Glyphs sit in a line box with more room below the baseline than above the capitals, so the
    // ink of a line without descenders sits a little high: compare the centres loosely.
    EXPECT_NEAR((e.top + e.bottom) / 2.0, 30.0, 4.0) << "rows " << e.top << " .. " << e.bottom;

    for (TextAlign align : {TextAlign::Leading, TextAlign::Trailing}) {
        TextFormat f = kSmall;
        f.align = align;
        target->BeginDraw();
        target->Clear(kBlack);
        target->DrawText("Stop", f, box, kWhite);
        target->EndDraw();
        const Extent a = InkExtent(*target);
        if (align == TextAlign::Leading) {
            EXPECT_LE(a.left - 20, 2) << "leading text starts at the left edge";
        } else {
            EXPECT_LE(179 - a.right, 2) << "trailing text ends at the right edge";
        }
    }
}

TEST(OffscreenTarget, LongTextIsTrimmedWithAnEllipsisInsideItsRectangle) {
    auto target = MakeTarget(240, 60);
    ASSERT_NE(target, nullptr);
    const std::string title = "A Very Long Song Title That Cannot Possibly Fit";
    const RectF box{30, 20, 150, 40};

    const std::vector<std::string> lines = target->TextLines(title, kSmall, box);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_GE(lines[0].size(), kEllipsis.size() + 1);
    EXPECT_EQ(lines[0].substr(lines[0].size() - kEllipsis.size()), kEllipsis) << lines[0];
    EXPECT_EQ(
        title.compare(0, lines[0].size() - kEllipsis.size(), lines[0], 0, lines[0].size() - kEllipsis.size()),
        0)
        << "the kept part is the title's start: " << lines[0];

    target->BeginDraw();
    target->Clear(kBlack);
    target->DrawText(title, kSmall, box, kWhite);
    target->EndDraw();
    const Extent e = InkExtent(*target);
    EXPECT_GE(e.left, 30);
    EXPECT_LE(e.right, 149);
    EXPECT_GT(e.right - e.left, 90) << "the trimmed text still fills most of the width";

    // Without trimming the same text runs past the rectangle (and is centred on it).
    TextFormat untrimmed = kSmall;
    untrimmed.ellipsis = false;
    EXPECT_EQ(target->TextLines(title, untrimmed, box), std::vector<std::string>{title});

    // Short text is left alone; a rectangle too narrow even for "…" shows nothing.
    EXPECT_EQ(target->TextLines("Play", kSmall, box), std::vector<std::string>{"Play"});
    EXPECT_EQ(target->TextLines(title, kSmall, {0, 0, 3, 20}), std::vector<std::string>{""});
}

TEST(OffscreenTarget, TrimmingNeverSplitsACharacter) {
    auto target = MakeTarget(100, 40);
    ASSERT_NE(target, nullptr);
    const std::string accented =
        "\xC3\xA9t\xC3\xA9 \xC3\xA0 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
        "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";  // "été à éééé..."
    for (float width : {20.0f, 33.0f, 47.0f, 61.0f}) {
        const auto lines = target->TextLines(accented, kSmall, {0, 0, width, 20});
        ASSERT_EQ(lines.size(), 1u);
        const std::string& s = lines[0];
        for (size_t i = 0; i < s.size();) {
            const auto lead = static_cast<unsigned char>(s[i]);
            const size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            ASSERT_LE(i + len, s.size()) << "width " << width << ": cut inside a character";
            for (size_t k = 1; k < len; ++k) {
                EXPECT_EQ(static_cast<unsigned char>(s[i + k]) & 0xC0, 0x80) << "width " << width;
            }
            i += len;
        }
    }
}

TEST(OffscreenTarget, WrappedTextKeepsTheLinesThatFitAndMarksTheCut) {
    auto target = MakeTarget(200, 200);
    ASSERT_NE(target, nullptr);
    const std::string text = "one two three four five six seven eight";
    // Tall enough for everything: several lines, none trimmed, none wider than the box.
    const auto all = target->TextLines(text, kMedium, {0, 0, 120, 400});
    ASSERT_GE(all.size(), 3u);
    std::string rejoined;
    for (const std::string& line : all) rejoined += (rejoined.empty() ? "" : " ") + line;
    EXPECT_EQ(rejoined, text);

    // Room for one line only: the first line, marked as cut.
    const auto one = target->TextLines(text, kMedium, {0, 0, 120, 30});
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].substr(one[0].size() - kEllipsis.size()), kEllipsis) << one[0];

    // A word longer than the line is broken between characters, not left to overflow.
    const auto broken = target->TextLines("Supercalifragilistic", kMedium, {0, 0, 60, 400});
    EXPECT_GE(broken.size(), 2u);

    target->BeginDraw();
    target->Clear(kBlack);
    target->DrawText(text, kMedium, {40, 40, 160, 70}, kWhite);
    target->EndDraw();
    const Extent e = InkExtent(*target);
    EXPECT_GE(e.left, 40);
    EXPECT_LE(e.right, 159);
}

// Coordinates computed from a broken song (a zero duration, say) can be infinite or not numbers.
// Nothing may then be drawn by accident, and nothing may overflow on its way to whole pixels.
TEST(OffscreenTarget, NonFiniteCoordinatesDrawNothingHarmful) {
    auto target = MakeTarget(8, 6);
    ASSERT_NE(target, nullptr);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<uint8_t> png = MakePng(2, 2, [](int, int) { return 0xFFFFFFFFu; });
    auto image = target->DecodePng(png.data(), png.size());
    ASSERT_NE(image, nullptr);
    target->BeginDraw();
    target->Clear(kBlack);
    target->FillRect({nan, 0, 4, 4}, kWhite);
    target->DrawLine(nan, 1, 5, 3, kWhite, 1);
    target->DrawLine(0, 0, inf, inf, kWhite, 1);
    target->DrawRect({0, 0, nan, 3}, kWhite, nan);
    target->DrawImage(*image, {0, 0, nan, 4}, {0, 0, 2, 2}, 1.0f);
    target->DrawImage(*image, {0, 0, 4, 4}, {0, 0, 0, 2}, 1.0f);  // empty source
    target->DrawText("Play", kSmall, {nan, nan, nan, nan}, kWhite);
    target->EndDraw();
    EXPECT_EQ(Mask(*target), Join({"........", "........", "........", "........", "........", "........"}));

    // A whole screen's worth of coordinates still fills exactly the target.
    target->BeginDraw();
    target->FillRect({-inf, -inf, inf, inf}, kWhite);
    target->EndDraw();
    EXPECT_EQ(Mask(*target), Join({"########", "########", "########", "########", "########", "########"}));

    // Unbounded height: every wrapped line fits.
    const auto lines = target->TextLines("one two three four", kMedium, {0, 0, 60, inf});
    EXPECT_GE(lines.size(), 2u);
}

TEST(OffscreenTarget, UnchangedLabelsAreRenderedOnce) {
    auto target = MakeTarget(100, 40);
    ASSERT_NE(target, nullptr);
    for (int frame = 0; frame < 3; ++frame) {
        target->BeginDraw();
        target->DrawText("Export", kSmall, {0, 0, 100, 20}, kWhite);
        target->DrawText("Export", kSmall, {0, 20, 100, 40}, {0.5f, 0.5f, 0.5f, 1});  // moved, recoloured
        target->EndDraw();
    }
    EXPECT_EQ(target->CachedTextCount(), 1u);
}

// A scaled target draws what an unscaled one of the same pixels draws when every coordinate, line
// width and text size is multiplied by the scale; its size in design units is its pixels / scale.
TEST(OffscreenTarget, ScaledCallsDrawLikeCallsInPixels) {
    const std::vector<uint8_t> png = MakePng(4, 1, [](int x, int) { return kStrip[x]; });
    for (const float scale : {2.0f, 1.5f, 0.8f}) {
        SCOPED_TRACE(scale);
        auto scaled = MakeTarget(120, 60);
        auto plain = MakeTarget(120, 60);
        ASSERT_NE(scaled, nullptr);
        ASSERT_NE(plain, nullptr);
        scaled->SetScale(scale);
        EXPECT_EQ(scaled->Width(), static_cast<int>(std::lround(120 / scale)));
        EXPECT_EQ(scaled->Height(), static_cast<int>(std::lround(60 / scale)));
        auto draw = [&png](OffscreenRenderTarget& t, float s) {
            auto image = t.DecodePng(png.data(), png.size());
            ASSERT_NE(image, nullptr);
            TextFormat format = kSmall;
            format.size *= s;
            t.BeginDraw();
            t.Clear(kBlack);
            t.FillRect({3 * s, 2.5f * s, 17 * s, 9 * s}, {0.2f, 0.6f, 0.9f, 1});
            t.DrawRect({20 * s, 3 * s, 40 * s, 12 * s}, kWhite, 1.5f * s);
            t.DrawLine(2 * s, 30 * s, 50 * s, 14 * s, {1, 0.5f, 0, 0.7f}, 2 * s);
            t.DrawImage(*image, {42 * s, 2 * s, 50 * s, 6 * s}, {0, 0, 4, 1}, 1);
            t.DrawText("Export", format, {0, 12 * s, 50 * s, 30 * s}, kWhite);
            t.EndDraw();
        };
        draw(*scaled, 1.0f);
        draw(*plain, scale);
        EXPECT_TRUE(scaled->ReadPixels() == plain->ReadPixels());
    }
}

// The frame read in place, as the video export reads it, is the frame read back: text, which goes
// through the renderer's queue, and owed fills included.
TEST(OffscreenTarget, FramePixelsInPlaceAreTheFrameReadBack) {
    auto target = MakeTarget(97, 31);  // an odd width: no padding may creep in between rows
    ASSERT_NE(target, nullptr);
    target->BeginDraw();
    target->Clear({0.1f, 0.1f, 0.2f, 1});
    target->FillRect({3, 3, 60, 20}, {0.9f, 0.5f, 0.1f, 1});
    target->DrawText("Gg 42", platform::TextFormat{}, {0, 0, 97, 31}, {1, 1, 1, 1});
    target->EndDraw();
    const std::vector<uint32_t> copy = target->ReadPixels();
    const uint32_t* inPlace = target->FramePixels();
    ASSERT_NE(inPlace, nullptr);
    ASSERT_EQ(copy.size(), 97u * 31u);
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), inPlace));
}

TEST(OffscreenTarget, SavedPngHoldsTheFrame) {
    auto target = MakeTarget(16, 9);
    ASSERT_NE(target, nullptr);
    target->BeginDraw();
    target->Clear({0, 0, 0, 1});
    target->FillRect({0, 0, 8, 9}, {16 / 255.0f, 32 / 255.0f, 64 / 255.0f, 1});
    target->FillRect({8, 4, 16, 9}, {5 / 255.0f, 16 / 255.0f, 32 / 255.0f, 1});
    target->EndDraw();
    const std::vector<uint32_t> pixels = target->ReadPixels();
    ASSERT_EQ(pixels.size(), 16u * 9u);
    EXPECT_EQ(pixels[0], 0xFF102040u);
    EXPECT_EQ(pixels[8 * 16 + 15], 0xFF051020u);

    const std::string path = TempPath("frame.png");
    ASSERT_TRUE(target->SavePng(path));
    SDL_Surface* loaded = IMG_Load(path.c_str());
    ASSERT_NE(loaded, nullptr) << IMG_GetError();
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(loaded);
    ASSERT_NE(argb, nullptr);
    ASSERT_EQ(argb->w, 16);
    ASSERT_EQ(argb->h, 9);
    for (int y = 0; y < 9; ++y) {
        const auto* row =
            reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(argb->pixels) + y * argb->pitch);
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(row[x], pixels[static_cast<size_t>(y) * 16 + static_cast<size_t>(x)]) << x << ", " << y;
        }
    }
    SDL_FreeSurface(argb);
    std::remove(path.c_str());

    EXPECT_FALSE(target->SavePng("/nonexistent-folder/frame.png"));
}

}  // namespace
}  // namespace platform
