// The pixel arithmetic of the software rasteriser: blending 32-bit ARGB pixels one at a time and
// a row at a time, with SSE2 and, where the processor has them, 256-bit lanes.
//
// Every blend is the SDL software renderer's integer arithmetic, so that pixels drawn here are the
// pixels the renderer would draw: each channel is c * alpha / 255 + d * (255 - alpha) / 255, both
// divisions truncating.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Blending works on the four channels of a pixel at once, each widened to 16 bits of a 64-bit
// word, so that products of two channels cannot spill into the next one.
inline constexpr uint64_t kLaneLow = 0x00FF00FF00FF00FFull;

inline uint64_t Widen(uint32_t p) {
    return (static_cast<uint64_t>(p & 0xFF00FF00u) << 24) | (p & 0x00FF00FFu);
}

inline uint32_t Narrow(uint64_t lanes) {
    return static_cast<uint32_t>((lanes & 0x00FF00FFu) | ((lanes >> 24) & 0xFF00FF00u));
}

// Each lane (at most 255 * 255) divided by 255, rounding down, as an exact shift-and-add.
inline uint64_t DivideLanesBy255(uint64_t lanes) {
    return ((lanes + 0x0001000100010001ull + ((lanes >> 8) & kLaneLow)) >> 8) & kLaneLow;
}

// `colour` (alpha ignored) over `dst` with coverage `alpha`; the alpha channel comes out as
// alpha + dA * (255 - alpha) / 255.
inline uint32_t BlendOver(uint32_t colour, uint32_t dst, uint32_t alpha) {
    const uint64_t src = DivideLanesBy255(Widen(colour | 0xFF000000u) * alpha);
    return Narrow(src + DivideLanesBy255(Widen(dst) * (255 - alpha)));
}

// A pixel as a source term: each channel already multiplied by alpha * opacity / 255 (over 255,
// rounding down), with that alpha on top.
inline uint32_t SourceTerm(uint32_t p, uint32_t opacity) {
    const uint32_t a = (p >> 24) * opacity / 255;
    return Narrow(DivideLanesBy255(Widen(p | 0xFF000000u) * a));
}

// Pixels of `in` picked by `columns[from..to)` over `out[from..to)`, each with its alpha scaled
// by `opacity`. An opaque pixel comes out as itself and a transparent one leaves the destination
// as it was.
void BlendPicked(const uint32_t* in, const int32_t* columns, ptrdiff_t from, ptrdiff_t to, uint32_t opacity,
                 uint32_t* out);

// Source terms (see SourceTerm) over `out[0..n)`: the same arithmetic as BlendPicked with the
// first product done beforehand.
void BlendTerms(const uint32_t* in, uint32_t* out, ptrdiff_t n);
// The same over pixels that are all `flat` (a fill not yet written), which are not read.
void BlendTermsOverFlat(const uint32_t* in, uint32_t* out, ptrdiff_t n, uint32_t flat);

}  // namespace platform
