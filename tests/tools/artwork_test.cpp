// The embedded images as the drawing code relies on them: sizes, the note sprites' transparent margin
// and opaque core, rows that stretch cleanly, and keys that sit exactly in the rectangles the notes view
// cuts out of the keyboard images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "resources/images.h"
#include "tools/png_io.h"

namespace {

png_io::Pixels Load(int id) {
    png_io::Pixels image;
    const res::EmbeddedFile file = res::FindImage(id);
    std::string why;
    EXPECT_NE(file.data, nullptr) << "image " << id << " is not embedded";
    if (file.data) {
        EXPECT_TRUE(png_io::DecodePng(file.data, file.size, image, &why)) << "image " << id << ": " << why;
    }
    return image;
}

struct Rgba {
    int r, g, b, a;
};

Rgba At(const png_io::Pixels& p, int x, int y) {
    const uint8_t* q = p.data.data() + (static_cast<size_t>(y) * p.width + x) * p.channels;
    return {q[0], q[1], q[2], p.channels == 4 ? q[3] : 255};
}

double Luma(const png_io::Pixels& p, int x, int y) {
    const Rgba c = At(p, x, y);
    return (0.3 * c.r + 0.59 * c.g + 0.11 * c.b) / 255.0;
}

bool RowsEqual(const png_io::Pixels& p, int y0, int y1) {
    const size_t stride = static_cast<size_t>(p.width) * p.channels;
    return std::equal(p.data.begin() + y0 * stride, p.data.begin() + (y0 + 1) * stride,
                      p.data.begin() + y1 * stride);
}

constexpr int kBlackLeft[5] = {52, 153, 312, 408, 499};

// The hands' images of one kind followed by the voice colours' images of the given slots.
std::vector<int> WithVoices(std::vector<int> ids, std::initializer_list<int> slots) {
    for (int c = 2; c < res::kNoteColourCount; ++c)
        for (int slot : slots) ids.push_back(res::VoiceImageId(c, slot));
    return ids;
}

bool IsLitBlackKeys(int id) {
    return id >= res::kFirstVoiceImage &&
           (id - res::kFirstVoiceImage) % res::VoiceImageSlots == res::VoiceLitBlackKeys;
}

TEST(Artwork, EveryImageHasItsSize) {
    struct Case {
        int id, width, height;
        bool opaque;
    };
    const Case cases[] = {
        {105, 64, 64, false},  {125, 96, 96, false},  {126, 96, 96, false},  {127, 96, 96, false},
        {128, 96, 96, false},  {130, 96, 96, false},  {131, 96, 96, false},  {132, 96, 96, false},
        {134, 174, 491, true}, {136, 609, 492, true}, {137, 609, 492, true}, {138, 609, 492, true},
        {139, 609, 492, true}, {140, 87, 492, true},  {141, 96, 96, false},  {142, 609, 492, true},
        {145, 174, 50, true},  {146, 96, 96, false},  {147, 96, 96, false},
    };
    for (const Case& c : cases) {
        const png_io::Pixels p = Load(c.id);
        EXPECT_EQ(p.width, c.width) << "image " << c.id;
        EXPECT_EQ(p.height, c.height) << "image " << c.id;
        if (!c.opaque || p.data.empty()) continue;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                ASSERT_EQ(At(p, x, y).a, 255) << "image " << c.id << " is not opaque at " << x << "," << y;
    }
}

// Bodies: nothing outside the 32 × 32 core; the core opaque across its full width in the stretched
// rows and in the middle of the end caps, with rounded (not square) corners.
TEST(Artwork, NoteBodiesFillExactlyTheirCore) {
    for (int id : WithVoices({125, 127, 131, 141}, {res::VoiceBodyWhite, res::VoiceBodyBlack})) {
        const png_io::Pixels p = Load(id);
        ASSERT_EQ(p.width, 96);
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x) {
                const bool core = x >= 32 && x < 64 && y >= 32 && y < 64;
                if (!core) {
                    ASSERT_EQ(At(p, x, y).a, 0) << "image " << id << " margin at " << x << "," << y;
                }
            }
        for (int y = 35; y <= 60; ++y)
            for (int x = 32; x < 64; ++x)
                ASSERT_EQ(At(p, x, y).a, 255) << "image " << id << " core at " << x << "," << y;
        for (int y : {32, 33, 34, 61, 62, 63})
            for (int x = 44; x < 52; ++x)
                EXPECT_EQ(At(p, x, y).a, 255) << "image " << id << " cap at " << x << "," << y;
        EXPECT_LT(At(p, 32, 32).a, 128) << "image " << id << " has a square top corner";
        EXPECT_LT(At(p, 63, 63).a, 128) << "image " << id << " has a square bottom corner";
    }
}

// Glows: clear inside the core and at the image border, strongest next to the core.
TEST(Artwork, GlowsAreSoftRingsAroundTheCore) {
    for (int id : WithVoices({126, 128, 130, 132}, {res::VoiceGlow})) {
        const png_io::Pixels p = Load(id);
        ASSERT_EQ(p.width, 96);
        for (int i = 0; i < 96; ++i) {
            EXPECT_EQ(At(p, i, 0).a, 0) << "image " << id;
            EXPECT_EQ(At(p, i, 95).a, 0) << "image " << id;
            EXPECT_EQ(At(p, 0, i).a, 0) << "image " << id;
            EXPECT_EQ(At(p, 95, i).a, 0) << "image " << id;
        }
        EXPECT_EQ(At(p, 48, 48).a, 0) << "image " << id << " covers its body";
        EXPECT_GT(At(p, 30, 48).a, 100) << "image " << id << " is faint beside the core";
        EXPECT_GT(At(p, 48, 30).a, 100) << "image " << id << " is faint above the core";
        EXPECT_GT(At(p, 30, 48).a, At(p, 16, 48).a) << "image " << id << " does not fade outwards";
    }
}

// Every sprite is drawn with its rows 36..59 stretched to the note's length: they must all be equal.
TEST(Artwork, StretchedSpriteRowsAreIdentical) {
    for (int id : WithVoices({125, 126, 127, 128, 130, 131, 132, 141},
                             {res::VoiceBodyWhite, res::VoiceBodyBlack, res::VoiceGlow})) {
        const png_io::Pixels p = Load(id);
        ASSERT_EQ(p.height, 96);
        for (int y = 36; y < 60; ++y) EXPECT_TRUE(RowsEqual(p, 35, y)) << "image " << id << " row " << y;
    }
}

TEST(Artwork, SparksFadeOutBeforeTheirBorder) {
    for (int id : {146, 147}) {
        const png_io::Pixels p = Load(id);
        ASSERT_EQ(p.width, 96);
        for (int i = 0; i < 96; ++i) {
            EXPECT_EQ(At(p, i, 0).a, 0) << "image " << id;
            EXPECT_EQ(At(p, 0, i).a, 0) << "image " << id;
        }
        EXPECT_GT(At(p, 48, 48).a, 150) << "image " << id;
        EXPECT_GT(At(p, 48, 48).r, 200) << "image " << id << " is not red";
    }
}

// A key cut out by its source rectangle must hold that key and nothing of its neighbours. Each key's
// darkest outline lies on its rectangle's border: the gap in every 87th column after a white key, the
// outer columns and the front row of a black key. A key drawn one pixel off fails these.
TEST(Artwork, KeysSitInTheirSourceRectangles) {
    const png_io::Pixels plain = Load(142);
    for (int id : WithVoices({136, 137, 138, 139, 142}, {res::VoiceLitWhiteKeys, res::VoiceLitBlackKeys})) {
        const png_io::Pixels p = Load(id);
        ASSERT_EQ(p.width, 609);
        // The lit black keys of a voice colour end below the black keys and hold nothing else.
        ASSERT_EQ(p.height, IsLitBlackKeys(id) ? 341 : 492) << "image " << id;
        for (int i = 0; i < 7 && !IsLitBlackKeys(id); ++i) {
            const int gap = 87 * i + 86;
            EXPECT_GT(Luma(p, gap - 43, 420), Luma(p, gap, 420) + 0.3)
                << "image " << id << ": no gap after key " << i;
            EXPECT_LT(Luma(p, gap, 420), Luma(p, gap - 1, 420)) << "image " << id << ": gap of key " << i;
            if (i < 6) {
                EXPECT_LT(Luma(p, gap, 420), Luma(p, gap + 1, 420)) << "image " << id << ": gap of key " << i;
            }
        }
        const bool blacksLit = id == 136 || id == 137 || IsLitBlackKeys(id);
        for (int left : kBlackLeft) {
            for (int y = 40; y <= 330; y += 10) {
                EXPECT_LT(Luma(p, left, y), Luma(p, left + 1, y))
                    << "image " << id << ": black key " << left << " row " << y;
                EXPECT_LT(Luma(p, left + 47, y), Luma(p, left + 46, y))
                    << "image " << id << ": black key " << left << " row " << y;
                if (blacksLit) continue;
                EXPECT_GT(Luma(p, left - 1, y), Luma(p, left, y) + 0.1)
                    << "image " << id << ": left of " << left;
                EXPECT_GT(Luma(p, left + 48, y), Luma(p, left + 47, y) + 0.1)
                    << "image " << id << ": right of " << left;
            }
            for (int x = left + 8; x < left + 40; x += 4)
                EXPECT_LT(Luma(p, x, 340), Luma(p, x, 339))
                    << "image " << id << ": front of black key " << left;
            for (int y = 4; y < 341; ++y)
                for (int x = left; x < left + 48; ++x) {
                    if (blacksLit) {
                        const Rgba a = At(plain, x, y), b = At(p, x, y);
                        ASSERT_FALSE(a.r == b.r && a.g == b.g && a.b == b.b)
                            << "image " << id << ": black key not lit at " << x << "," << y;
                    } else {
                        ASSERT_LT(Luma(p, x, y), 0.4)
                            << "image " << id << ": black key not dark at " << x << "," << y;
                    }
                }
        }
    }
}

// A lit white key is cut from an image whose black keys must look exactly like the plain keyboard's,
// or the black keys beside a lit white key would change when it lights.
TEST(Artwork, LitWhiteKeyImagesKeepPlainBlackKeys) {
    const png_io::Pixels plain = Load(142);
    for (int id : WithVoices({138, 139}, {res::VoiceLitWhiteKeys})) {
        const png_io::Pixels lit = Load(id);
        ASSERT_EQ(lit.width, plain.width);
        for (int left : kBlackLeft)
            for (int y = 0; y < 341; ++y)
                for (int x = left; x < left + 48; ++x) {
                    const Rgba a = At(plain, x, y), b = At(lit, x, y);
                    ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b)
                        << "image " << id << " at " << x << "," << y;
                }
        const Rgba a = At(plain, 43, 420), b = At(lit, 43, 420);
        EXPECT_GT(std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)}), 60)
            << "image " << id << " is not lit";
    }
}

// The ends of the keyboard: A0 has no black key to its left, C8 none at all; A♯0 sits where the
// octave image has A♯ (the low end is the octave's last 174 columns).
TEST(Artwork, KeyboardEndsHaveOnlyTheirOwnKeys) {
    const png_io::Pixels low = Load(134), top = Load(140), octave = Load(142);
    ASSERT_EQ(low.width, 174);
    ASSERT_EQ(top.width, 87);
    for (int x = 6; x < 58; ++x) EXPECT_GT(Luma(low, x, 150), 0.6) << "A0 not white at column " << x;
    for (int x = 6; x < 80; ++x) EXPECT_GT(Luma(top, x, 150), 0.6) << "C8 not white at column " << x;
    EXPECT_GT(Luma(top, 43, 420), Luma(top, 86, 420) + 0.3) << "C8 has no gap at its right";
    for (int x = 64; x < 112; ++x) {
        const Rgba a = At(low, x, 200), b = At(octave, 435 + x, 200);
        EXPECT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b) << "A#0 differs from the octave's A# at " << x;
    }
}

// CIE L*a*b* of an sRGB colour: distances in it follow how far apart two colours look.
struct Lab {
    double l, a, b;
};

Lab ToLab(double r, double g, double b) {
    auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    r = linear(r / 255), g = linear(g / 255), b = linear(b / 255);
    const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.9505;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.089;
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

double Distance(const Lab& p, const Lab& q) {
    return std::sqrt((p.l - q.l) * (p.l - q.l) + (p.a - q.a) * (p.a - q.a) + (p.b - q.b) * (p.b - q.b));
}

// The least distances the note colours keep: CIE76 in normal sight between every look of every two
// colours, and CIEDE2000 between the notes of any two under each simulated sight. Measured on the
// images; what twenty colours light enough for the dark ground can give.
constexpr double kLeastCie76 = 11;
constexpr double kLeastDeltaE2000 = 4.5;

// The mean colour of a row stretch of an image.
Lab MeanColour(int id, int x0, int x1, int y) {
    const png_io::Pixels p = Load(id);
    double r = 0, g = 0, b = 0;
    if (p.data.empty()) return {};
    for (int x = x0; x < x1; ++x) {
        const Rgba c = At(p, x, y);
        r += c.r, g += c.g, b += c.b;
    }
    const double n = x1 - x0;
    return ToLab(r / n, g / n, b / n);
}

// How a colour looks to a viewer without one kind of cone, in linear sRGB: the simulation of
// Machado, Oliveira and Fernandes (2009) at full severity. Index 0 is normal sight.
constexpr double kVision[4][3][3] = {
    {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    {{0.152286, 1.052583, -0.204868}, {0.114503, 0.786281, 0.099216}, {-0.003882, -0.048116, 1.051998}},
    {{0.367322, 0.860646, -0.227968}, {0.280085, 0.672501, 0.047413}, {-0.011820, 0.042940, 0.968881}},
    {{1.255528, -0.076749, -0.178779}, {-0.078411, 0.930809, 0.147602}, {0.004733, 0.691367, 0.303900}},
};
const char* const kVisionName[4] = {"normal sight", "protanopia", "deuteranopia", "tritanopia"};

Lab SeenAs(const Lab& lab, int vision) {
    // Back from L*a*b* to linear sRGB, through the simulation, and into L*a*b* again.
    auto finv = [](double t) { return t > 0.206893 ? t * t * t : (t - 16.0 / 116) / 7.787; };
    const double fy = (lab.l + 16) / 116, fx = fy + lab.a / 500, fz = fy - lab.b / 200;
    const double x = finv(fx) * 0.9505, y = finv(fy), z = finv(fz) * 1.089;
    const double rgb[3] = {3.2406 * x - 1.5372 * y - 0.4986 * z, -0.9689 * x + 1.8758 * y + 0.0415 * z,
                           0.0557 * x - 0.2040 * y + 1.0570 * z};
    double seen[3];
    for (int i = 0; i < 3; ++i) {
        const double* m = kVision[vision][i];
        seen[i] = std::clamp(m[0] * rgb[0] + m[1] * rgb[1] + m[2] * rgb[2], 0.0, 1.0);
    }
    auto encode = [](double c) {
        return 255 * (c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1 / 2.4) - 0.055);
    };
    return ToLab(encode(seen[0]), encode(seen[1]), encode(seen[2]));
}

// CIEDE2000, the colour difference that follows how far apart two colours look most closely.
double DeltaE2000(const Lab& p, const Lab& q) {
    constexpr double kPi = 3.14159265358979323846;
    auto rad = [&](double d) { return d * kPi / 180; };
    const double c1 = std::hypot(p.a, p.b), c2 = std::hypot(q.a, q.b), cm = (c1 + c2) / 2;
    const double g = 0.5 * (1 - std::sqrt(std::pow(cm, 7) / (std::pow(cm, 7) + std::pow(25.0, 7))));
    const double a1 = (1 + g) * p.a, a2 = (1 + g) * q.a;
    const double c1p = std::hypot(a1, p.b), c2p = std::hypot(a2, q.b);
    auto hue = [&](double b, double a) {
        const double h = std::atan2(b, a) * 180 / kPi;
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(p.b, a1), h2 = hue(q.b, a2);
    double dh = 0;
    if (c1p * c2p != 0) {
        dh = h2 - h1;
        if (dh > 180) dh -= 360;
        if (dh < -180) dh += 360;
    }
    const double dL = q.l - p.l, dC = c2p - c1p, dH = 2 * std::sqrt(c1p * c2p) * std::sin(rad(dh / 2));
    const double lm = (p.l + q.l) / 2, cmp = (c1p + c2p) / 2;
    double hm = h1 + h2;
    if (c1p * c2p != 0)
        hm = std::abs(h1 - h2) <= 180 ? (h1 + h2) / 2
                                      : (h1 + h2 < 360 ? (h1 + h2 + 360) / 2 : (h1 + h2 - 360) / 2);
    const double t = 1 - 0.17 * std::cos(rad(hm - 30)) + 0.24 * std::cos(rad(2 * hm)) +
                     0.32 * std::cos(rad(3 * hm + 6)) - 0.20 * std::cos(rad(4 * hm - 63));
    const double rc = 2 * std::sqrt(std::pow(cmp, 7) / (std::pow(cmp, 7) + std::pow(25.0, 7)));
    const double sl = 1 + 0.015 * (lm - 50) * (lm - 50) / std::sqrt(20 + (lm - 50) * (lm - 50));
    const double sc = 1 + 0.045 * cmp, sh = 1 + 0.015 * cmp * t;
    const double rt = -std::sin(rad(60 * std::exp(-std::pow((hm - 275) / 25, 2)))) * rc;
    return std::sqrt(std::pow(dL / sl, 2) + std::pow(dC / sc, 2) + std::pow(dH / sh, 2) +
                     rt * (dC / sc) * (dH / sh));
}

TEST(Artwork, DeltaE2000MatchesThePublishedPairs) {
    // From the test data of Sharma, Wu and Dalal (2005).
    EXPECT_NEAR(DeltaE2000({50, 2.6772, -79.7751}, {50, 0, -82.7485}), 2.0425, 1e-4);
    EXPECT_NEAR(DeltaE2000({50, -1.3802, -84.2814}, {50, 0, -82.7485}), 1.0000, 1e-4);
    EXPECT_NEAR(DeltaE2000({60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}), 1.2644, 1e-4);
}

// Every colour, the hands' included, must be told from every other by its notes on white keys and on
// black keys and by its lit white and black keys; and a lit white key from an unlit one. The voices'
// notes must stay apart for viewers with each common kind of colour blindness too. The hands' own two
// colours are the player's long-kept yellow and green, told apart in a piano song by where they play
// as much as by their colour, and are left out of that last check between themselves.
TEST(Artwork, NoteColoursAreClearlyDistinct) {
    struct Look {
        Lab body[2], lit[2];
    };
    std::vector<Look> looks;
    const int hands[2][4] = {{131, 141, 139, 137}, {127, 125, 138, 136}};
    for (int c = 0; c < res::kNoteColourCount; ++c) {
        auto id = [&](int hand, int slot) { return c < 2 ? hands[c][hand] : res::VoiceImageId(c, slot); };
        looks.push_back({{MeanColour(id(0, res::VoiceBodyWhite), 32, 64, 48),
                          MeanColour(id(1, res::VoiceBodyBlack), 32, 64, 48)},
                         {MeanColour(id(2, res::VoiceLitWhiteKeys), 10, 76, 420),
                          MeanColour(id(3, res::VoiceLitBlackKeys), 60, 92, 200)}});
    }
    const Lab ivory = MeanColour(142, 10, 76, 420);
    const char* what[4] = {"white-key notes", "black-key notes", "lit white keys", "lit black keys"};
    double least[4] = {1e9, 1e9, 1e9, 1e9};
    for (int c = 0; c < res::kNoteColourCount; ++c) {
        EXPECT_GT(Distance(looks[c].lit[0], ivory), 25) << "colour " << c << " lit looks unlit";
        for (int d = c + 1; d < res::kNoteColourCount; ++d) {
            for (int k = 0; k < 4; ++k) {
                const Lab& p = k < 2 ? looks[c].body[k] : looks[c].lit[k - 2];
                const Lab& q = k < 2 ? looks[d].body[k] : looks[d].lit[k - 2];
                EXPECT_GT(Distance(p, q), kLeastCie76) << what[k] << " of colours " << c << " and " << d;
            }
            if (d < 2) continue;
            for (int v = 0; v < 4; ++v) {
                const double e = DeltaE2000(SeenAs(looks[c].body[0], v), SeenAs(looks[d].body[0], v));
                least[v] = std::min(least[v], e);
                EXPECT_GT(e, kLeastDeltaE2000)
                    << "white-key notes of colours " << c << " and " << d << " in " << kVisionName[v];
            }
        }
    }
    for (int v = 0; v < 4; ++v)
        std::printf("least CIEDE2000 between note colours, %s: %.2f\n", kVisionName[v], least[v]);
}

TEST(Artwork, LogoIsLetteredOnWhiteAndIconHasRoundedCorners) {
    const png_io::Pixels logo = Load(145);
    ASSERT_EQ(logo.width, 174);
    int dark = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 60; x < 174; ++x) dark += Luma(logo, x, y) < 0.4;
    EXPECT_GT(dark, 400) << "no lettering";
    for (int x : {0, 173})
        for (int y : {0, 49}) EXPECT_GT(Luma(logo, x, y), 0.99) << "logo corner " << x << "," << y;

    const png_io::Pixels icon = Load(105);
    ASSERT_EQ(icon.width, 64);
    EXPECT_EQ(At(icon, 0, 0).a, 0);
    EXPECT_EQ(At(icon, 63, 63).a, 0);
    EXPECT_EQ(At(icon, 32, 32).a, 255);
}

TEST(Artwork, PngWriterAndReaderAgree) {
    for (int channels : {3, 4}) {
        png_io::Pixels image;
        image.width = 37;
        image.height = 11;
        image.channels = channels;
        uint32_t state = 12345;
        for (int i = 0; i < 37 * 11 * channels; ++i) {
            state = state * 1103515245u + 12345u;
            // Smooth runs and noise, so that every row filter gets chosen somewhere.
            image.data.push_back(static_cast<uint8_t>(i % 7 == 0 ? state >> 24 : i / 5));
        }
        const std::vector<uint8_t> file = png_io::EncodePng(image);
        png_io::Pixels back;
        ASSERT_TRUE(png_io::DecodePng(file.data(), file.size(), back));
        EXPECT_EQ(back.width, 37);
        EXPECT_EQ(back.channels, channels);
        EXPECT_EQ(back.data, image.data) << channels << " channels";
        EXPECT_FALSE(png_io::DecodePng(file.data(), file.size() / 2, back)) << "a truncated file was read";
    }
}

}  // namespace
