#include "view/lyrics_view.h"

#include <algorithm>

#include "platform/graphics.h"

namespace {

constexpr float kLeastSize = 11.0f;
constexpr float kMostSize = 26.0f;

// A target without a text layer of its own cannot measure: an average glyph's width stands in.
float Width(platform::RenderTarget& target, const std::string& text, const platform::TextFormat& format) {
    const float measured = target.TextWidth(text, format);
    if (measured > 0) return measured;
    int characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return static_cast<float>(characters) * format.size * 0.55f;
}

}  // namespace

float LyricsTextSize(float height) {
    return std::clamp(height * 0.62f, kLeastSize, kMostSize);
}

void DrawLyrics(platform::RenderTarget& target, const SongLyrics& lyrics, double seconds, const RectF& band,
                const LyricsColours& colours) {
    const LyricPlace place = lyrics.PlaceAt(seconds);
    if (place.line < 0 || band.right - band.left < 40 || band.bottom - band.top < kLeastSize) return;
    const LyricLine& line = lyrics.lines[static_cast<size_t>(place.line)];
    platform::TextFormat format{
        LyricsTextSize(band.bottom - band.top), 700, platform::TextAlign::Leading, true, false, false};
    std::string whole = lyrics.LineText(static_cast<size_t>(place.line));
    const float room = band.right - band.left - 16;
    float width = Width(target, whole, format);
    if (width > room) {
        format.size = std::max(kLeastSize, format.size * room / width);
        width = Width(target, whole, format);
    }
    target.FillRect(band, colours.band);
    if (width > room) {
        // Still too long at the least size: the whole line, cut, in the colour of what is to come.
        format.align = platform::TextAlign::Centre;
        format.ellipsis = true;
        target.DrawText(whole, format, {band.left + 8, band.top, band.right - 8, band.bottom},
                        colours.coming);
        return;
    }
    // Syllable by syllable from the left of the centred line, each in its own colour: a run of the
    // sung ones, the one being sung, then the rest.
    float x = band.left + (band.right - band.left - width) * 0.5f;
    const size_t sung = static_cast<size_t>(std::max(place.sung, 0));
    std::string run;
    auto flush = [&](ColourF colour) {
        if (run.empty()) return;
        const float w = Width(target, run, format);
        target.DrawText(run, format, {x, band.top, x + w + 2, band.bottom}, colour);
        x += w;
        run.clear();
    };
    for (size_t i = 0; i < sung; ++i) run += lyrics.syllables[line.first + i].text;
    flush(colours.sung);
    for (size_t i = sung; i < line.count; ++i) run += lyrics.syllables[line.first + i].text;
    flush(colours.coming);
}
