// Contents: font lookup; pixel snapping; SdlRenderTarget (shapes, images, text layout and its
// cache); WindowRenderTarget; OffscreenRenderTarget.
#include "platform/graphics_sdl.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Fonts

namespace {

constexpr const char* kFallbackRegular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kFallbackBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

bool Readable(const std::string& path) {
    return !path.empty() && access(path.c_str(), R_OK) == 0;
}

// The face fontconfig picks for "sans-serif" at the given weight: its file, its index inside the
// file, and the weight it really has (a family without a bold face answers with its regular one).
bool MatchSansSerif(FcConfig* config, int weight, std::string* file, int* index, int* gotWeight) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    if (pattern == nullptr) return false;
    FcPatternAddInteger(pattern, FC_WEIGHT, weight);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) return false;
    FcChar8* path = nullptr;
    bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr;
    if (found) {
        *file = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, index) != FcResultMatch) *index = 0;
        if (FcPatternGetInteger(match, FC_WEIGHT, 0, gotWeight) != FcResultMatch) *gotWeight = weight;
    }
    FcPatternDestroy(match);
    return found;
}

FontFiles LookUpFontFiles() {
    FontFiles files;
    if (FcConfig* config = FcInitLoadConfigAndFonts()) {
        int weight = 0;
        if (!MatchSansSerif(config, FC_WEIGHT_REGULAR, &files.regular, &files.regularIndex, &weight) ||
            !Readable(files.regular)) {
            files.regular.clear();
        }
        if (MatchSansSerif(config, FC_WEIGHT_BOLD, &files.bold, &files.boldIndex, &weight) &&
            Readable(files.bold) && weight >= FC_WEIGHT_DEMIBOLD) {
            // A real bold face.
        } else {
            files.bold.clear();
        }
        FcConfigDestroy(config);
    }
    if (files.regular.empty()) {
        files.regular = kFallbackRegular;
        files.regularIndex = 0;
    }
    if (files.bold.empty()) {
        if (Readable(kFallbackBold)) {
            files.bold = kFallbackBold;
            files.boldIndex = 0;
        } else {
            files.bold = files.regular;
            files.boldIndex = files.regularIndex;
            files.boldIsSynthetic = true;
        }
    }
    return files;
}

}  // namespace

const FontFiles& SystemFontFiles() {
    static const FontFiles files = LookUpFontFiles();
    return files;
}

// ---------------------------------------------------------------------------------------------
// Pixel snapping

namespace {

// Far beyond any target, but small enough that the conversion to int is always defined.
constexpr float kCoordinateLimit = 1.0e7f;

// The first pixel whose centre lies at or after the edge: centres are at i + 0.5.
int PixelEdge(float edge) {
    if (!(edge > -kCoordinateLimit)) return static_cast<int>(-kCoordinateLimit);
    if (edge > kCoordinateLimit) return static_cast<int>(kCoordinateLimit);
    return static_cast<int>(std::ceil(edge - 0.5f));
}

struct PixelSpan {
    int first, end;  // [first, end)
};

// An edge that is not a number covers nothing; infinite edges reach as far as any target.
PixelSpan Span(float from, float to) {
    if (std::isnan(from) || std::isnan(to)) return {0, 0};
    return {PixelEdge(from), PixelEdge(to)};
}

Uint8 Channel(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return 255;
    return static_cast<Uint8>(std::lround(value * 255.0f));
}

// Byte length of the UTF-8 sequence that starts at s[i]; continuation bytes are skipped so that
// a cut never splits a character, even in malformed text.
size_t NextBoundary(const std::string& s, size_t i) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    return i;
}

// Cut points of the source range [from, to) that leave whole pixels between them: from, the first
// whole-pixel edge after it, the last one before `to`, and `to`, without repeats. Returns the
// number of pieces (cuts - 1).
int Cuts(float from, float to, float cuts[4]) {
    int n = 0;
    cuts[n++] = from;
    const float firstEdge = std::ceil(from);
    const float lastEdge = std::floor(to);
    if (firstEdge > from && firstEdge < to) cuts[n++] = firstEdge;
    if (lastEdge > cuts[n - 1] && lastEdge < to) cuts[n++] = lastEdge;
    cuts[n++] = to;
    return n - 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Images

// A decoded image: a texture of the renderer that decoded it and, for a target that draws images
// itself, a copy of the pixels with the extent of each row's visible part.
class SdlImage final : public Image {
  public:
    // The columns [first, end) of a row outside which every pixel is fully transparent;
    // first == end for a row with nothing to show.
    struct RowExtent {
        int32_t first, end;
        bool opaque;  // every pixel of [first, end) is fully opaque
    };

    SdlImage(SDL_Texture* texture, int width, int height, const SdlRenderTarget* owner,
             std::weak_ptr<int> alive)
        : texture_(texture),
          width_(width),
          height_(height),
          owner_(owner),
          alive_(std::move(alive)),
          serial_(nextSerial_.fetch_add(1, std::memory_order_relaxed)) {}
    ~SdlImage() override {
        // Textures belong to their renderer; once it is gone, so is the texture.
        if (!alive_.expired()) SDL_DestroyTexture(texture_);
    }
    SdlImage(const SdlImage&) = delete;
    SdlImage& operator=(const SdlImage&) = delete;

    [[nodiscard]] int Width() const override { return width_; }
    [[nodiscard]] int Height() const override { return height_; }

    // The texture when the image may be drawn on `target`, else null.
    [[nodiscard]] SDL_Texture* TextureFor(const SdlRenderTarget* target) const {
        return target == owner_ && !alive_.expired() ? texture_ : nullptr;
    }
    // Tells this image from one made later at the same address.
    [[nodiscard]] uint64_t Serial() const { return serial_; }

    // Keeps a copy of the pixels, 0xAARRGGBB row by row without padding.
    void KeepPixels(std::vector<uint32_t> argb) {
        pixels_ = std::move(argb);
        extents_.assign(static_cast<size_t>(height_), RowExtent{0, 0, false});
        for (int y = 0; y < height_; ++y) {
            const uint32_t* row = Row(y);
            int first = 0, end = width_;
            while (first < end && (row[first] >> 24) == 0) ++first;
            while (end > first && (row[end - 1] >> 24) == 0) --end;
            const bool opaque =
                std::all_of(row + first, row + end, [](uint32_t p) { return (p >> 24) == 255; });
            extents_[static_cast<size_t>(y)] = {first, end, opaque};
        }
    }
    [[nodiscard]] bool HasPixels() const { return !pixels_.empty(); }
    [[nodiscard]] const uint32_t* Row(int y) const {
        return pixels_.data() + static_cast<ptrdiff_t>(y) * width_;
    }
    [[nodiscard]] RowExtent Extent(int y) const { return extents_[static_cast<size_t>(y)]; }

  private:
    static inline std::atomic<uint64_t> nextSerial_{1};

    SDL_Texture* texture_;
    int width_;
    int height_;
    const SdlRenderTarget* owner_;
    std::weak_ptr<int> alive_;
    uint64_t serial_;
    std::vector<uint32_t> pixels_;    // empty unless the target draws the image itself
    std::vector<RowExtent> extents_;  // per row of pixels_
};

// ---------------------------------------------------------------------------------------------
// Straight drawing into 32-bit ARGB pixels

namespace {

// Blending works on the four channels of a pixel at once, each widened to 16 bits of a 64-bit
// word, so that products of two channels cannot spill into the next one.
constexpr uint64_t kLaneLow = 0x00FF00FF00FF00FFull;

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

// `colour` (alpha ignored) over `dst` with coverage `alpha`, in the renderer's integer arithmetic:
// each channel is c * alpha / 255 + d * (255 - alpha) / 255, both divisions truncating, and the
// alpha channel alpha + dA * (255 - alpha) / 255.
inline uint32_t BlendOver(uint32_t colour, uint32_t dst, uint32_t alpha) {
    const uint64_t src = DivideLanesBy255(Widen(colour | 0xFF000000u) * alpha);
    return Narrow(src + DivideLanesBy255(Widen(dst) * (255 - alpha)));
}

// Pixels of `in` picked by `columns[from..to)` over `out[from..to)`, each with its alpha scaled
// by `opacity`. The blend needs no special cases: an opaque pixel comes out as itself and a
// transparent one leaves the destination as it was.
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

void BlendTerms(const uint32_t* in, uint32_t* out, ptrdiff_t n) {
    BlendTermsOnto<false>(in, out, n, 0);
}

// The source pixel a stretched copy takes for destination pixel i of `count` from `size` source
// pixels: the renderer steps through the source in 16.16 fixed point from the middle of the first
// step. Equal sizes map one to one.
struct Stepper {
    uint64_t step;
    Stepper(int size, int count) : step((static_cast<uint64_t>(size) << 16) / static_cast<uint64_t>(count)) {}
    [[nodiscard]] int32_t At(int64_t i) const {
        return static_cast<int32_t>((step / 2 + static_cast<uint64_t>(i) * step) >> 16);
    }
};

// --- Owed runs of flat colour, per row ---

// Fills at most this wide are written at once rather than owed.
constexpr ptrdiff_t kNarrowFill = 2;

// The runs [i, j) replaced by with[0, k).
void ReplaceRuns(std::vector<OwedRun>& runs, size_t i, size_t j, const OwedRun* with, size_t k) {
    const size_t m = j - i;
    const auto at = runs.begin() + static_cast<ptrdiff_t>(i);
    if (k <= m) {
        std::copy(with, with + k, at);
        runs.erase(at + static_cast<ptrdiff_t>(k), at + static_cast<ptrdiff_t>(m));
    } else {
        std::copy(with, with + m, at);
        runs.insert(at + static_cast<ptrdiff_t>(m), with + m, with + k);
    }
}

// The runs that overlap [left, right): [*i, *j).
void Overlapping(const std::vector<OwedRun>& runs, int32_t left, int32_t right, size_t* i, size_t* j) {
    // Runs are sorted and disjoint, so their ends ascend too.
    *i = static_cast<size_t>(std::upper_bound(runs.begin(), runs.end(), left,
                                              [](int32_t x, const OwedRun& r) { return x < r.end; }) -
                             runs.begin());
    *j = *i;
    while (*j < runs.size() && runs[*j].first < right) ++*j;
}

// Owes [left, right) the colour in place of whatever was owed there, joined to neighbours of the
// same colour (the columns of a waveform arrive one pixel at a time).
void OweRun(std::vector<OwedRun>& runs, int32_t left, int32_t right, uint32_t colour) {
    size_t i = 0, j = 0;
    Overlapping(runs, left, right, &i, &j);
    size_t from = i, to = j;
    OwedRun mid{left, right, colour};
    OwedRun with[3];
    size_t k = 0;
    if (i < j && runs[i].first < left) {
        if (runs[i].colour == colour) {
            mid.first = runs[i].first;
        } else {
            with[k++] = {runs[i].first, left, runs[i].colour};
        }
    } else if (i > 0 && runs[i - 1].end == left && runs[i - 1].colour == colour) {
        from = i - 1;
        mid.first = runs[i - 1].first;
    }
    OwedRun tail{0, 0, 0};
    if (i < j && runs[j - 1].end > right) {
        if (runs[j - 1].colour == colour) {
            mid.end = runs[j - 1].end;
        } else {
            tail = {right, runs[j - 1].end, runs[j - 1].colour};
        }
    } else if (j < runs.size() && runs[j].first == right && runs[j].colour == colour) {
        to = j + 1;
        mid.end = runs[j].end;
    }
    with[k++] = mid;
    if (tail.end > tail.first) with[k++] = tail;
    ReplaceRuns(runs, from, to, with, k);
}

// Forgets what was owed in [left, right), writing it into `row` first when `row` is not null.
void TakeRuns(std::vector<OwedRun>& runs, int32_t left, int32_t right, uint32_t* row) {
    size_t i = 0, j = 0;
    Overlapping(runs, left, right, &i, &j);
    if (i == j) return;
    if (row != nullptr) {
        for (size_t n = i; n < j; ++n) {
            const int32_t a = std::max(runs[n].first, left), b = std::min(runs[n].end, right);
            std::fill(row + a, row + b, runs[n].colour);
        }
    }
    OwedRun with[2];
    size_t k = 0;
    if (runs[i].first < left) with[k++] = {runs[i].first, left, runs[i].colour};
    if (runs[j - 1].end > right) with[k++] = {right, runs[j - 1].end, runs[j - 1].colour};
    ReplaceRuns(runs, i, j, with, k);
}

// Blends source terms over the row's [left, right) (`in` starts at left), taking the colour of a
// fill still owed there instead of writing the fill first, and forgets what was owed.
void BlendTermsOverOwed(std::vector<OwedRun>& runs, int32_t left, int32_t right, const uint32_t* in,
                        uint32_t* row) {
    size_t i = 0, j = 0;
    Overlapping(runs, left, right, &i, &j);
    int32_t x = left;
    for (size_t k = i; k < j; ++k) {
        const int32_t a = std::max(runs[k].first, left), b = std::min(runs[k].end, right);
        if (a > x) BlendTerms(in + (x - left), row + x, a - x);
        BlendTermsOnto<true>(in + (a - left), row + a, b - a, runs[k].colour);
        x = b;
    }
    if (x < right) BlendTerms(in + (x - left), row + x, right - x);
    TakeRuns(runs, left, right, nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// SdlRenderTarget

SdlRenderTarget::SdlRenderTarget(int width, int height) : width_(width), height_(height) {}

SdlRenderTarget::~SdlRenderTarget() {
    Release();
}

bool SdlRenderTarget::Attach(SDL_Renderer* renderer) {
    renderer_ = renderer;
    alive_ = std::make_shared<int>(0);
    ttfStarted_ = TTF_Init() == 0;  // reference-counted by SDL_ttf
    return ttfStarted_;
}

void SdlRenderTarget::Release() {
    for (auto& [key, entry] : textCache_) DestroyEntry(entry);
    textCache_.clear();
    for (const FontSlot& slot : fonts_) {
        if (slot.font != nullptr) TTF_CloseFont(slot.font);
    }
    fonts_.clear();
    if (ttfStarted_) TTF_Quit();
    ttfStarted_ = false;
    alive_.reset();
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    renderer_ = nullptr;
}

void SdlRenderTarget::StartFrame() {
    ++frameNumber_;
    if ((frameNumber_ & 63) == 0) {
        EvictOldText();
        EvictOldStrips();
    }
}

SdlRenderTarget::Canvas SdlRenderTarget::OpenCanvas() {
    if (rendererPending_) {
        SDL_RenderFlush(renderer_);
        rendererPending_ = false;
    }
    // A plain surface in memory never needs locking; one that did would be unlocked the moment
    // the call returned, so it is not drawn into at all.
    if (direct_ == nullptr || SDL_MUSTLOCK(direct_) || direct_->pixels == nullptr) return {};
    return {static_cast<uint32_t*>(direct_->pixels), direct_->w, direct_->h, direct_->pitch / 4};
}

void SdlRenderTarget::SetColour(ColourF colour) {
    const Uint8 r = Channel(colour.r), g = Channel(colour.g), b = Channel(colour.b), a = Channel(colour.a);
    fillColour_ =
        static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
    if (Direct()) return;
    SDL_SetRenderDrawColor(renderer_, r, g, b, a);
    SDL_SetRenderDrawBlendMode(renderer_, colour.a >= 1.0f ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND);
}

void SdlRenderTarget::FillBlock(const Canvas& canvas, int left, int top, int right, int bottom) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, canvas.width);
    bottom = std::min(bottom, canvas.height);
    if (right <= left || bottom <= top) return;
    uint32_t* row = canvas.pixels + static_cast<ptrdiff_t>(top) * canvas.stride + left;
    const ptrdiff_t n = right - left;
    const uint32_t a = fillColour_ >> 24;
    if (n <= kNarrowFill) {
        // Thin columns (a waveform, upright lines) and the short rows of a slanted line would cost
        // more to keep track of than to write: what is owed in their rows is written out whole,
        // so that the columns drawn next to them find nothing owed and go straight in.
        for (int y = top; y < bottom; ++y) {
            if (Owes(y)) SettleSpan(canvas, y, 0, canvas.width);
        }
    } else if (a == 255 && Deferring()) {
        if (owed_.size() < static_cast<size_t>(canvas.height))
            owed_.resize(static_cast<size_t>(canvas.height));
        for (int y = top; y < bottom; ++y) OweRun(owed_[static_cast<size_t>(y)], left, right, fillColour_);
        NoteOwed(top);
        NoteOwed(bottom - 1);
        return;
    }
    if (a == 255 && n == 1) {  // the columns of a waveform
        for (int y = top; y < bottom; ++y, row += canvas.stride) *row = fillColour_;
        return;
    }
    if (a == 255) {
        for (int y = top; y < bottom; ++y, row += canvas.stride) std::fill(row, row + n, fillColour_);
        return;
    }
    // The colour's share is the same for every pixel; only the destination's is worked out each time.
    const uint64_t src = DivideLanesBy255(Widen(fillColour_ | 0xFF000000u) * a);
    const uint32_t inv = 255 - a;
    auto blend = [&](uint32_t d) { return Narrow(src + DivideLanesBy255(Widen(d) * inv)); };
    for (int y = top; y < bottom; ++y, row += canvas.stride) {
        if (!Owes(y)) {
            for (ptrdiff_t x = 0; x < n; ++x) row[x] = blend(row[x]);
            continue;
        }
        // Over an owed run the result is flat too: the run only changes colour. The pixels
        // between runs are blended where they are.
        std::vector<OwedRun>& runs = owed_[static_cast<size_t>(y)];
        uint32_t* line = row - left;
        size_t i = 0, j = 0;
        Overlapping(runs, left, right, &i, &j);
        runScratch_.clear();
        if (i < j && runs[i].first < left) runScratch_.push_back({runs[i].first, left, runs[i].colour});
        int32_t x = left;
        for (size_t k = i; k < j; ++k) {
            const int32_t from = std::max(runs[k].first, left), to = std::min(runs[k].end, right);
            for (; x < from; ++x) line[x] = blend(line[x]);
            runScratch_.push_back({from, to, blend(runs[k].colour)});
            x = to;
        }
        for (; x < right; ++x) line[x] = blend(line[x]);
        if (i < j && runs[j - 1].end > right)
            runScratch_.push_back({right, runs[j - 1].end, runs[j - 1].colour});
        ReplaceRuns(runs, i, j, runScratch_.data(), runScratch_.size());
    }
}

void SdlRenderTarget::SettleSpan(const Canvas& canvas, int y, int left, int right) {
    if (!Owes(y)) return;
    uint32_t* row =
        canvas.pixels != nullptr ? canvas.pixels + static_cast<ptrdiff_t>(y) * canvas.stride : nullptr;
    TakeRuns(owed_[static_cast<size_t>(y)], left, right, row);
}

void SdlRenderTarget::SettleBox(const Canvas& canvas, int left, int top, int right, int bottom) {
    left = std::max(left, 0);
    right = std::min(right, canvas.width);
    top = std::max(top, owedTop_);
    bottom = std::min({bottom, owedBottom_, canvas.height});
    if (right <= left) return;
    for (int y = top; y < bottom; ++y) SettleSpan(canvas, y, left, right);
}

void SdlRenderTarget::SettleFills() {
    if (owedBottom_ <= owedTop_) return;
    const Canvas canvas = OpenCanvas();
    for (int y = owedTop_; y < owedBottom_; ++y) {
        std::vector<OwedRun>& runs = owed_[static_cast<size_t>(y)];
        if (canvas.pixels != nullptr && y < canvas.height) {
            uint32_t* row = canvas.pixels + static_cast<ptrdiff_t>(y) * canvas.stride;
            for (const OwedRun& r : runs) std::fill(row + r.first, row + r.end, r.colour);
        }
        runs.clear();
    }
    owedTop_ = INT32_MAX;
    owedBottom_ = 0;
}

void SdlRenderTarget::UseRenderer(bool always) {
    SettleFills();
    rendererOnly_ = always;
}

void SdlRenderTarget::DeferFills(bool on) {
    SettleFills();
    deferFills_ = on;
}

void SdlRenderTarget::FillPixels(float left, float top, float right, float bottom) {
    const PixelSpan x = Span(left, right);
    const PixelSpan y = Span(top, bottom);
    if (x.end <= x.first || y.end <= y.first) return;
    if (Direct()) {
        FillBlock(OpenCanvas(), x.first, y.first, x.end, y.end);
        return;
    }
    const SDL_Rect rect{x.first, y.first, x.end - x.first, y.end - y.first};
    SDL_RenderFillRect(renderer_, &rect);
    rendererPending_ = true;
}

void SdlRenderTarget::Clear(ColourF colour) {
    if (renderer_ == nullptr) return;
    if (Direct()) {
        SetColour(colour);
        const Canvas canvas = OpenCanvas();
        // Every pixel takes the colour, its alpha included: a clear does not blend.
        if (Deferring() && canvas.pixels != nullptr) {
            if (owed_.size() < static_cast<size_t>(canvas.height))
                owed_.resize(static_cast<size_t>(canvas.height));
            for (int row = 0; row < canvas.height; ++row) {
                std::vector<OwedRun>& runs = owed_[static_cast<size_t>(row)];
                runs.clear();
                runs.push_back({0, canvas.width, fillColour_});
            }
            owedTop_ = 0;
            owedBottom_ = canvas.height;
            return;
        }
        for (int row = 0; row < canvas.height; ++row) {
            uint32_t* p = canvas.pixels + static_cast<ptrdiff_t>(row) * canvas.stride;
            std::fill(p, p + canvas.width, fillColour_);
        }
        return;
    }
    SDL_SetRenderDrawColor(renderer_, Channel(colour.r), Channel(colour.g), Channel(colour.b),
                           Channel(colour.a));
    SDL_RenderClear(renderer_);
    rendererPending_ = true;
}

void SdlRenderTarget::FillRect(const RectF& r, ColourF colour) {
    if (renderer_ == nullptr || colour.a <= 0.0f) return;
    SetColour(colour);
    FillPixels(r.left, r.top, r.right, r.bottom);
}

void SdlRenderTarget::DrawLine(float x0, float y0, float x1, float y1, ColourF colour, float width) {
    if (renderer_ == nullptr || colour.a <= 0.0f || !(width > 0.0f)) return;
    const float half = width / 2.0f;
    SetColour(colour);
    // The line is the rectangle `width` wide around the segment, with flat ends at the end points.
    // Most lines of the interface are upright or level and fill whole pixels that way.
    if (x0 == x1) {
        FillPixels(x0 - half, std::min(y0, y1), x0 + half, std::max(y0, y1));
        return;
    }
    if (y0 == y1) {
        FillPixels(std::min(x0, x1), y0 - half, std::max(x0, x1), y0 + half);
        return;
    }
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 0.0f) || !std::isfinite(length)) return;
    // A slanted line is filled row by row with the same pixel-centre rule as everything else, so
    // that it looks the same on every renderer.
    const float nx = -dy / length * half;
    const float ny = dx / length * half;
    const float px[4] = {x0 + nx, x1 + nx, x1 - nx, x0 - nx};
    const float py[4] = {y0 + ny, y1 + ny, y1 - ny, y0 - ny};
    const PixelSpan rows =
        Span(std::min({py[0], py[1], py[2], py[3]}), std::max({py[0], py[1], py[2], py[3]}));
    spanBuffer_.clear();
    for (int row = rows.first; row < rows.end; ++row) {
        const float yc = static_cast<float>(row) + 0.5f;
        float from = kCoordinateLimit, to = -kCoordinateLimit;
        for (int e = 0; e < 4; ++e) {
            const int f = (e + 1) % 4;
            if ((py[e] <= yc) == (py[f] <= yc)) continue;  // this edge does not cross the row's centre
            const float x = px[e] + (yc - py[e]) * (px[f] - px[e]) / (py[f] - py[e]);
            from = std::min(from, x);
            to = std::max(to, x);
        }
        const PixelSpan cols = Span(from, to);
        if (cols.end > cols.first) spanBuffer_.push_back({cols.first, row, cols.end - cols.first, 1});
    }
    if (spanBuffer_.empty()) return;
    if (Direct()) {
        const Canvas canvas = OpenCanvas();
        for (const SDL_Rect& span : spanBuffer_)
            FillBlock(canvas, span.x, span.y, span.x + span.w, span.y + 1);
        return;
    }
    SDL_RenderFillRects(renderer_, spanBuffer_.data(), static_cast<int>(spanBuffer_.size()));
    rendererPending_ = true;
}

void SdlRenderTarget::DrawRect(const RectF& r, ColourF colour, float width) {
    if (renderer_ == nullptr || colour.a <= 0.0f || !(width > 0.0f)) return;
    SetColour(colour);
    const float h = width / 2.0f;
    // Four bands that meet without overlapping, so a translucent outline is even all round.
    if (r.bottom - r.top <= width || r.right - r.left <= width) {
        FillPixels(r.left - h, r.top - h, r.right + h, r.bottom + h);
        return;
    }
    FillPixels(r.left - h, r.top - h, r.right + h, r.top + h);
    FillPixels(r.left - h, r.bottom - h, r.right + h, r.bottom + h);
    FillPixels(r.left - h, r.top + h, r.left + h, r.bottom - h);
    FillPixels(r.right - h, r.top + h, r.right + h, r.bottom - h);
}

void SdlRenderTarget::DrawImage(const Image& image, const RectF& dest, const RectF& source, float opacity) {
    if (renderer_ == nullptr || !(opacity > 0.0f)) return;
    const auto* sdlImage = dynamic_cast<const SdlImage*>(&image);
    SDL_Texture* texture = sdlImage != nullptr ? sdlImage->TextureFor(this) : nullptr;
    if (texture == nullptr) return;
    const bool direct = Direct() && sdlImage->HasPixels();

    float sl = source.left, st = source.top, sr = source.right, sb = source.bottom;
    float dl = dest.left, dt = dest.top, dr = dest.right, db = dest.bottom;
    if (!(sr > sl) || !(sb > st) || !(dr > dl) || !(db > dt)) return;
    const float scaleX = (dr - dl) / (sr - sl);
    const float scaleY = (db - dt) / (sb - st);
    if (!std::isfinite(scaleX) || !std::isfinite(scaleY)) return;

    // A source reaching past the image draws only the part that exists, where it would have been.
    const float iw = static_cast<float>(image.Width());
    const float ih = static_cast<float>(image.Height());
    if (sl < 0) {
        dl -= sl * scaleX;
        sl = 0;
    }
    if (st < 0) {
        dt -= st * scaleY;
        st = 0;
    }
    if (sr > iw) {
        dr -= (sr - iw) * scaleX;
        sr = iw;
    }
    if (sb > ih) {
        db -= (sb - ih) * scaleY;
        sb = ih;
    }
    if (!(sr > sl) || !(sb > st)) return;

    // SDL copies whole source pixels. A source with fractional edges is cut into at most three
    // pieces each way: the part of a partial first pixel, the whole pixels, the part of a partial
    // last pixel. Each piece is a whole-pixel source stretched over the destination pixels whose
    // centres map into it, so every destination pixel shows the source pixel under its centre.
    float cutsX[4], cutsY[4];
    const int piecesX = Cuts(sl, sr, cutsX);
    const int piecesY = Cuts(st, sb, cutsY);
    const Uint8 alpha = Channel(opacity);
    if (!direct) SDL_SetTextureAlphaMod(texture, alpha);
    for (int py = 0; py < piecesY; ++py) {
        const PixelSpan rows = Span(dt + (cutsY[py] - st) * scaleY, dt + (cutsY[py + 1] - st) * scaleY);
        if (rows.end <= rows.first) continue;
        const int srcTop = static_cast<int>(std::floor(cutsY[py]));
        const int srcBottom = static_cast<int>(std::ceil(cutsY[py + 1]));
        for (int px = 0; px < piecesX; ++px) {
            const PixelSpan cols = Span(dl + (cutsX[px] - sl) * scaleX, dl + (cutsX[px + 1] - sl) * scaleX);
            if (cols.end <= cols.first) continue;
            const int srcLeft = static_cast<int>(std::floor(cutsX[px]));
            const int srcRight = static_cast<int>(std::ceil(cutsX[px + 1]));
            const SDL_Rect src{srcLeft, srcTop, srcRight - srcLeft, srcBottom - srcTop};
            const SDL_Rect out{cols.first, rows.first, cols.end - cols.first, rows.end - rows.first};
            if (direct) {
                CopyPiece(*sdlImage, src, out, alpha);
            } else {
                SDL_RenderCopy(renderer_, texture, &src, &out);
                rendererPending_ = true;
            }
        }
    }
}

void SdlRenderTarget::CopyPiece(const SdlImage& image, const SDL_Rect& src, const SDL_Rect& out,
                                uint8_t alpha) {
    // The source lies inside the image (the caller cut it to the image's whole pixels); the
    // destination may reach past the surface and is stepped through as a whole, then clipped, so
    // that a partly visible piece shows the same pixels where it is visible as a whole one.
    if (alpha == 0 || src.w <= 0 || src.h <= 0 || out.w <= 0 || out.h <= 0 || src.x < 0 || src.y < 0 ||
        src.x + src.w > image.Width() || src.y + src.h > image.Height()) {
        return;
    }
    const Canvas canvas = OpenCanvas();
    const int x0 = std::max(out.x, 0), x1 = std::min(out.x + out.w, canvas.width);
    const int y0 = std::max(out.y, 0), y1 = std::min(out.y + out.h, canvas.height);
    if (x1 <= x0 || y1 <= y0) return;

    const Stepper down(src.h, out.h);
    if (const Strip* strip = StripFor(image, src, out.w, alpha)) {
        const int32_t lo = x0 - out.x, hi = x1 - out.x;  // the visible columns of the piece
        for (int y = y0; y < y1; ++y) {
            const int sy = src.y + down.At(y - out.y);
            const uint32_t* in = strip->pixels.data() + static_cast<ptrdiff_t>(sy) * strip->width;
            uint32_t* row = canvas.pixels + static_cast<ptrdiff_t>(y) * canvas.stride;
            const bool owes = Owes(y);
            const auto sy_ = static_cast<size_t>(sy);
            for (uint32_t k = strip->spanStart[sy_]; k < strip->spanStart[sy_ + 1]; ++k) {
                const StripSpan& span = strip->spans[k];
                const int32_t a = std::max(span.first, lo), b = std::min(span.end, hi);
                if (b <= a) continue;
                if (owes && !span.copy) {
                    BlendTermsOverOwed(owed_[static_cast<size_t>(y)], out.x + a, out.x + b, in + a, row);
                    continue;
                }
                // An opaque span covers what was owed under it.
                if (owes) TakeRuns(owed_[static_cast<size_t>(y)], out.x + a, out.x + b, nullptr);
                if (span.copy) {
                    std::memcpy(row + out.x + a, in + a, static_cast<size_t>(b - a) * 4);
                } else {
                    BlendTerms(in + a, row + out.x + a, b - a);
                }
            }
        }
        return;
    }
    const Stepper across(src.w, out.w);
    sourceColumns_.resize(static_cast<size_t>(x1 - x0));
    for (int x = x0; x < x1; ++x) sourceColumns_[static_cast<size_t>(x - x0)] = src.x + across.At(x - out.x);
    const int32_t* columns = sourceColumns_.data();
    const auto count = static_cast<ptrdiff_t>(sourceColumns_.size());

    for (int y = y0; y < y1; ++y) {
        const int sy = src.y + down.At(y - out.y);
        // Only the destination columns that take a pixel from the row's visible part are visited.
        const SdlImage::RowExtent extent = image.Extent(sy);
        const int32_t first = std::max(extent.first, src.x);
        const int32_t end = std::min(extent.end, src.x + src.w);
        if (end <= first) continue;
        const ptrdiff_t from = std::lower_bound(columns, columns + count, first) - columns;
        const ptrdiff_t to = std::lower_bound(columns + from, columns + count, end) - columns;
        const uint32_t* in = image.Row(sy);
        uint32_t* outRow = canvas.pixels + static_cast<ptrdiff_t>(y) * canvas.stride + x0;
        if (Owes(y)) {
            // An opaque row covers what was owed under it; a blended one needs it written first.
            const bool covers = alpha == 255 && extent.opaque;
            TakeRuns(owed_[static_cast<size_t>(y)], static_cast<int32_t>(x0 + from),
                     static_cast<int32_t>(x0 + to), covers ? nullptr : outRow - x0);
        }
        if (alpha == 255 && extent.opaque) {
            for (ptrdiff_t i = from; i < to; ++i) outRow[i] = in[columns[i]];
        } else {
            BlendPicked(in, columns, from, to, alpha, outRow);
        }
    }
}

namespace {

// Strips wider than this, or larger, are not made: such pieces are drawn the general way.
constexpr int32_t kStripMaxWidth = 4096;
constexpr size_t kStripMaxPixels = size_t{1} << 20;
constexpr size_t kStripBudget = size_t{8} << 20;  // pixels held by all strips of a target
// An opaque stretch shorter than this is blended with its neighbours rather than copied apart.
constexpr int32_t kShortestCopy = 8;

}  // namespace

const SdlRenderTarget::Strip* SdlRenderTarget::StripFor(const SdlImage& image, const SDL_Rect& src,
                                                        int outWidth, uint8_t alpha) {
    const StripKey key{image.Serial(), src.x, src.w, outWidth, alpha};
    Strip& strip = strips_[key];
    strip.lastUsedFrame = frameNumber_;
    if (!strip.pixels.empty()) return &strip;
    // Made the second time it is asked for: a piece drawn once (a spark at one step of its fade)
    // is cheaper to draw than to make a strip of.
    const size_t h = static_cast<size_t>(image.Height());
    const size_t size = static_cast<size_t>(outWidth) * h;
    if (++strip.asked < 2 || outWidth > kStripMaxWidth || size == 0 || size > kStripMaxPixels ||
        stripPixels_ + size > kStripBudget) {
        return nullptr;
    }
    const Stepper across(src.w, outWidth);
    sourceColumns_.resize(static_cast<size_t>(outWidth));
    for (int32_t i = 0; i < outWidth; ++i) sourceColumns_[static_cast<size_t>(i)] = src.x + across.At(i);
    strip.width = outWidth;
    strip.pixels.resize(size);
    strip.spanStart.assign(h + 1, 0);
    strip.spans.clear();
    for (size_t y = 0; y < h; ++y) {
        const uint32_t* in = image.Row(static_cast<int>(y));
        uint32_t* out = strip.pixels.data() + y * static_cast<size_t>(outWidth);
        for (int32_t i = 0; i < outWidth; ++i) {
            const uint32_t p = in[sourceColumns_[static_cast<size_t>(i)]];
            const uint32_t a = (p >> 24) * alpha / 255;
            out[i] = Narrow(DivideLanesBy255(Widen(p | 0xFF000000u) * a));
        }
        // Stretches with something to show: long opaque ones are copied, the rest blended, and
        // transparent ones skipped.
        strip.spanStart[y] = static_cast<uint32_t>(strip.spans.size());
        const size_t rowFirst = strip.spans.size();
        for (int32_t i = 0; i < outWidth;) {
            const uint32_t a = out[i] >> 24;
            const int kind = a == 0 ? 0 : a == 255 ? 2 : 1;
            int32_t j = i + 1;
            while (j < outWidth && ((out[j] >> 24) == 0 ? 0 : (out[j] >> 24) == 255 ? 2 : 1) == kind) ++j;
            if (kind != 0) {
                const bool copy = kind == 2 && j - i >= kShortestCopy;
                if (!copy && strip.spans.size() > rowFirst && !strip.spans.back().copy &&
                    strip.spans.back().end == i) {
                    strip.spans.back().end = j;
                } else {
                    strip.spans.push_back({i, j, copy});
                }
            }
            i = j;
        }
    }
    strip.spanStart[h] = static_cast<uint32_t>(strip.spans.size());
    stripPixels_ += size;
    return &strip;
}

void SdlRenderTarget::EvictOldStrips() {
    constexpr uint64_t kOldAfterFrames = 120;
    for (auto it = strips_.begin(); it != strips_.end();) {
        if (it->second.lastUsedFrame + kOldAfterFrames < frameNumber_) {
            stripPixels_ -= it->second.pixels.size();
            it = strips_.erase(it);
        } else {
            ++it;
        }
    }
}

std::unique_ptr<Image> SdlRenderTarget::DecodePng(const uint8_t* data, size_t size) {
    if (renderer_ == nullptr || data == nullptr || size == 0 || size > static_cast<size_t>(INT32_MAX)) {
        return nullptr;
    }
    SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
    if (rw == nullptr) return nullptr;
    SDL_Surface* loaded = IMG_isPNG(rw) ? IMG_LoadPNG_RW(rw) : nullptr;
    SDL_RWclose(rw);
    if (loaded == nullptr) return nullptr;
    // Whatever the file's layout, the image is kept as 32-bit ARGB, and the texture is made from
    // the same pixels, so that both ways of drawing it start from equal pixels.
    SDL_Surface* surface = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(loaded);
    if (surface == nullptr) return nullptr;
    SDL_Texture* texture = SDL_CreateTextureFromSurface(renderer_, surface);
    const int w = surface->w, h = surface->h;
    std::vector<uint32_t> pixels;
    if (texture != nullptr && direct_ != nullptr && !SDL_MUSTLOCK(surface)) {
        pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
        for (int y = 0; y < h; ++y) {
            std::memcpy(
                pixels.data() + static_cast<ptrdiff_t>(y) * w,
                static_cast<const uint8_t*>(surface->pixels) + static_cast<ptrdiff_t>(y) * surface->pitch,
                static_cast<size_t>(w) * 4);
        }
    }
    SDL_FreeSurface(surface);
    if (texture == nullptr) return nullptr;
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(texture, SDL_ScaleModeNearest);
    auto image = std::make_unique<SdlImage>(texture, w, h, this, alive_);
    if (!pixels.empty()) image->KeepPixels(std::move(pixels));
    return image;
}

// --- Text ---

TTF_Font* SdlRenderTarget::Font(const TextFormat& format) {
    if (!ttfStarted_ || !(format.size >= 1.0f) || format.size > 4096.0f) return nullptr;
    const int pixelSize = static_cast<int>(std::lround(format.size));
    const bool bold = format.weight >= 600;
    for (const FontSlot& slot : fonts_) {
        if (slot.pixelSize == pixelSize && slot.bold == bold) return slot.font;
    }
    const FontFiles& files = SystemFontFiles();
    const std::string& path = bold ? files.bold : files.regular;
    TTF_Font* font = TTF_OpenFontIndex(path.c_str(), pixelSize, bold ? files.boldIndex : files.regularIndex);
    if (font == nullptr) {
        std::fprintf(stderr, "text: cannot open the font %s: %s\n", path.c_str(), TTF_GetError());
    } else if (bold && files.boldIsSynthetic) {
        TTF_SetFontStyle(font, TTF_STYLE_BOLD);
    }
    fonts_.push_back({pixelSize, bold, font});
    return font;
}

namespace {

int TextWidth(TTF_Font* font, const std::string& text) {
    int w = 0, h = 0;
    if (text.empty() || TTF_SizeUTF8(font, text.c_str(), &w, &h) != 0) return 0;
    return w;
}

bool Fits(TTF_Font* font, const std::string& text, float width) {
    return static_cast<float>(TextWidth(font, text)) <= width;
}

constexpr const char* kEllipsis = "\xE2\x80\xA6";  // U+2026

// The longest start of `line` (the whole line at most) that, with trailing blanks removed and "…"
// added, fits in `width`; "…" alone when no character fits, and nothing when not even that does.
std::string TrimWithEllipsis(TTF_Font* font, const std::string& line, float width) {
    std::vector<size_t> cuts;  // byte offsets of character boundaries, ascending, the end included
    for (size_t i = 0; i < line.size(); i = NextBoundary(line, i)) cuts.push_back(i);
    cuts.push_back(line.size());
    auto candidate = [&](size_t cut) {
        std::string s = line.substr(0, cut);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
        return s + kEllipsis;
    };
    // Widths grow with the number of characters kept, so the longest fitting start is found by
    // bisection over the boundaries.
    size_t lo = 0, hi = cuts.size();  // cuts[0] == 0 keeps nothing; the answer lies in [lo, hi)
    if (!Fits(font, candidate(0), width)) return std::string();
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        if (Fits(font, candidate(cuts[mid]), width)) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return candidate(cuts[lo]);
}

// Greedy wrapping of one paragraph at blanks. A word wider than the whole line is broken between
// characters rather than left to overflow.
void WrapParagraph(TTF_Font* font, const std::string& paragraph, float width,
                   std::vector<std::string>& lines) {
    std::string line;
    size_t i = 0;
    while (i < paragraph.size()) {
        size_t wordEnd = paragraph.find(' ', i);
        if (wordEnd == std::string::npos) wordEnd = paragraph.size();
        const std::string word = paragraph.substr(i, wordEnd - i);
        std::string joined = line.empty() ? word : line + " " + word;
        if (Fits(font, joined, width)) {
            line = std::move(joined);
        } else {
            if (!line.empty()) lines.push_back(std::move(line));
            line.clear();
            if (Fits(font, word, width)) {
                line = word;
            } else {
                for (size_t c = 0; c < word.size();) {
                    const size_t next = NextBoundary(word, c);
                    std::string longer = line + word.substr(c, next - c);
                    if (!line.empty() && !Fits(font, longer, width)) {
                        lines.push_back(std::move(line));
                        line = word.substr(c, next - c);
                    } else {
                        line = std::move(longer);
                    }
                    c = next;
                }
            }
        }
        i = wordEnd + 1;
    }
    lines.push_back(std::move(line));
}

}  // namespace

const SdlRenderTarget::TextEntry* SdlRenderTarget::LayOut(const std::string& text, const TextFormat& format,
                                                          const RectF& r, TTF_Font* font) {
    // Everything that changes the lines' content is in the key; colour and position are not.
    keyBuffer_.clear();
    const bool widthMatters = format.wrap || format.ellipsis;
    const bool heightMatters = format.wrap && format.ellipsis;
    const float width = widthMatters ? r.right - r.left : 0.0f;
    const float height = heightMatters ? r.bottom - r.top : 0.0f;
    char head[64];
    std::snprintf(head, sizeof head, "%d|%d|%d|%d|%a|%a|", static_cast<int>(std::lround(format.size)),
                  format.weight >= 600 ? 1 : 0, format.wrap ? 1 : 0, format.ellipsis ? 1 : 0,
                  static_cast<double>(width), static_cast<double>(height));
    keyBuffer_ += head;
    keyBuffer_ += text;
    auto found = textCache_.find(keyBuffer_);
    if (found != textCache_.end()) {
        found->second.lastUsedFrame = frameNumber_;
        return &found->second;
    }

    std::vector<std::string> lines;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string paragraph = text.substr(start, end - start);
        if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
        if (format.wrap) {
            WrapParagraph(font, paragraph, width, lines);
        } else {
            lines.push_back(std::move(paragraph));
        }
        start = end + 1;
    }

    TextEntry entry;
    entry.lineSkip = TTF_FontLineSkip(font);
    entry.fontHeight = TTF_FontHeight(font);
    if (format.ellipsis) {
        // Lines that do not fit below each other are dropped and the last one kept says so.
        size_t keep = lines.size();
        if (format.wrap && entry.lineSkip > 0) {
            const float spare = height - static_cast<float>(entry.fontHeight);
            // Capped before the conversion: a huge or infinite height must not overflow it.
            const float more = std::min(spare / static_cast<float>(entry.lineSkip), 1.0e6f);
            const size_t fit = more >= 0 ? static_cast<size_t>(more) + 1 : 1;
            keep = std::min(keep, fit);
        }
        const bool cut = keep < lines.size();
        lines.resize(keep);
        for (size_t i = 0; i < lines.size(); ++i) {
            const bool last = i + 1 == lines.size();
            if ((cut && last) || !Fits(font, lines[i], width)) {
                lines[i] = TrimWithEllipsis(font, lines[i], width);
            }
        }
    }

    entry.text = lines;
    for (const std::string& line : lines) {
        TextLine rendered;
        rendered.height = entry.fontHeight;
        if (!line.empty()) {
            if (SDL_Surface* surface =
                    TTF_RenderUTF8_Blended(font, line.c_str(), SDL_Color{255, 255, 255, 255})) {
                rendered.texture = SDL_CreateTextureFromSurface(renderer_, surface);
                rendered.width = surface->w;
                rendered.height = surface->h;
                SDL_FreeSurface(surface);
                if (rendered.texture != nullptr)
                    SDL_SetTextureBlendMode(rendered.texture, SDL_BLENDMODE_BLEND);
            }
        }
        entry.lines.push_back(rendered);
    }
    entry.lastUsedFrame = frameNumber_;
    return &textCache_.emplace(keyBuffer_, std::move(entry)).first->second;
}

void SdlRenderTarget::DrawText(const std::string& text, const TextFormat& format, const RectF& r,
                               ColourF colour) {
    if (renderer_ == nullptr || text.empty() || colour.a <= 0.0f) return;
    TTF_Font* font = Font(format);
    if (font == nullptr) return;
    const TextEntry* entry = LayOut(text, format, r, font);
    if (entry->lines.empty()) return;

    const int blockHeight =
        static_cast<int>(entry->lines.size() - 1) * entry->lineSkip + entry->lines.back().height;
    float y = r.top;
    if (format.centreVertically) y += ((r.bottom - r.top) - static_cast<float>(blockHeight)) / 2.0f;
    for (const TextLine& line : entry->lines) {
        if (line.texture != nullptr && std::isfinite(y)) {
            float x = r.left;
            if (format.align == TextAlign::Centre)
                x += ((r.right - r.left) - static_cast<float>(line.width)) / 2.0f;
            if (format.align == TextAlign::Trailing) x = r.right - static_cast<float>(line.width);
            if (!std::isfinite(x)) break;
            // Each line starts on the whole pixel nearest to its exact place (halves round down).
            const SDL_Rect out{PixelEdge(x), PixelEdge(y), line.width, line.height};
            // Fills owed under the line are written first, or they would land on top of it. The
            // renderer's queue goes first so that nothing older lands on them either.
            if (owedBottom_ > owedTop_ && out.y < owedBottom_ && out.y + out.h > owedTop_) {
                SettleBox(OpenCanvas(), out.x, out.y, out.x + out.w, out.y + out.h);
            }
            SDL_SetTextureColorMod(line.texture, Channel(colour.r), Channel(colour.g), Channel(colour.b));
            SDL_SetTextureAlphaMod(line.texture, Channel(colour.a));
            SDL_RenderCopy(renderer_, line.texture, nullptr, &out);
            rendererPending_ = true;
        }
        y += static_cast<float>(entry->lineSkip);
    }
}

void SdlRenderTarget::DestroyEntry(TextEntry& entry) {
    for (TextLine& line : entry.lines) {
        if (line.texture != nullptr) SDL_DestroyTexture(line.texture);
        line.texture = nullptr;
    }
}

void SdlRenderTarget::EvictOldText() {
    // Labels that change every frame (a running time) would otherwise pile up; two seconds
    // unused at 60 frames a second is old.
    constexpr size_t kKeepBelow = 256;
    constexpr uint64_t kOldAfterFrames = 120;
    if (textCache_.size() < kKeepBelow) return;
    for (auto it = textCache_.begin(); it != textCache_.end();) {
        if (it->second.lastUsedFrame + kOldAfterFrames < frameNumber_) {
            DestroyEntry(it->second);
            it = textCache_.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<std::string> SdlRenderTarget::TextLines(const std::string& text, const TextFormat& format,
                                                    const RectF& r) {
    TTF_Font* font = renderer_ != nullptr ? Font(format) : nullptr;
    if (font == nullptr || text.empty()) return {};
    return LayOut(text, format, r, font)->text;
}

// --- Read-back ---

std::vector<uint32_t> SdlRenderTarget::ReadPixels() {
    std::vector<uint32_t> pixels;
    if (renderer_ == nullptr) return pixels;
    SettleFills();
    pixels.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    SelectScene(true);
    const int result =
        SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(), width_ * 4);
    SelectScene(false);
    if (result != 0) pixels.clear();
    return pixels;
}

bool SdlRenderTarget::SavePng(const std::string& path) {
    std::vector<uint32_t> pixels = ReadPixels();
    if (pixels.empty()) {
        std::fprintf(stderr, "%s: cannot read the frame back: %s\n", path.c_str(), SDL_GetError());
        return false;
    }
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), width_, height_, 32, width_ * 4,
                                                              SDL_PIXELFORMAT_ARGB8888);
    const bool saved = surface != nullptr && IMG_SavePNG(surface, path.c_str()) == 0;
    if (!saved) std::fprintf(stderr, "%s: cannot save the frame: %s\n", path.c_str(), SDL_GetError());
    if (surface != nullptr) SDL_FreeSurface(surface);
    return saved;
}

// ---------------------------------------------------------------------------------------------
// WindowRenderTarget

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

// ---------------------------------------------------------------------------------------------
// OffscreenRenderTarget

std::unique_ptr<OffscreenRenderTarget> OffscreenRenderTarget::Create(int width, int height,
                                                                     std::string* error) {
    auto fail = [&](const char* what) {
        if (error != nullptr) *error = std::string(what) + ": " + SDL_GetError();
        return nullptr;
    };
    if (width <= 0 || height <= 0) return fail("an off-screen target needs a positive size");
    std::unique_ptr<OffscreenRenderTarget> target(new OffscreenRenderTarget(width, height));
    target->surface_ = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888);
    if (target->surface_ == nullptr) return fail("cannot create the surface");
    SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(target->surface_);
    if (renderer == nullptr) return fail("cannot create the software renderer");
    if (!target->Attach(renderer)) return fail("cannot start the font engine");
    target->DrawStraightInto(target->surface_);
    return target;
}

OffscreenRenderTarget::~OffscreenRenderTarget() {
    Release();
    if (surface_ != nullptr) SDL_FreeSurface(surface_);
    surface_ = nullptr;
}

void OffscreenRenderTarget::BeginDraw() {
    StartFrame();
}

void OffscreenRenderTarget::EndDraw() {
    SDL_RenderFlush(renderer_);
    SettleFills();
}

uint32_t OffscreenRenderTarget::PixelAt(int x, int y) {
    if (surface_ == nullptr || x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
    SDL_RenderFlush(renderer_);
    SettleFills();
    if (SDL_MUSTLOCK(surface_) && SDL_LockSurface(surface_) != 0) return 0;
    const auto* row =
        static_cast<const uint8_t*>(surface_->pixels) + static_cast<ptrdiff_t>(y) * surface_->pitch;
    uint32_t pixel = 0;
    std::memcpy(&pixel, row + static_cast<ptrdiff_t>(x) * 4, sizeof pixel);
    if (SDL_MUSTLOCK(surface_)) SDL_UnlockSurface(surface_);
    return pixel;
}

}  // namespace platform
