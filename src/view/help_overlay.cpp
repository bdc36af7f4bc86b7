#include "view/help_overlay.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/graphics.h"

namespace {

constexpr float kLineGap = 1.35f;  // a line's height as a share of its text size
constexpr float kLeastSize = 11.0f;
constexpr float kMostSize = 16.0f;
constexpr float kKeysShare = 0.34f;  // of a column: the keys, the rest what they do

float Estimate(const std::string& text, float size) {
    int characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return static_cast<float>(characters) * size * 0.56f;
}

float Width(platform::RenderTarget& target, const std::string& text, const platform::TextFormat& format) {
    const float measured = target.TextWidth(text, format);
    return measured > 0 ? measured : Estimate(text, format.size);
}

}  // namespace

void DrawKeyOverlay(platform::RenderTarget& target, const RectF& scene, const KeyHelp* lines, size_t count,
                    const HelpColours& colours) {
    const float margin = 16;
    const RectF box{scene.left + margin, scene.top + margin, scene.right - margin, scene.bottom - margin};
    if (box.right - box.left < 100 || box.bottom - box.top < 60) return;
    target.FillRect(box, colours.fill);
    target.DrawRect(box, colours.frame, 1.0f);
    const platform::TextFormat heading{18.0f, 700, platform::TextAlign::Centre, true, false, true};
    target.DrawText("Keys (F1 or ? to close)", heading, {box.left, box.top + 6, box.right, box.top + 32},
                    colours.text);
    const float top = box.top + 38, height = box.bottom - 8 - top, width = box.right - box.left - 16;
    // The most columns that leave each room for its keys and their words whole, then the largest
    // size that fits them.
    const int columns = std::clamp(static_cast<int>(width / 460.0f), 1, 3);
    const size_t perColumn = (count + static_cast<size_t>(columns) - 1) / static_cast<size_t>(columns);
    const float size = std::clamp(height / (static_cast<float>(std::max<size_t>(perColumn, 1)) * kLineGap),
                                  kLeastSize, kMostSize);
    const float lineHeight = size * kLineGap;
    const float columnWidth = width / static_cast<float>(columns);
    const platform::TextFormat keysText{size, 700, platform::TextAlign::Leading, true, false, true};
    const platform::TextFormat whatText{size, 400, platform::TextAlign::Leading, true, false, true};
    for (size_t i = 0; i < count; ++i) {
        const size_t column = i / std::max<size_t>(perColumn, 1), row = i % std::max<size_t>(perColumn, 1);
        const float x = box.left + 8 + columnWidth * static_cast<float>(column);
        const float y = top + lineHeight * static_cast<float>(row);
        if (y + lineHeight > box.bottom) break;  // the least size and still no room: cut, never spilled
        const float split = x + columnWidth * kKeysShare;
        target.DrawText(lines[i].keys, keysText, {x, y, split - 6, y + lineHeight}, colours.keys);
        target.DrawText(lines[i].what, whatText, {split, y, x + columnWidth - 8, y + lineHeight},
                        colours.text);
    }
}

RectF DrawTooltip(platform::RenderTarget& target, const std::string& text, PointI at, const RectF& bounds,
                  const HelpColours& colours) {
    const platform::TextFormat format{13.0f, 400, platform::TextAlign::Leading, false, true, false};
    const float widest = std::min(260.0f, bounds.right - bounds.left - 8);
    // As wide as its longest line needs, up to the widest; then as tall as its wrapped lines.
    float width = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        width = std::max(width, Width(target, text.substr(start, end - start), format));
        start = end + 1;
    }
    width = std::min(width + 12, widest);
    int lines = target.WrappedLineCount(text, format, width - 10);
    if (lines <= 0) {
        lines = 0;
        start = 0;
        while (start <= text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines += std::max(
                1, static_cast<int>(std::ceil(Estimate(text.substr(start, end - start), format.size) /
                                              std::max(width - 10, 1.0f))));
            start = end + 1;
        }
    }
    const float height = 17.0f * static_cast<float>(lines) + 8;
    const float x = static_cast<float>(at.x), y = static_cast<float>(at.y);
    // Below the pointer and to its left (the controls stand at the window's right edge), kept inside.
    float left =
        std::clamp(x - width + 12, bounds.left + 2, std::max(bounds.left + 2, bounds.right - width - 2));
    float top = y + 20;
    if (top + height > bounds.bottom - 2) top = std::max(bounds.top + 2, y - height - 6);
    const RectF box{left, top, left + width, top + height};
    target.FillRect(box, colours.fill);
    target.DrawRect(box, colours.frame, 1.0f);
    target.DrawText(text, format, {box.left + 5, box.top + 4, box.right - 5, box.bottom - 4}, colours.text);
    return box;
}

void DrawScreenNote(platform::RenderTarget& target, const ScreenNote& note, double now, const RectF& area,
                    const HelpColours& colours) {
    if (!note.Visible(now)) return;
    const platform::TextFormat format{15.0f, 700, platform::TextAlign::Centre, true, false, true};
    const float width = std::min(Width(target, note.text, format) + 28, area.right - area.left - 16);
    const float middle = (area.left + area.right) * 0.5f;
    const RectF box{middle - width * 0.5f, area.top + 12, middle + width * 0.5f, area.top + 40};
    target.FillRect(box, colours.fill);
    target.DrawRect(box, colours.frame, 1.0f);
    target.DrawText(note.text, format, box, colours.text);
}
