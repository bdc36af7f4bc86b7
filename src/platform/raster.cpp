// Contents: image pixels; owed runs of flat colour; the rasteriser's fills, owed pixels and
// settling; stretched image pieces; kept strips.
#include "platform/raster.h"

#include <cstring>

#include "platform/raster_blend.h"

namespace platform {

// --- Image pixels ---

void RasterImage::Keep(int width, int height, std::vector<uint32_t> argb) {
    width_ = width;
    height_ = height;
    pixels_ = std::move(argb);
    extents_.assign(static_cast<size_t>(height_), RowExtent{0, 0, false});
    for (int y = 0; y < height_; ++y) {
        const uint32_t* row = Row(y);
        int first = 0, end = width_;
        while (first < end && (row[first] >> 24) == 0) ++first;
        while (end > first && (row[end - 1] >> 24) == 0) --end;
        const bool opaque = std::all_of(row + first, row + end, [](uint32_t p) { return (p >> 24) == 255; });
        extents_[static_cast<size_t>(y)] = {first, end, opaque};
    }
}

namespace {

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

// Owed runs of flat colour, per row

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
        BlendTermsOverFlat(in + (a - left), row + a, b - a, runs[k].colour);
        x = b;
    }
    if (x < right) BlendTerms(in + (x - left), row + x, right - x);
    TakeRuns(runs, left, right, nullptr);
}

}  // namespace

// --- Fills and owed pixels ---

void Rasteriser::SetCanvas(const Canvas& canvas) {
    canvas_ = canvas;
    for (std::vector<OwedRun>& runs : owed_) runs.clear();
    owedTop_ = INT32_MAX;
    owedBottom_ = 0;
    clipLeft_ = clipTop_ = 0;
    clipRight_ = canvas.width;
    clipBottom_ = canvas.height;
}

void Rasteriser::SetClip(int left, int top, int right, int bottom) {
    SettleAll();
    clipLeft_ = std::clamp(left, 0, canvas_.width);
    clipTop_ = std::clamp(top, 0, canvas_.height);
    clipRight_ = std::clamp(right, clipLeft_, canvas_.width);
    clipBottom_ = std::clamp(bottom, clipTop_, canvas_.height);
}

void Rasteriser::DeferFills(bool on) {
    SettleAll();
    deferFills_ = on;
}

void Rasteriser::StartFrame() {
    ++frameNumber_;
    if ((frameNumber_ & 63) == 0) EvictOldStrips();
}

void Rasteriser::Clear(uint32_t colour) {
    if (canvas_.pixels == nullptr) return;
    if (deferFills_) {
        if (owed_.size() < static_cast<size_t>(canvas_.height))
            owed_.resize(static_cast<size_t>(canvas_.height));
        for (int y = clipTop_; y < clipBottom_; ++y) {
            std::vector<OwedRun>& runs = owed_[static_cast<size_t>(y)];
            runs.clear();
            runs.push_back({clipLeft_, clipRight_, colour});
        }
        if (clipBottom_ > clipTop_) {
            NoteOwed(clipTop_);
            NoteOwed(clipBottom_ - 1);
        }
        return;
    }
    for (int y = clipTop_; y < clipBottom_; ++y)
        std::fill(RowAt(y) + clipLeft_, RowAt(y) + clipRight_, colour);
}

void Rasteriser::Fill(int left, int top, int right, int bottom, uint32_t colour) {
    left = std::max(left, clipLeft_);
    top = std::max(top, clipTop_);
    right = std::min(right, clipRight_);
    bottom = std::min(bottom, clipBottom_);
    if (right <= left || bottom <= top || canvas_.pixels == nullptr) return;
    const ptrdiff_t n = right - left;
    const uint32_t a = colour >> 24;
    if (n <= kNarrowFill) {
        // Thin columns (a waveform, upright lines) and the short rows of a slanted line would cost
        // more to keep track of than to write: what is owed in their rows is written out whole,
        // so that the columns drawn next to them find nothing owed and go straight in.
        for (int y = top; y < bottom; ++y) {
            if (Owes(y)) SettleSpan(y, clipLeft_, clipRight_);
        }
    } else if (a == 255 && deferFills_) {
        OweBox(left, top, right, bottom, colour);
        return;
    }
    uint32_t* row = RowAt(top) + left;
    if (a == 255 && n == 1) {  // the columns of a waveform
        for (int y = top; y < bottom; ++y, row += canvas_.stride) *row = colour;
        return;
    }
    if (a == 255) {
        for (int y = top; y < bottom; ++y, row += canvas_.stride) std::fill(row, row + n, colour);
        return;
    }
    BlendBox(left, top, right, bottom, colour);
}

void Rasteriser::OweBox(int left, int top, int right, int bottom, uint32_t colour) {
    if (owed_.size() < static_cast<size_t>(canvas_.height)) owed_.resize(static_cast<size_t>(canvas_.height));
    for (int y = top; y < bottom; ++y) OweRun(owed_[static_cast<size_t>(y)], left, right, colour);
    NoteOwed(top);
    NoteOwed(bottom - 1);
}

void Rasteriser::BlendBox(int left, int top, int right, int bottom, uint32_t colour) {
    // The colour's share is the same for every pixel; only the destination's is worked out each time.
    const uint32_t a = colour >> 24;
    const uint64_t src = DivideLanesBy255(Widen(colour | 0xFF000000u) * a);
    const uint32_t inv = 255 - a;
    auto blend = [&](uint32_t d) { return Narrow(src + DivideLanesBy255(Widen(d) * inv)); };
    for (int y = top; y < bottom; ++y) {
        uint32_t* line = RowAt(y);
        if (!Owes(y)) {
            for (int x = left; x < right; ++x) line[x] = blend(line[x]);
            continue;
        }
        // Over an owed run the result is flat too: the run only changes colour. The pixels
        // between runs are blended where they are.
        std::vector<OwedRun>& runs = owed_[static_cast<size_t>(y)];
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

void Rasteriser::SettleSpan(int y, int left, int right) {
    if (!Owes(y)) return;
    TakeRuns(owed_[static_cast<size_t>(y)], left, right, canvas_.pixels != nullptr ? RowAt(y) : nullptr);
}

void Rasteriser::Settle(int left, int top, int right, int bottom) {
    left = std::max(left, 0);
    right = std::min(right, canvas_.width);
    top = std::max(top, owedTop_);
    bottom = std::min({bottom, owedBottom_, canvas_.height});
    if (right <= left) return;
    for (int y = top; y < bottom; ++y) SettleSpan(y, left, right);
}

void Rasteriser::SettleAll() {
    if (owedBottom_ <= owedTop_) return;
    for (int y = owedTop_; y < owedBottom_; ++y) {
        std::vector<OwedRun>& runs = owed_[static_cast<size_t>(y)];
        if (canvas_.pixels != nullptr && y < canvas_.height) {
            uint32_t* row = RowAt(y);
            for (const OwedRun& r : runs) std::fill(row + r.first, row + r.end, r.colour);
        }
        runs.clear();
    }
    owedTop_ = INT32_MAX;
    owedBottom_ = 0;
}

// --- Stretched image pieces ---

void Rasteriser::CopyPiece(const RasterImage& image, const PixelBox& src, const PixelBox& out,
                           uint8_t alpha) {
    if (alpha == 0 || image.Empty() || src.w <= 0 || src.h <= 0 || out.w <= 0 || out.h <= 0 || src.x < 0 ||
        src.y < 0 || src.x + src.w > image.Width() || src.y + src.h > image.Height() ||
        canvas_.pixels == nullptr) {
        return;
    }
    const int x0 = std::max(out.x, clipLeft_), x1 = std::min(out.x + out.w, clipRight_);
    const int y0 = std::max(out.y, clipTop_), y1 = std::min(out.y + out.h, clipBottom_);
    if (x1 <= x0 || y1 <= y0) return;
    if (const Strip* strip = StripFor(image, src, out.w, alpha)) {
        CopyStripRows(*strip, src, out, x0, x1, y0, y1);
    } else {
        CopyPickedRows(image, src, out, alpha, x0, x1, y0, y1);
    }
}

void Rasteriser::CopyStripRows(const Strip& strip, const PixelBox& src, const PixelBox& out, int x0, int x1,
                               int y0, int y1) {
    const Stepper down(src.h, out.h);
    const int32_t lo = x0 - out.x, hi = x1 - out.x;  // the visible columns of the piece
    for (int y = y0; y < y1; ++y) {
        const int sy = src.y + down.At(y - out.y);
        const uint32_t* in = strip.pixels.data() + static_cast<ptrdiff_t>(sy) * strip.width;
        uint32_t* row = RowAt(y);
        const bool owes = Owes(y);
        const auto sy_ = static_cast<size_t>(sy);
        for (uint32_t k = strip.spanStart[sy_]; k < strip.spanStart[sy_ + 1]; ++k) {
            const StripSpan& span = strip.spans[k];
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
}

void Rasteriser::CopyPickedRows(const RasterImage& image, const PixelBox& src, const PixelBox& out,
                                uint8_t alpha, int x0, int x1, int y0, int y1) {
    const Stepper down(src.h, out.h);
    const Stepper across(src.w, out.w);
    sourceColumns_.resize(static_cast<size_t>(x1 - x0));
    for (int x = x0; x < x1; ++x) sourceColumns_[static_cast<size_t>(x - x0)] = src.x + across.At(x - out.x);
    const int32_t* columns = sourceColumns_.data();
    const auto count = static_cast<ptrdiff_t>(sourceColumns_.size());

    for (int y = y0; y < y1; ++y) {
        const int sy = src.y + down.At(y - out.y);
        // Only the destination columns that take a pixel from the row's visible part are visited.
        const RasterImage::RowExtent extent = image.Extent(sy);
        const int32_t first = std::max(extent.first, src.x);
        const int32_t end = std::min(extent.end, src.x + src.w);
        if (end <= first) continue;
        const ptrdiff_t from = std::lower_bound(columns, columns + count, first) - columns;
        const ptrdiff_t to = std::lower_bound(columns + from, columns + count, end) - columns;
        const uint32_t* in = image.Row(sy);
        uint32_t* outRow = RowAt(y) + x0;
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

// --- Kept strips ---

namespace {

// Strips wider than this, or larger, are not made: such pieces are drawn the general way.
constexpr int32_t kStripMaxWidth = 4096;
constexpr size_t kStripMaxPixels = size_t{1} << 20;
constexpr size_t kStripBudget = size_t{8} << 20;  // pixels held by all strips of a rasteriser
// An opaque stretch shorter than this is blended with its neighbours rather than copied apart.
constexpr int32_t kShortestCopy = 8;

}  // namespace

const Rasteriser::Strip* Rasteriser::StripFor(const RasterImage& image, const PixelBox& src, int outWidth,
                                              uint8_t alpha) {
    const StripKey key{image.Serial(), src.x, src.w, outWidth, alpha};
    Strip& strip = strips_[key];
    strip.lastUsedFrame = frameNumber_;
    if (!strip.pixels.empty()) return &strip;
    // Made the second time it is asked for: a piece drawn once (a spark at one step of its fade)
    // is cheaper to draw than to make a strip of.
    const size_t size = static_cast<size_t>(outWidth) * static_cast<size_t>(image.Height());
    if (++strip.asked < 2 || outWidth > kStripMaxWidth || size == 0 || size > kStripMaxPixels ||
        stripPixels_ + size > kStripBudget) {
        return nullptr;
    }
    MakeStrip(strip, image, src, outWidth, alpha);
    stripPixels_ += size;
    return &strip;
}

void Rasteriser::MakeStrip(Strip& strip, const RasterImage& image, const PixelBox& src, int outWidth,
                           uint8_t alpha) {
    const size_t h = static_cast<size_t>(image.Height());
    const Stepper across(src.w, outWidth);
    sourceColumns_.resize(static_cast<size_t>(outWidth));
    for (int32_t i = 0; i < outWidth; ++i) sourceColumns_[static_cast<size_t>(i)] = src.x + across.At(i);
    strip.width = outWidth;
    strip.pixels.resize(static_cast<size_t>(outWidth) * h);
    strip.spanStart.assign(h + 1, 0);
    strip.spans.clear();
    auto kind = [](uint32_t p) { return (p >> 24) == 0 ? 0 : (p >> 24) == 255 ? 2 : 1; };
    for (size_t y = 0; y < h; ++y) {
        const uint32_t* in = image.Row(static_cast<int>(y));
        uint32_t* out = strip.pixels.data() + y * static_cast<size_t>(outWidth);
        for (int32_t i = 0; i < outWidth; ++i)
            out[i] = SourceTerm(in[sourceColumns_[static_cast<size_t>(i)]], alpha);
        // Stretches with something to show: long opaque ones are copied, the rest blended, and
        // transparent ones skipped.
        strip.spanStart[y] = static_cast<uint32_t>(strip.spans.size());
        const size_t rowFirst = strip.spans.size();
        for (int32_t i = 0; i < outWidth;) {
            const int k = kind(out[i]);
            int32_t j = i + 1;
            while (j < outWidth && kind(out[j]) == k) ++j;
            if (k != 0) {
                const bool copy = k == 2 && j - i >= kShortestCopy;
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
}

void Rasteriser::EvictOldStrips() {
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

}  // namespace platform
