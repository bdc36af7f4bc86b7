#include "view/time_bar.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "core/time_format.h"
#include "view/note_density.h"

namespace {

enum : int {
    PalGuide = 10,  // centre line, ticks and texts
    PalInnerLeft = 12,
    PalInnerRight = 13,
    PalOuterLeft = 14,
    PalOuterRight = 15,
};

// Marks stand at least this far apart, and this far from the total length at the right end.
constexpr float kMarkGap = 100.0f;
constexpr float kLabelPlateWidth = 44.0f;
constexpr ColourF kLabelPlate = {0.0f, 0.0f, 0.0f, 0.6f};
// The loop's band and edges.
constexpr ColourF kLoopBand = {0.2f, 0.6f, 1.0f, 0.22f};
constexpr ColourF kLoopEdge = {0.3f, 0.7f, 1.0f, 0.9f};
// Over the part of the song not yet rendered.
constexpr ColourF kUnrendered = {0.5f, 0.5f, 0.5f, 0.18f};

// A sample value placed in a channel's half of the bar, scaled around the half's middle.
float SampleY(int16_t v, float scale, float halfHeight, float base) {
    return (static_cast<float>(v) * scale + 32768.0f) * halfHeight / 65536.0f + base;
}

// A 64-bit digest of everything the waveform's calls depend on, so that the target can keep them
// from one frame to the next.
class Digest {
  public:
    void Add(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (; size >= 8; p += 8, size -= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            Mix(word);
        }
        uint64_t tail = size;  // the last few bytes, with how many there are
        for (size_t i = 0; i < size; ++i) tail = tail << 8 | p[i];
        Mix(tail);
    }
    void Add(float v) { Add(&v, sizeof v); }
    void Add(ColourF c) {
        for (float v : {c.r, c.g, c.b, c.a}) Add(v);
    }
    [[nodiscard]] uint64_t Value() const { return h_; }

  private:
    void Mix(uint64_t v) {
        h_ = (h_ ^ v) * 0xFF51AFD7ED558CCDull;
        h_ ^= h_ >> 32;
    }
    uint64_t h_ = 0xCBF29CE484222325ull;
};

// The notes drawn where the sound is not rendered yet: from pixel column `first` of the bar's `n`
// on, each column as tall as the notes a second that start in its stretch of the song, in the
// waveform's two halves and its darker colours, a shadow of the sound to come. By their square
// root, as loudness grows slower than the notes pile up: a quiet passage of a dense song still
// shows beside its loudest, and every column with a note at all shows a pixel.
void DrawNoteDensity(platform::RenderTarget& target, const NoteDensity& density, double duration, float left,
                     int first, float n, float top, float half, ColourF upper, ColourF lower) {
    const double perColumn = duration / static_cast<double>(n);
    double peak = 0;
    for (int c = 0; static_cast<float>(c) < n; ++c)
        peak = std::max(peak, density.Rate(c * perColumn, (c + 1) * perColumn));
    if (!(peak > 0)) return;
    const float reach = half * 0.45f;  // nine tenths of a half's own half
    for (int c = std::max(first, 0); static_cast<float>(c) < n; ++c) {
        const double rate = density.Rate(c * perColumn, (c + 1) * perColumn);
        if (!(rate > 0)) continue;
        const float d = std::max(1.0f, reach * static_cast<float>(std::sqrt(rate / peak)));
        const float x = left + static_cast<float>(c);
        const float a = top + half * 0.5f, b = top + half * 1.5f;
        target.DrawLine(x, a - d, x, a + d, upper, 1.0f);
        target.DrawLine(x, b - d, x, b + d, lower, 1.0f);
    }
}

}  // namespace

double TimeMarkStep(double duration, float width) {
    static constexpr double kSteps[] = {5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    for (double step : kSteps) {
        if (step * width >= kMarkGap * duration) return step;
    }
    return kSteps[std::size(kSteps) - 1];
}

void TimeBar::Draw(const SongView& view) const {
    platform::RenderTarget* target = Target();
    if (target == nullptr) return;
    const float t = top;
    const float h = (bottom - t) * 0.5f;
    const float ym = t + h;
    const float n = right - left + 1.0f;  // pixel columns

    target->DrawLine(left, ym, right, ym, Brush(PalGuide), 1.0f);
    target->DrawLine(left, t + h * 0.5f, right, t + h * 0.5f, Brush(PalInnerLeft), 1.0f);
    target->DrawLine(left, t + 1.5f * h, right, t + 1.5f * h, Brush(PalInnerRight), 1.0f);

    if (!view.songReady || view.song == nullptr || view.overview == nullptr) return;
    const AudioOverview& overview = *view.overview;
    const double duration = view.song->duration;
    const float songTime = view.songTime;

    // The waveform is thousands of calls that stay the same while the song plays: a target that
    // still holds them from the last frame is spared making them again.
    Digest digest;
    for (float v : {left, t, h, ym, n}) digest.Add(v);
    for (int p : {PalOuterLeft, PalOuterRight, PalInnerLeft, PalInnerRight}) digest.Add(Brush(p));
    for (const auto* columns : {&overview.overviewMinLeft, &overview.overviewMaxLeft,
                                &overview.overviewMinRight, &overview.overviewMaxRight})
        digest.Add(columns->data(), sizeof *columns);
    if (target->BeginGroup(digest.Value())) {
        for (int c = 0; static_cast<float>(c) < n; ++c) {
            const int i = std::min(static_cast<int>(static_cast<float>(c) * kOverviewColumns / n),
                                   kOverviewColumns - 1);
            const float x = left + static_cast<float>(c);
            target->DrawLine(x, SampleY(overview.overviewMinLeft[i], 1.0f, h, t), x,
                             SampleY(overview.overviewMaxLeft[i], 1.0f, h, t), Brush(PalOuterLeft), 1.0f);
            target->DrawLine(x, SampleY(overview.overviewMinRight[i], 1.0f, h, ym), x,
                             SampleY(overview.overviewMaxRight[i], 1.0f, h, ym), Brush(PalOuterRight), 1.0f);
            target->DrawLine(x, SampleY(overview.overviewMinLeft[i], 0.8f, h, t), x,
                             SampleY(overview.overviewMaxLeft[i], 0.8f, h, t), Brush(PalInnerLeft), 1.0f);
            target->DrawLine(x, SampleY(overview.overviewMinRight[i], 0.8f, h, ym), x,
                             SampleY(overview.overviewMaxRight[i], 0.8f, h, ym), Brush(PalInnerRight), 1.0f);
        }
    }
    target->EndGroup();

    // What is not rendered yet shows the song's notes instead: a huge song renders for minutes.
    if (view.renderedShare < 1.0f && view.noteDensity != nullptr && !view.noteDensity->Empty() &&
        duration > 0) {
        const auto first = static_cast<int>(std::clamp(view.renderedShare, 0.0f, 1.0f) * n);
        Digest notes;
        for (float v : {left, h, ym, n, static_cast<float>(first), static_cast<float>(duration)})
            notes.Add(v);
        notes.Add(Brush(PalOuterLeft));
        notes.Add(Brush(PalOuterRight));
        const uint64_t counted = view.noteDensity->Digest();
        notes.Add(&counted, sizeof counted);
        if (target->BeginGroup(notes.Value()))
            DrawNoteDensity(*target, *view.noteDensity, duration, left, first, n, t, h, Brush(PalOuterLeft),
                            Brush(PalOuterRight));
        target->EndGroup();
    }

    // While the song renders, what is still to come is veiled, with a line where the render stands:
    // that part has no waveform yet, and a seek there waits for the render.
    if (view.renderedShare < 1.0f) {
        const float frontier = left + std::clamp(view.renderedShare, 0.0f, 1.0f) * n;
        target->FillRect({frontier, t, right + 1.0f, bottom}, kUnrendered);
        target->DrawLine(frontier, t, frontier, bottom, Brush(PalGuide), 1.0f);
    }

    // The loop: a band over the stretch that plays over and over, with its edges; a first mark
    // alone is its edge.
    if (duration > 0) {
        const auto at = [&](double seconds) {
            return left + static_cast<float>(std::clamp(seconds / duration, 0.0, 1.0)) * width;
        };
        if (view.loopStart >= 0 && view.loopEnd > view.loopStart) {
            const float a = at(view.loopStart), b = at(view.loopEnd);
            target->FillRect({a, t, b, bottom}, kLoopBand);
            target->DrawLine(a, t, a, bottom, kLoopEdge, 2.0f);
            target->DrawLine(b, t, b, bottom, kLoopEdge, 2.0f);
        }
        if (view.loopMark >= 0)
            target->DrawLine(at(view.loopMark), t, at(view.loopMark), bottom, kLoopEdge, 2.0f);
        // The loop's times, over its start: a passage is told by where it begins and ends, which
        // the band alone cannot say closer than a pixel's worth of song.
        char loopText[64] = "";
        const auto clock = [](double s, char* out, size_t size) {
            const int tenths = static_cast<int>(std::lround(std::max(0.0, s) * 10.0));
            std::snprintf(out, size, "%d:%02d.%d", tenths / 600, tenths / 10 % 60, tenths % 10);
        };
        char from[16], to[16];
        float textX = 0;
        if (view.loopStart >= 0 && view.loopEnd > view.loopStart) {
            clock(view.loopStart, from, sizeof from);
            clock(view.loopEnd, to, sizeof to);
            std::snprintf(loopText, sizeof loopText, "Loop %s - %s", from, to);
            textX = at(view.loopStart);
        } else if (view.loopMark >= 0) {
            clock(view.loopMark, from, sizeof from);
            std::snprintf(loopText, sizeof loopText, "Loop from %s", from);
            textX = at(view.loopMark);
        }
        if (loopText[0] != '\0') {
            constexpr float kLoopTextWidth = 170.0f;
            const float x = std::min(textX + 4.0f, right - kLoopTextWidth);
            target->FillRect({x, t + 2.0f, x + kLoopTextWidth, t + 18.0f}, kLabelPlate);
            device->DrawTextSmall(loopText, x, t, static_cast<int>(kLoopTextWidth), 20, kLoopEdge);
        }
    }

    // A song without length (a render without data) has no position to show but the start.
    float position = 0;
    if (duration > 0) {
        position = static_cast<float>(static_cast<double>(width) * songTime / duration);
        position = position > 0 ? std::min(position, width) : 0.0f;
    }
    target->DrawLine(left + position, t, left + position, bottom, Brush(PalText), 1.0f);

    platform::TextFormat& format = device->textSmall;
    char text[100];
    if (duration > 0) {
        const double step = TimeMarkStep(duration, width);
        format.align = platform::TextAlign::Leading;  // the first label starts at its tick
        float offset = 0;
        for (int j = 0; j * step < duration; ++j) {
            const float x = static_cast<float>(j * step * n / duration);
            if (j == 1) {
                format.align = platform::TextAlign::Centre;  // the others are centred on theirs
                offset = -50.0f;
            }
            // The total length stands at the right end; a mark there would run into it.
            if (!(x < width - kMarkGap)) break;
            const int seconds = static_cast<int>(j * step);
            std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
            target->DrawLine(x + left, ym, x + left, ym + 5.0f, Brush(PalGuide), 1.0f);
            // A dark plate behind the label keeps it readable over a loud waveform.
            const float plateLeft = j == 0 ? x + left : x + left - kLabelPlateWidth * 0.5f;
            target->FillRect({plateLeft, ym + 6.0f, plateLeft + kLabelPlateWidth, ym + 20.0f}, kLabelPlate);
            device->DrawTextSmall(text, static_cast<int>(x + left + offset), static_cast<int>(ym), 100, 20,
                                  Brush(PalGuide));
        }
    }

    if (view.waitingForRender) {
        // Said beside the play position, where the eye is, on a plate as wide as the words.
        format.align = platform::TextAlign::Leading;
        const std::string waiting = "waiting for the render";
        const float measured = target->TextWidth(waiting, format);
        const float plate = measured > 0 ? std::ceil(measured) + 10.0f : 160.0f;
        const float x = std::min(left + position + 4.0f, right - plate);
        target->FillRect({x, t + 2.0f, x + plate, t + 18.0f}, kLabelPlate);
        device->DrawTextSmall(waiting, static_cast<int>(x + 4.0f), static_cast<int>(t),
                              static_cast<int>(plate) - 8, 20, Brush(PalText));
    }

    format.align = platform::TextAlign::Trailing;
    device->DrawTextSmall(FormatSongTime(duration), static_cast<int>(width + left - 200.0f),
                          static_cast<int>(ym), 200, 20, Brush(PalGuide));
    // textSmall is shared by every text of the program, which expects it centred.
    format.align = platform::TextAlign::Centre;
}
