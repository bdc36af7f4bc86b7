// Contents: one pixel at a time and SSE2 blends of picked pixels; blends of source terms with
// 256-bit lanes, SSE2 and one pixel at a time.
#include "platform/raster_blend.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace platform {

void BlendPicked(const uint32_t* in, const int32_t* columns, ptrdiff_t from, ptrdiff_t to, uint32_t opacity,
                 uint32_t* out) {
    ptrdiff_t i = from;
#if defined(__SSE2__)
    // Four pixels at a time, two to a register with a 16-bit lane per channel. The division by
    // 255 is the same exact shift-and-add as the one-pixel version.
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1);
    const __m128i full = _mm_set1_epi16(255);
    const __m128i opaqueAlpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i mod = _mm_set1_epi32(static_cast<int>(opacity));
    auto divide = [&](__m128i x) {
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
    };
    for (; i + 4 <= to; i += 4) {
        const __m128i src =
            _mm_set_epi32(static_cast<int>(in[columns[i + 3]]), static_cast<int>(in[columns[i + 2]]),
                          static_cast<int>(in[columns[i + 1]]), static_cast<int>(in[columns[i]]));
        const __m128i dst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
        // Each pixel's alpha times the opacity, over 255, then copied to all four of its lanes.
        __m128i alpha = divide(_mm_mullo_epi16(_mm_srli_epi32(src, 24), mod));
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
        const __m128i alphaLow = _mm_unpacklo_epi32(alpha, alpha);
        const __m128i alphaHigh = _mm_unpackhi_epi32(alpha, alpha);
        const __m128i colour = _mm_or_si128(src, opaqueAlpha);  // the alpha lane yields alpha itself
        const __m128i low = _mm_add_epi16(
            divide(_mm_mullo_epi16(_mm_unpacklo_epi8(colour, zero), alphaLow)),
            divide(_mm_mullo_epi16(_mm_unpacklo_epi8(dst, zero), _mm_sub_epi16(full, alphaLow))));
        const __m128i high = _mm_add_epi16(
            divide(_mm_mullo_epi16(_mm_unpackhi_epi8(colour, zero), alphaHigh)),
            divide(_mm_mullo_epi16(_mm_unpackhi_epi8(dst, zero), _mm_sub_epi16(full, alphaHigh))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
    }
#endif
    for (; i < to; ++i) {
        const uint32_t p = in[columns[i]];
        const uint32_t a = (p >> 24) * opacity / 255;
        if (a != 0) out[i] = BlendOver(p, out[i], a);
    }
}

namespace {

// Source terms of a strip over `out[0..n)`: each lane of a term is a channel already multiplied by
// the pixel's alpha (over 255, rounding down), with that alpha on top, so the blend is the same
// arithmetic as BlendPicked with the first product done beforehand. With kFlat the pixels under
// are all `flat` (a fill not yet written) and are not read.
#if defined(__x86_64__) && defined(__GNUC__)
// Eight pixels at a time where the processor has 256-bit integer lanes: the same steps as the
// four-pixel loop below, each 128-bit half on its own. Returns how many pixels it did.
template <bool kFlat>
__attribute__((target("avx2"))) ptrdiff_t BlendTermsWide(const uint32_t* in, uint32_t* out, ptrdiff_t n,
                                                         uint32_t flat) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i full = _mm256_set1_epi16(255);
    const __m256i flatWide = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(flat)), zero);
    ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i src = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        __m256i dstLow = flatWide, dstHigh = flatWide;
        if constexpr (!kFlat) {
            const __m256i dst = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out + i));
            dstLow = _mm256_unpacklo_epi8(dst, zero);
            dstHigh = _mm256_unpackhi_epi8(dst, zero);
        }
        __m256i alpha = _mm256_srli_epi32(src, 24);
        alpha = _mm256_or_si256(alpha, _mm256_slli_epi32(alpha, 16));
        const __m256i keepLow = _mm256_sub_epi16(full, _mm256_unpacklo_epi32(alpha, alpha));
        const __m256i keepHigh = _mm256_sub_epi16(full, _mm256_unpackhi_epi32(alpha, alpha));
        // x / 255 for x up to 255 * 255 as (x + 1 + (x >> 8)) >> 8, as everywhere else.
        const __m256i productLow = _mm256_mullo_epi16(dstLow, keepLow);
        const __m256i productHigh = _mm256_mullo_epi16(dstHigh, keepHigh);
        const __m256i keptLow = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(productLow, one), _mm256_srli_epi16(productLow, 8)), 8);
        const __m256i keptHigh = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(productHigh, one), _mm256_srli_epi16(productHigh, 8)), 8);
        const __m256i low = _mm256_add_epi16(_mm256_unpacklo_epi8(src, zero), keptLow);
        const __m256i high = _mm256_add_epi16(_mm256_unpackhi_epi8(src, zero), keptHigh);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(low, high));
    }
    return i;
}

// Asked once; the processor's features are read first, since this may run before anything else
// has asked for them.
bool HasWideLanes() {
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
    return has;
}
#endif

template <bool kFlat>
void BlendTermsOnto(const uint32_t* in, uint32_t* out, ptrdiff_t n, uint32_t flat) {
    ptrdiff_t i = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    if (n >= 8 && HasWideLanes()) i = BlendTermsWide<kFlat>(in, out, n, flat);
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1);
    const __m128i full = _mm_set1_epi16(255);
    const __m128i flatWide = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(flat)), zero);
    auto divide = [&](__m128i x) {
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
    };
    for (; i + 4 <= n; i += 4) {
        const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        __m128i dstLow = flatWide, dstHigh = flatWide;
        if constexpr (!kFlat) {
            const __m128i dst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + i));
            dstLow = _mm_unpacklo_epi8(dst, zero);
            dstHigh = _mm_unpackhi_epi8(dst, zero);
        }
        __m128i alpha = _mm_srli_epi32(src, 24);
        alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
        const __m128i keepLow = _mm_sub_epi16(full, _mm_unpacklo_epi32(alpha, alpha));
        const __m128i keepHigh = _mm_sub_epi16(full, _mm_unpackhi_epi32(alpha, alpha));
        const __m128i low =
            _mm_add_epi16(_mm_unpacklo_epi8(src, zero), divide(_mm_mullo_epi16(dstLow, keepLow)));
        const __m128i high =
            _mm_add_epi16(_mm_unpackhi_epi8(src, zero), divide(_mm_mullo_epi16(dstHigh, keepHigh)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
    }
#endif
    for (; i < n; ++i) {
        const uint32_t q = in[i];
        const uint32_t d = kFlat ? flat : out[i];
        out[i] = Narrow(Widen(q) + DivideLanesBy255(Widen(d) * (255 - (q >> 24))));
    }
}

}  // namespace

void BlendTerms(const uint32_t* in, uint32_t* out, ptrdiff_t n) {
    BlendTermsOnto<false>(in, out, n, 0);
}

void BlendTermsOverFlat(const uint32_t* in, uint32_t* out, ptrdiff_t n, uint32_t flat) {
    BlendTermsOnto<true>(in, out, n, flat);
}

}  // namespace platform
