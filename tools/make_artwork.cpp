// Draws every image of the program and writes it as resources/images/<number>-<name>.png, plus a
// contact sheet of them all (docs/artwork-contact-sheet.png) with a mock frame of the notes view.
//
//   make_artwork <source folder>
//
// The images are generated, never edited by hand: change this program, run it on the source folder and
// commit its output together with it. The same program always writes the same bytes.
//
// Contents: keyboard | note sprites | sparks | emblem and logo | voice colours | the image set |
//           contact sheet | main
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "resources/images.h"
#include "tools/art_raster.h"
#include "tools/png_io.h"

namespace {

using namespace art;

// --------------------------------------------------------------------------------------------- keyboard
// One octave image is 609 × 492: seven white keys 87 pixels apart (86 of key, one of gap) and five
// black keys whose rectangles the notes view cuts out of the image one key at a time, so each black
// key fills its rectangle exactly and nothing of a neighbour reaches into it.

constexpr int kOctaveWidth = 609;
constexpr int kKeyboardHeight = 492;
constexpr int kWhitePitch = 87;
constexpr int kWhiteWidth = 86;
constexpr int kBlackWidth = 48;
constexpr int kBlackHeight = 341;
constexpr int kBlackLeft[5] = {52, 153, 312, 408, 499};  // C♯ D♯ F♯ G♯ A♯

// Key colours of one keyboard image.
struct KeyScheme {
    Colour white;
    Colour black;
    bool whiteLit;
    bool blackLit;
};

constexpr Colour kIvory = Hex(0xF7F3E8);
constexpr Colour kEbony = Hex(0x222228);
constexpr Colour kFelt = Hex(0x6A1420);
constexpr Colour kGap = Hex(0x14110E);

constexpr KeyScheme kPlain = {kIvory, kEbony, false, false};

// The colour of a white key at column u (0..85) of the key and row y of an image h rows high.
Colour WhiteKeyPixel(const KeyScheme& s, int u, int y, int h) {
    const float fy = static_cast<float>(y) + 0.5f;
    // Felt strip at the back, where the keys disappear under the fallboard.
    if (y < 4) return Scale(kFelt, 0.7f + 0.1f * static_cast<float>(y));
    Colour base = s.white;
    if (s.whiteLit)
        base = Mix(base, Hex(0xFFFFF0), 0.5f * (1 - Smooth(4, 220, fy)));  // lit where the note lands
    float shade = 0.92f + 0.08f * fy / static_cast<float>(h);
    shade *= 0.45f + 0.55f * Smooth(4, 30, fy);  // shadow of the fallboard
    // Rounded long edges, wide enough to survive being drawn at a quarter of the size.
    const float du = std::min(static_cast<float>(u) + 0.5f, static_cast<float>(kWhiteWidth - u) - 0.5f);
    shade *= 0.38f + 0.62f * Smooth(0, 5.5f, du);
    if (u < kWhiteWidth / 2 && du > 5 && du < 8) shade *= 1.03f;  // light catches the left edge
    // Front lip: a bright edge, then the key's front face turning away from the light.
    const int lip = h - 14;
    Colour c = Scale(base, shade);
    if (y == lip - 1 || y == lip - 2) c = Mix(c, Hex(0xFFFFFF), y == lip - 1 ? 0.55f : 0.25f);
    if (y >= lip) {
        const float t = static_cast<float>(y - lip) / 13.0f;
        c = Scale(c, 0.84f - 0.30f * t);
    }
    if (y >= h - 2) c = Scale(c, 0.55f);
    return c;
}

// The colour of a black key at column u (0..47) and row y (0..340).
Colour BlackKeyPixel(const KeyScheme& s, int u, int y) {
    const Colour k = s.black;
    const float fu = static_cast<float>(u) + 0.5f, fy = static_cast<float>(y) + 0.5f;
    const float toLeft = fu / 7.0f, toRight = (kBlackWidth - fu) / 6.0f,
                toFront = (kBlackHeight - fy) / 26.0f;
    Colour c;
    if (toFront < 1 && toFront <= toLeft && toFront <= toRight) {
        // Sloping front face: catches the light along its upper edge.
        const float t = 1 - toFront;
        c = Mix(Mix(k, Hex(0xFFFFFF), s.blackLit ? 0.35f : 0.22f), Scale(k, 0.55f), Smooth(0, 1, t));
    } else if (toLeft < 1 && toLeft <= toRight) {
        c = Mix(Scale(k, 1.45f), Hex(0xFFFFFF), s.blackLit ? 0.12f : 0.06f);
        c = Scale(c, 0.75f + 0.25f * toLeft);
    } else if (toRight < 1) {
        c = Scale(k, 0.42f + 0.2f * toRight);
    } else {
        // Top face: a little lighter towards the player, with a soft sheen left of the middle.
        c = Scale(k, 0.82f + 0.3f * Smooth(0, kBlackHeight, fy));
        const float sheen = 1 - Smooth(0, 6, std::fabs(fu - 15));
        c = Mix(c, Hex(0xFFFFFF), sheen * (0.05f + 0.12f * Smooth(40, 300, fy)));
    }
    if (u == 0 || u == kBlackWidth - 1 || y == kBlackHeight - 1) c = Scale(c, 0.4f);
    if (y < 4) c = Scale(kFelt, 0.4f);  // the black keys run under the felt too
    return c;
}

// Paints keys of one octave whose column 0 lies at canvas x = originX. blackMask bit i enables black
// key i (C♯ = bit 0); every white key that falls on the canvas is painted.
void PaintOctave(Canvas& c, int originX, const KeyScheme& s, unsigned blackMask) {
    const int h = c.height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < c.width; ++x) {
            const int ox = x - originX;
            if (ox < 0 || ox >= kOctaveWidth) continue;
            const int u = ox % kWhitePitch;
            c.Set(x, y, u == kWhiteWidth ? (y < 4 ? Scale(kFelt, 0.5f) : kGap) : WhiteKeyPixel(s, u, y, h));
        }
    // Black keys cast a soft shadow to the right and towards the player.
    for (int i = 0; i < 5; ++i) {
        if (!(blackMask & (1u << i))) continue;
        const float l = static_cast<float>(originX + kBlackLeft[i]);
        auto distance = [&](float px, float py) {
            return RoundRectDistance(px, py, l + 2, -20, l + kBlackWidth + 4, kBlackHeight + 6, 6);
        };
        for (int y = 4; y < h; ++y)
            for (int x = static_cast<int>(l) - 4; x < static_cast<int>(l) + kBlackWidth + 18; ++x) {
                const float d = distance(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f);
                c.Blend(x, y, Hex(0x000000), 0.5f * (1 - Smooth(-3, 10, d)));
            }
    }
    for (int i = 0; i < 5; ++i) {
        if (!(blackMask & (1u << i))) continue;
        for (int y = 0; y < kBlackHeight && y < h; ++y)
            for (int u = 0; u < kBlackWidth; ++u)
                c.Set(originX + kBlackLeft[i] + u, y, BlackKeyPixel(s, u, y));
    }
}

Canvas Octave(const KeyScheme& s) {
    Canvas c(kOctaveWidth, kKeyboardHeight);
    PaintOctave(c, 0, s, 0x1F);
    return c;
}

// The black keys of an octave lit, on the gap colour: the notes view cuts only the black keys out of
// this image, so the white keys are left out and the image ends below the black keys.
Canvas LitBlackKeys(Colour colour) {
    Canvas c(kOctaveWidth, kBlackHeight);
    c.Fill(kGap);
    const KeyScheme s = {colour, colour, true, true};
    for (int i = 0; i < 5; ++i)
        for (int y = 0; y < kBlackHeight; ++y)
            for (int u = 0; u < kBlackWidth; ++u) c.Set(kBlackLeft[i] + u, y, BlackKeyPixel(s, u, y));
    return c;
}

// A0, A♯0 and B0: the last three keys of an octave, without the G♯ that the piano does not have.
Canvas LowEnd() {
    Canvas c(2 * kWhitePitch, 491);
    PaintOctave(c, -5 * kWhitePitch, kPlain, 1u << 4);
    return c;
}

// C8: a white key with no black key beside it.
Canvas TopKey() {
    Canvas c(kWhitePitch, kKeyboardHeight);
    PaintOctave(c, 0, kPlain, 0);
    return c;
}

// ----------------------------------------------------------------------------------------- note sprites
// 96 × 96 with the note itself in the 32 × 32 core at (32, 32)-(64, 64). The notes view draws rows
// 0..34 and 61..95 as unscaled end caps and stretches rows 36..59 to the note's length, so the body's
// rounded ends live in the three core rows of each cap, and every stretched row is identical.

constexpr int kSprite = 96;
constexpr int kCore0 = 32, kCore1 = 64;

// Fraction of pixel (x, y) inside the body: the core with elliptical corners 9 wide and 3 high.
float BodyCoverage(int x, int y) {
    constexpr float rx = 9, ry = 3;
    int inside = 0;
    for (int sy = 0; sy < 8; ++sy)
        for (int sx = 0; sx < 8; ++sx) {
            const float px = static_cast<float>(x) + (static_cast<float>(sx) + 0.5f) / 8;
            const float py = static_cast<float>(y) + (static_cast<float>(sy) + 0.5f) / 8;
            if (px < kCore0 || px > kCore1 || py < kCore0 || py > kCore1) continue;
            const float cx = std::clamp(px, kCore0 + rx, kCore1 - rx);
            const float cy = std::clamp(py, kCore0 + ry, kCore1 - ry);
            const float ex = (px - cx) / rx, ey = (py - cy) / ry;
            if (ex * ex + ey * ey <= 1) ++inside;
        }
    return static_cast<float>(inside) / 64.0f;
}

// A note body: a rounded bar lit from the upper left like a glossy cylinder.
Canvas NoteBody(Colour base) {
    Canvas c(kSprite, kSprite);
    for (int y = kCore0; y < kCore1; ++y)
        for (int x = kCore0; x < kCore1; ++x) {
            const float cover = BodyCoverage(x, y);
            if (cover <= 0) continue;
            const float n = (static_cast<float>(x - kCore0) + 0.5f) / 16.0f - 1;  // -1..1 across
            const float round = std::sqrt(std::max(0.0f, 1 - n * n));
            Colour col = Scale(base, 0.55f + 0.5f * round);
            const float spec = 1 - Smooth(0, 0.22f, std::fabs(n + 0.38f));
            col = Mix(col, Hex(0xFFFFFF), 0.45f * spec);
            if (std::fabs(n) > 0.8f) col = Scale(col, 0.8f);  // dark rim keeps the edge crisp when shrunk
            // The end caps: the far end catches light, the near end falls into shade.
            const int row = y - kCore0;
            if (row < 3) col = Mix(col, Hex(0xFFFFFF), 0.18f * static_cast<float>(3 - row) / 3);
            if (row > 28) col = Scale(col, 1 - 0.1f * static_cast<float>(row - 28));
            c.Blend(x, y, col, cover);
        }
    return c;
}

// A glow: a soft translucent ring around the core, brightest at the core's edge and gone at the image
// border; the core itself is left clear so the glow can lie over or under its body.
Canvas NoteGlow(Colour colour, float peak) {
    Canvas c(kSprite, kSprite);
    for (int y = 0; y < kSprite; ++y)
        for (int x = 0; x < kSprite; ++x) {
            const float d = RoundRectDistance(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f,
                                              kCore0, kCore0, kCore1, kCore1, 3);
            if (d <= 0) continue;
            const float f = Clamp01(1 - d / 31.5f);
            const float alpha = peak * f * f * (0.55f + 0.45f * f);
            const Colour col = Mix(colour, Hex(0xFFFFFF), 0.35f * (1 - Smooth(0, 4, d)));
            c.Blend(x, y, col, alpha * Smooth(0, 1.5f, d));
        }
    return c;
}

// --------------------------------------------------------------------------------------------- sparks
// Drawn over a rectangle three key widths wide and two high, centred on the lit key's top edge.

// The large glow fills the whole rectangle and so spreads along the top of the keyboard.
Canvas SparkGlow() {
    Canvas c(kSprite, kSprite);
    for (int y = 0; y < kSprite; ++y)
        for (int x = 0; x < kSprite; ++x) {
            const float t = Length((static_cast<float>(x) + 0.5f - 48) / 47.5f,
                                   (static_cast<float>(y) + 0.5f - 48) / 47.5f);
            const float f = Clamp01(1 - t);
            c.Blend(x, y, Mix(Hex(0xFF2A10), Hex(0xFFA050), f * f), 0.9f * Smooth(0, 1, f) * f);
        }
    return c;
}

// The disc is 2:3 in the image so that it shows round on the 3:2 rectangle.
Canvas SparkDisc() {
    Canvas c(kSprite, kSprite);
    constexpr float rx = 19, ry = 28.5f;
    for (int y = 0; y < kSprite; ++y)
        for (int x = 0; x < kSprite; ++x) {
            const float px = static_cast<float>(x) + 0.5f, py = static_cast<float>(y) + 0.5f;
            const float t = Length((px - 48) / rx, (py - 48) / ry);
            const float d = EllipseDistance(px, py, 48, 48, rx, ry);
            Colour col = Mix(Hex(0xFFF4E0), Hex(0xFF3A18), Smooth(0.05f, 0.6f, t));
            col = Mix(col, Hex(0xC00C08), Smooth(0.6f, 1.0f, t));
            const float halo = Clamp01(1 - (t - 1) / 0.6f);
            if (t > 0.9f) c.Blend(x, y, Hex(0xFF3018), 0.5f * halo * halo);
            c.Blend(x, y, col, Coverage(d));
        }
    return c;
}

// ------------------------------------------------------------------------------- emblem and logo

constexpr Colour kPart0 = Hex(0xF6C21C);      // yellow: part 0 on white keys
constexpr Colour kPart0Dark = Hex(0xF0801A);  // orange: part 0 on black keys
constexpr Colour kPart1 = Hex(0xA4D62A);      // yellow-green: part 1 on white keys
constexpr Colour kPart1Dark = Hex(0x3CA834);  // green: part 1 on black keys
constexpr Colour kNavy = Hex(0x12305A);

// The program's emblem in the square (x0, y0) of side size: a few keys of a keyboard with two notes
// falling onto them, one already lighting its key.
void PaintEmblem(Canvas& c, float x0, float y0, float size) {
    auto X = [&](float u) { return x0 + u * size; };
    auto Y = [&](float v) { return y0 + v * size; };
    const int ix0 = static_cast<int>(x0) - 1, iy0 = static_cast<int>(y0) - 1;
    const int ix1 = static_cast<int>(x0 + size) + 2, iy1 = static_cast<int>(y0 + size) + 2;
    Paint(
        c, ix0, iy0, ix1, iy1,
        [&](float px, float py) { return RoundRectDistance(px, py, X(0), Y(0), X(1), Y(1), 0.2f * size); },
        [&](int, int y) {
            return Mix(Hex(0x1E4274), Hex(0x081830), Clamp01((static_cast<float>(y) - y0) / size));
        });
    // Keys: five white keys with three black keys (C D E F G), the fourth lit green.
    const float kx0 = 0.12f, kx1 = 0.88f, top = 0.64f, bottom = 0.88f, pitch = (kx1 - kx0) / 5;
    for (int k = 0; k < 5; ++k) {
        const float l = kx0 + pitch * static_cast<float>(k), r = l + pitch - 0.018f;
        const Colour face = k == 3 ? kPart1 : kIvory;
        Paint(
            c, ix0, iy0, ix1, iy1,
            [&](float px, float py) {
                return RoundRectDistance(px, py, X(l), Y(top), X(r), Y(bottom), 0.02f * size);
            },
            [&](int, int y) {
                const float v = (static_cast<float>(y) + 0.5f - y0) / size;
                return v > bottom - 0.04f ? Scale(face, 0.72f)
                                          : Scale(face, 0.8f + 0.2f * Smooth(top, top + 0.1f, v));
            });
    }
    const float blacks[3] = {1, 2, 4};
    for (float b : blacks) {
        const float cx = kx0 + pitch * b - 0.009f;
        Paint(
            c, ix0, iy0, ix1, iy1,
            [&](float px, float py) {
                return RoundRectDistance(px, py, X(cx - 0.045f), Y(top - 0.01f), X(cx + 0.045f),
                                         Y(top + 0.14f), 0.015f * size);
            },
            [&](int, int) { return Hex(0x18181C); });
    }
    Paint(
        c, ix0, iy0, ix1, iy1,
        [&](float px, float py) {
            return RoundRectDistance(px, py, X(kx0), Y(top - 0.02f), X(kx1 - 0.018f), Y(top + 0.005f), 0);
        },
        [&](int, int) { return kFelt; });
    // Notes: a rounded bar with a soft glow around it.
    auto note = [&](float key, float v0, float v1, Colour col) {
        const float l = kx0 + pitch * key + 0.02f, r = kx0 + pitch * (key + 1) - 0.038f;
        auto body = [&](float px, float py) {
            return RoundRectDistance(px, py, X(l), Y(v0), X(r), Y(v1), 0.04f * size);
        };
        Paint(
            c, ix0, iy0, ix1, iy1, [&](float px, float py) { return body(px, py) - 0.06f * size; },
            [&](int, int) { return col; }, 0.0f);
        for (int y = iy0; y < iy1; ++y)
            for (int x = ix0; x < ix1; ++x) {
                const float d =
                    body(static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f) / (0.08f * size);
                if (d > 0 && d < 1 && y < static_cast<int>(Y(0.98f)))
                    c.Blend(x, y, col, 0.45f * (1 - d) * (1 - d));
            }
        Paint(c, ix0, iy0, ix1, iy1, body, [&](int x, int) {
            const float n = (static_cast<float>(x) + 0.5f - X(l)) / (X(r) - X(l)) * 2 - 1;
            return Mix(Scale(col, 0.7f + 0.3f * std::sqrt(std::max(0.0f, 1 - n * n))), Hex(0xFFFFFF),
                       0.4f * (1 - Smooth(0, 0.35f, std::fabs(n + 0.35f))));
        });
    };
    note(1, 0.12f, 0.46f, kPart0);
    note(3, 0.30f, top - 0.02f, kPart1);
    // The spark where the green note meets its key.
    const float sx = X(kx0 + pitch * 3.5f - 0.009f), sy = Y(top - 0.008f);
    for (int y = iy0; y < iy1; ++y)
        for (int x = ix0; x < ix1; ++x) {
            const float d =
                Length(static_cast<float>(x) + 0.5f - sx, (static_cast<float>(y) + 0.5f - sy) * 1.4f) /
                (0.15f * size);
            if (d < 1)
                c.Blend(x, y, Mix(Hex(0xFFF0D0), Hex(0xFF3010), Smooth(0, 0.6f, d)), Smooth(0, 1, 1 - d));
        }
}

Canvas Icon() {
    Canvas c(64, 64);
    PaintEmblem(c, 1, 1, 62);
    return c;
}

// The emblem drawn afresh at a desktop icon size, so that large icons stay sharp; 64 is the
// window's icon exactly.
Canvas DesktopIcon(int size) {
    Canvas c(size, size);
    const int margin = std::max(1, size / 64);
    PaintEmblem(c, static_cast<float>(margin), static_cast<float>(margin),
                static_cast<float>(size - 2 * margin));
    return c;
}

// The product name on white beside the emblem, 174 × 50.
Canvas Logo() {
    Canvas c(174, 50);
    c.Fill(Hex(0xFFFFFF));
    PaintEmblem(c, 3, 4, 42);
    auto navy = [](int, int) { return kNavy; };
    auto grey = [](int, int) { return Hex(0x4A5A74); };
    const float big = 0.36f, small = 0.15f, tracking = 12;
    const float left = 52, width = 174 - left - 3;
    const float w1 = TextAdvance("Dorvik") * big, w2 = TextAdvance("Midi Player", tracking) * small;
    DrawText(c, "Dorvik", left + (width - w1) * 0.5f, 30, big, 13, navy);
    DrawText(c, "Midi Player", left + (width - w2) * 0.5f, 44.5f, small, 11, grey, tracking);
    return c;
}

// ------------------------------------------------------------------------------------ voice colours
// The colours after the hands' two, for songs read by voices. Each has a light shade for notes and
// keys on white keys, a deeper one for black keys, and a glow. They were picked (greedily, each the
// farthest from those before it) from the sRGB colours light enough to read on the dark ground and
// far enough from the ivory of an unlit key, by their CIEDE2000 distance as seen with normal sight and
// as simulated for protanopia, deuteranopia and tritanopia, so that the voices of a large band stay
// apart for most viewers; the earlier a colour, the farther it is from the ones before, so that a
// small band gets the most distinct. The artwork test measures the distances.

struct VoiceColour {
    const char* name;
    Colour light, dark, glow;
};

// A deeper shade for black keys: the light one at 78%, as the first two were drawn by hand.
constexpr Colour Deeper(uint32_t rgb) {
    return Hex(((((rgb >> 16) & 0xFF) * 78 / 100) << 16) | ((((rgb >> 8) & 0xFF) * 78 / 100) << 8) |
               ((rgb & 0xFF) * 78 / 100));
}
constexpr VoiceColour Voice(const char* name, uint32_t rgb) {
    return {name, Hex(rgb), Deeper(rgb), Hex(rgb)};
}

constexpr VoiceColour kVoiceColours[] = {
    {"red", Hex(0xFF4A3C), Hex(0xD02020), Hex(0xFF5030)},
    {"blue", Hex(0x3C8CFF), Hex(0x2060E8), Hex(0x4890FF)},
    Voice("turquoise", 0x00F0E0),
    Voice("mauve", 0xB080A0),
    Voice("salmon", 0xFF80A0),
    Voice("coral", 0xF06070),
    Voice("sky", 0x90C0FF),
    Voice("magenta", 0xFF20C0),
    Voice("pistachio", 0xA0E080),
    Voice("teal", 0x20C0A0),
    Voice("orchid", 0xE090D0),
    Voice("khaki", 0xC0B060),
    Voice("fuchsia", 0xFF10FF),
    Voice("gold", 0xD0A000),
    Voice("rosewood", 0xD07080),
    Voice("green", 0x30A040),
    Voice("mint", 0x80E0A0),
    Voice("lilac", 0xA080D0),
};
static_assert(std::size(kVoiceColours) == res::kNoteColourCount - 2, "one entry per voice colour");

// -------------------------------------------------------------------------------------- the image set

struct Art {
    int id;
    std::string name;
    Canvas image;
    bool opaque;  // written without an alpha channel
};

std::vector<Art> MakeImages() {
    std::vector<Art> set;
    set.push_back({105, "icon", Icon(), false});
    set.push_back({125, "note-green-black", NoteBody(kPart1Dark), false});
    set.push_back({126, "glow-green-black", NoteGlow(Hex(0x48D040), 0.75f), false});
    set.push_back({127, "note-yellowgreen-white", NoteBody(kPart1), false});
    set.push_back({128, "glow-yellowgreen-white", NoteGlow(Hex(0xB8F040), 0.7f), false});
    set.push_back({130, "glow-orange-black", NoteGlow(Hex(0xFF7818), 0.75f), false});
    set.push_back({131, "note-yellow-white", NoteBody(kPart0), false});
    set.push_back({132, "glow-orange-white", NoteGlow(Hex(0xFF9A20), 0.7f), false});
    set.push_back({134, "keyboard-low-end", LowEnd(), true});
    set.push_back({136, "keyboard-octave-lit-green", Octave({kPart1Dark, kPart1Dark, true, true}), true});
    set.push_back({137, "keyboard-octave-lit-tan", Octave({Hex(0xE0A050), Hex(0xD88A38), true, true}), true});
    set.push_back({138, "keyboard-octave-lit-yellowgreen", Octave({kPart1, kEbony, true, false}), true});
    set.push_back({139, "keyboard-octave-lit-yellow", Octave({kPart0, kEbony, true, false}), true});
    set.push_back({140, "keyboard-top-key", TopKey(), true});
    set.push_back({141, "note-orange-black", NoteBody(kPart0Dark), false});
    set.push_back({142, "keyboard-octave", Octave(kPlain), true});
    set.push_back({145, "logo", Logo(), true});
    set.push_back({146, "spark-disc", SparkDisc(), false});
    set.push_back({147, "spark-glow", SparkGlow(), false});
    for (int c = 2; c < res::kNoteColourCount; ++c) {
        const VoiceColour& v = kVoiceColours[c - 2];
        auto add = [&](int slot, const char* what, Canvas image, bool opaque) {
            set.push_back(
                {res::VoiceImageId(c, slot), std::string(what) + "-" + v.name, std::move(image), opaque});
        };
        add(res::VoiceBodyWhite, "note-white-key", NoteBody(v.light), false);
        add(res::VoiceBodyBlack, "note-black-key", NoteBody(v.dark), false);
        add(res::VoiceGlow, "glow", NoteGlow(v.glow, 0.72f), false);
        add(res::VoiceLitWhiteKeys, "keyboard-octave-lit-white-keys", Octave({v.light, kEbony, true, false}),
            true);
        add(res::VoiceLitBlackKeys, "keyboard-lit-black-keys", LitBlackKeys(v.dark), true);
    }
    return set;
}

const Canvas& Find(const std::vector<Art>& set, int id) {
    for (const Art& a : set)
        if (a.id == id) return a.image;
    std::fprintf(stderr, "make_artwork: no image %d\n", id);
    std::abort();
}

// -------------------------------------------------------------------------------------- contact sheet

// The images the notes view draws a colour with: note bodies and glows over white and black keys, and
// the keyboard images its lit white and black keys are cut from.
struct ColourIds {
    int body[2], glow[2], lit[2];
    bool glowOverWhiteBody;  // the first hand's yellow notes wear their glow on top
};

ColourIds IdsOf(int colour) {
    if (colour == 0) return {{131, 141}, {132, 130}, {139, 137}, true};
    if (colour == 1) return {{127, 125}, {128, 126}, {138, 136}, false};
    auto id = [&](int slot) { return res::VoiceImageId(colour, slot); };
    return {{id(res::VoiceBodyWhite), id(res::VoiceBodyBlack)},
            {id(res::VoiceGlow), id(res::VoiceGlow)},
            {id(res::VoiceLitWhiteKeys), id(res::VoiceLitBlackKeys)},
            false};
}

struct MockNote {
    int colour, key;
    float start, end, velocity;
};

// A mock frame of the notes view, 1040 wide, composed from the images exactly as the view draws them.
Canvas MockFrame(const std::vector<Art>& set, const std::vector<MockNote>& notes) {
    constexpr float W = 1040, H = 420, kb = W * 0.125f, notesH = H - kb;
    constexpr float w = W / 52, o = 7 * w;
    Canvas c(static_cast<int>(W), static_cast<int>(H));
    c.Fill(Hex(0x000000));

    struct Key {
        bool black;
        RectF source, rect, spark;
        int colour = -1;
        float level = 0;
    } keys[88];
    static const int kBlackPattern[12] = {0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1};
    float x = 0, g = 2 * w - o;
    int white = 5, black = 4;
    for (int k = 0; k < 88; ++k) {
        Key& key = keys[k];
        key.black = kBlackPattern[k % 12] != 0;
        key.rect.top = H - kb;
        if (!key.black) {
            key.rect.left = x;
            key.rect.right = x + w - 1;
            key.rect.bottom = H - 1;
            x += w;
            const float l = static_cast<float>(kWhitePitch * (white % 7));
            key.source = {l, 0, l + kWhiteWidth, kKeyboardHeight};
            ++white;
        } else {
            key.rect.bottom = key.rect.top + kb * kBlackHeight / kKeyboardHeight;
            if (black % 5 == 0) g += o;
            const float l = static_cast<float>(kBlackLeft[black % 5]);
            key.source = {l, 0, l + kBlackWidth, kBlackHeight};
            key.rect.left = l * 7 * w / kOctaveWidth + g;
            key.rect.right = kBlackWidth * o / kOctaveWidth + key.rect.left;
            ++black;
        }
        const float kw = key.rect.right - key.rect.left;
        key.spark = {key.rect.left - kw, key.rect.top - kw, key.rect.right + kw, key.rect.top + kw};
    }

    // Grid: octave columns alternating by bar, a line at every C, two bar lines.
    const float now = 10.0f, lookAhead = 3.0f, top = now + lookAhead;
    auto yAt = [&](float t) { return (top - t) * notesH / lookAhead; };
    const float xc = keys[3].rect.left, oct = keys[15].rect.left - xc;
    const float bars[2] = {10.9f, 12.7f};
    float segBottom = notesH;
    for (int i = 0; i <= 2; ++i) {
        const float segTop = i < 2 ? yAt(bars[i]) : -1;
        for (int j = 0; j < 5; ++j) {
            float l = 2 * static_cast<float>(j) * oct + xc - (i % 2 == 1 ? oct : 0);
            const float r = std::min(l + oct - 1, W - 1);
            l = std::max(0.0f, l);
            for (int yy = static_cast<int>(segTop + 1); yy < static_cast<int>(segBottom - 1); ++yy)
                for (int xx = static_cast<int>(l); xx < static_cast<int>(r); ++xx)
                    c.Set(xx, yy, Hex(0x101010));
        }
        if (i < 2) {
            for (int xx = 0; xx < static_cast<int>(W); ++xx)
                c.Set(xx, static_cast<int>(segTop), Hex(0x404040));
            char number[8];
            std::snprintf(number, sizeof number, "%d", 24 + i);
            DrawText(c, number, 26, segTop + 15, 0.16f, 14, [](int, int) { return Hex(0xD0D0D0); });
        }
        segBottom = segTop;
    }
    for (int j = 0; j < 8; ++j)
        for (int yy = 0; yy < static_cast<int>(notesH); ++yy)
            c.Set(static_cast<int>(xc + j * oct), yy, Hex(0x202020));

    for (const MockNote& n : notes) {
        Key& key = keys[n.key - 21];
        RectF r = {key.rect.left, yAt(n.end) - 32, key.rect.right, yAt(n.start) + 32};
        const float a = std::max(1.0f, n.velocity) / 256 + 0.5f;
        const int b = key.black ? 1 : 0;
        const ColourIds ids = IdsOf(n.colour);
        const Canvas &body = Find(set, ids.body[b]), &glow = Find(set, ids.glow[b]);
        RectF r2 = r;
        if (ids.glowOverWhiteBody && !b) {
            DrawNoteSprite(c, body, r, notesH, 1);
            DrawNoteSprite(c, glow, r2, notesH, a);
        } else {
            DrawNoteSprite(c, glow, r, notesH, a);
            DrawNoteSprite(c, body, r2, notesH, 1);
        }
        if (n.start < now && now < n.end && key.colour < 0) {
            key.colour = n.colour;
            key.level = n.velocity / 127 * (1 - (now - n.start) / (n.end - n.start));
        }
    }

    DrawPart(c, Find(set, 134), {0, notesH, 2 * w, keys[0].rect.bottom}, {0, 0, 174, 491}, 1);
    for (int i = 0; i < 7; ++i)
        DrawWhole(c, Find(set, 142), {2 * w + i * o, notesH, 2 * w + (i + 1) * o, keys[0].rect.bottom}, 1);
    DrawWhole(c, Find(set, 140), {51 * w, notesH, 52 * w, keys[0].rect.bottom}, 1);
    for (int pass = 0; pass < 2; ++pass)
        for (Key& key : keys) {
            if (key.colour < 0 || key.black != (pass == 1)) continue;
            DrawPart(c, Find(set, IdsOf(key.colour).lit[key.black ? 1 : 0]), key.rect, key.source, 1);
            DrawWhole(c, Find(set, 147), key.spark, key.level);
            DrawWhole(c, Find(set, 146), key.spark, key.level);
        }
    return c;
}

// A two-hand piano piece: the first hand high in yellow and orange, the second low in green.
const std::vector<MockNote> kHandNotes = {
    {0, 76, 9.6f, 10.4f, 100}, {0, 79, 9.9f, 10.5f, 90},  {0, 75, 9.7f, 10.3f, 110},
    {0, 84, 10.6f, 11.4f, 80}, {0, 83, 11.5f, 12.1f, 70}, {0, 81, 12.2f, 13.8f, 90},
    {0, 85, 10.2f, 10.9f, 80}, {0, 78, 11.0f, 11.6f, 60}, {1, 48, 9.5f, 11.0f, 90},
    {1, 55, 9.8f, 10.6f, 70},  {1, 58, 9.9f, 10.7f, 100}, {1, 52, 11.2f, 12.0f, 80},
    {1, 43, 11.4f, 12.9f, 70}, {1, 54, 12.1f, 12.6f, 60}, {1, 60, 12.4f, 14.0f, 90},
};

// A band read by voices: every colour sounds, on white and on black keys, some side by side.
const std::vector<MockNote> kVoiceNotes = {
    {0, 84, 9.6f, 10.4f, 100},  {0, 88, 10.6f, 11.3f, 90},  {0, 86, 11.5f, 12.4f, 90},
    {1, 72, 9.7f, 10.6f, 80},   {1, 75, 10.8f, 11.5f, 80},  {2, 33, 9.5f, 10.5f, 110},
    {2, 36, 10.7f, 11.8f, 110}, {2, 34, 12.0f, 12.8f, 100}, {3, 60, 9.8f, 11.8f, 70},
    {3, 63, 9.8f, 11.8f, 70},   {4, 67, 9.9f, 10.9f, 80},   {4, 70, 11.1f, 12.3f, 80},
    {5, 48, 9.4f, 10.6f, 90},   {5, 51, 10.9f, 12.0f, 90},  {6, 91, 9.9f, 10.2f, 60},
    {6, 94, 10.5f, 11.0f, 60},  {6, 96, 11.4f, 12.0f, 60},  {7, 55, 9.6f, 10.3f, 90},
    {7, 58, 10.6f, 11.6f, 90},  {8, 42, 9.7f, 11.0f, 80},   {8, 45, 11.3f, 12.6f, 80},
    {9, 79, 9.5f, 10.4f, 70},   {9, 78, 10.7f, 11.9f, 70},  {9, 81, 12.1f, 13.0f, 70},
};

// Each voice colour at a quarter of the size: its octave with every key lit, as the view cuts white keys
// from the one image and black keys from the other, and below it its sprites on black.
void PaintVoiceColours(Canvas& sheet, const std::vector<Art>& set, float firstTop) {
    constexpr int kPerRow = 8;
    for (int colour = 2; colour < res::kNoteColourCount; ++colour) {
        const float x = 40 + static_cast<float>((colour - 2) % kPerRow) * 160;
        const float w = kOctaveWidth / 4.0f, h = kKeyboardHeight / 4.0f;
        const float top = firstTop + static_cast<float>((colour - 2) / kPerRow) * (h + 110);
        DrawWhole(sheet, Find(set, res::VoiceImageId(colour, res::VoiceLitWhiteKeys)),
                  {x, top, x + w, top + h}, 1);
        for (int left : kBlackLeft) {
            const float l = static_cast<float>(left);
            DrawPart(sheet, Find(set, res::VoiceImageId(colour, res::VoiceLitBlackKeys)),
                     {x + l / 4, top, x + (l + kBlackWidth) / 4, top + kBlackHeight / 4.0f},
                     {l, 0, l + kBlackWidth, kBlackHeight}, 1);
        }
        const int sprites[3] = {res::VoiceBodyWhite, res::VoiceBodyBlack, res::VoiceGlow};
        for (int i = 0; i < 3; ++i) {
            const float sx = x + static_cast<float>(i) * 50;
            for (int y = static_cast<int>(top + h + 10); y < static_cast<int>(top + h + 58); ++y)
                for (int xx = static_cast<int>(sx); xx < static_cast<int>(sx + 48); ++xx)
                    sheet.Set(xx, y, Hex(0x000000));
            DrawWhole(sheet, Find(set, res::VoiceImageId(colour, sprites[i])),
                      {sx, top + h + 10, sx + 48, top + h + 58}, 1);
        }
        char text[8];
        std::snprintf(text, sizeof text, "%d", res::VoiceImageId(colour, 0));
        DrawText(sheet, text, x, top + h + 88, 0.2f, 12, [](int, int) { return Hex(0xE0E0E0); });
    }
}

// Every image labelled by number: opaque ones once, the others on a dark and on a light ground, below
// the mock frames; each voice colour in a column of its own at the bottom.
Canvas ContactSheet(const std::vector<Art>& set) {
    Canvas sheet(1340, 2290);
    sheet.Fill(Hex(0x2A2D33));
    auto label = [&](int id, float x, float y) {
        char text[8];
        std::snprintf(text, sizeof text, "%d", id);
        DrawText(sheet, text, x, y, 0.2f, 12, [](int, int) { return Hex(0xE0E0E0); });
    };
    DrawWhole(sheet, MockFrame(set, kHandNotes), {150, 30, 1190, 450}, 1);

    // Keyboard images at a third of their size, in keyboard order.
    float x = 40;
    const int keyboardIds[] = {134, 142, 139, 138, 137, 136, 140};
    for (int id : keyboardIds) {
        const Canvas& img = Find(set, id);
        const float w = static_cast<float>(img.width) / 3, h = static_cast<float>(img.height) / 3;
        DrawWhole(sheet, img, {x, 480, x + w, 480 + h}, 1);
        label(id, x, 680);
        x += w + 24;
    }

    // Sprites: dark ground above, light ground below.
    const int spriteIds[] = {131, 132, 141, 130, 127, 128, 125, 126, 147, 146};
    x = 40;
    for (int id : spriteIds) {
        for (int y = 710; y < 806; ++y)
            for (int xx = static_cast<int>(x); xx < static_cast<int>(x) + 96; ++xx)
                sheet.Set(xx, y, Hex(0x000000));
        for (int y = 806; y < 902; ++y)
            for (int xx = static_cast<int>(x); xx < static_cast<int>(x) + 96; ++xx)
                sheet.Set(xx, y, Hex(0xE8E8E8));
        DrawWhole(sheet, Find(set, id), {x, 710, x + 96, 806}, 1);
        DrawWhole(sheet, Find(set, id), {x, 806, x + 96, 902}, 1);
        label(id, x, 930);
        x += 96 + 8;
    }

    // Logo and icon, each at its own size and at double size.
    const Canvas& logo = Find(set, 145);
    DrawWhole(sheet, logo, {40, 960, 214, 1010}, 1);
    DrawWhole(sheet, logo, {234, 960, 582, 1060}, 1);
    label(145, 40, 1090);
    const Canvas& icon = Find(set, 105);
    for (int y = 960; y < 1088; ++y)
        for (int xx = 620; xx < 1000; ++xx) sheet.Set(xx, y, xx < 810 ? Hex(0x000000) : Hex(0xE8E8E8));
    DrawWhole(sheet, icon, {630, 992, 694, 1056}, 1);
    DrawWhole(sheet, icon, {704, 966, 800, 1062}, 1);  // 1.5 times
    DrawWhole(sheet, icon, {820, 992, 884, 1056}, 1);
    DrawWhole(sheet, icon, {894, 966, 990, 1062}, 1);
    label(105, 620, 1104);

    DrawWhole(sheet, MockFrame(set, kVoiceNotes), {150, 1140, 1190, 1560}, 1);
    PaintVoiceColours(sheet, set, 1590);
    return sheet;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_artwork <source folder>\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::vector<Art> set = MakeImages();
    for (const Art& a : set) {
        char name[128];
        std::snprintf(name, sizeof name, "/resources/images/%d-%s.png", a.id, a.name.c_str());
        if (!WriteFile(root + name, png_io::EncodePng(a.image.ToPixels(a.opaque ? 3 : 4)))) {
            std::fprintf(stderr, "make_artwork: cannot write %s%s\n", root.c_str(), name);
            return 1;
        }
    }
    for (const int size : {48, 64, 128, 256}) {
        char name[128];
        std::snprintf(name, sizeof name, "/data/icons/%dx%d/dorvik-midi-player.png", size, size);
        std::error_code ignored;  // a folder that cannot be made shows as a file that cannot be written
        std::filesystem::create_directories(std::filesystem::path(root + name).parent_path(), ignored);
        if (!WriteFile(root + name, png_io::EncodePng(DesktopIcon(size).ToPixels(4)))) {
            std::fprintf(stderr, "make_artwork: cannot write %s%s\n", root.c_str(), name);
            return 1;
        }
    }
    const std::string sheet = root + "/docs/artwork-contact-sheet.png";
    if (!WriteFile(sheet, png_io::EncodePng(ContactSheet(set).ToPixels(3)))) {
        std::fprintf(stderr, "make_artwork: cannot write %s\n", sheet.c_str());
        return 1;
    }
    return 0;
}
