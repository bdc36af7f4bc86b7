#include "ui/output_list.h"

#include <algorithm>

#include "view/graphics_device.h"

namespace {

constexpr float kRowHeight = 18.0f;
constexpr float kLineHeight = 20.0f;
constexpr float kDelayRowHeight = 22.0f;
constexpr float kMarkWidth = 14.0f;  // the dot before the row that sounds
const platform::TextFormat kRowText{13.0f, 400, platform::TextAlign::Leading, true, false, true};
const platform::TextFormat kLineText{13.0f, 700, platform::TextAlign::Centre, true, false, true};

}  // namespace

void OutputList::Build(const GraphicsDevice* device, const ColourF* brushes) {
    delay.caption = "Delay";
    delay.captionWidth = 92;
    delay.unit = " ms";
    delay.lowest = 0;
    delay.highest = 500;
    delay.step = 5;
    delay.device = device;
    delay.brushes = brushes;
    open = false;
}

float OutputList::Height(const OutputListView& shown) const {
    if (!open) return kLineHeight;
    return kLineHeight + static_cast<float>(shown.names.size()) * kRowHeight +
           (shown.chosen > 0 ? kDelayRowHeight : 0.0f);
}

OutputListAnswer OutputList::Draw(const GraphicsDevice* device, const RectF& area,
                                  const OutputListView& shown, ColourF text, ColourF dim, const PointI* mouse,
                                  bool mouseDown, bool pressed) {
    OutputListAnswer answer;
    platform::RenderTarget* target = device != nullptr ? device->target : nullptr;
    const float left = area.left + 10, right = area.right - 10;
    if (right - left < 60 || area.bottom - area.top < kLineHeight || shown.names.empty()) return answer;
    const auto over = [&](float top, float height) {
        return mouse != nullptr && RectF{area.left, top, area.right, top + height}.ContainsClosed(
                                       static_cast<float>(mouse->x), static_cast<float>(mouse->y));
    };

    const int chosen = std::clamp(shown.chosen, 0, static_cast<int>(shown.names.size()) - 1);
    const bool overLine = over(area.top, kLineHeight);
    if (overLine && pressed) open = !open;
    if (target != nullptr) {
        // The arrow says the line opens (or closes) the choices.
        const std::string line =
            "Sound: " + shown.names[static_cast<size_t>(chosen)] + (open ? " \xE2\x96\xB4" : " \xE2\x96\xBE");
        target->DrawText(line, kLineText, {left, area.top, right, area.top + kLineHeight},
                         overLine ? text : dim);
    }
    if (!open) return answer;
    float y = area.top + kLineHeight;
    const float delayRoom = chosen > 0 ? kDelayRowHeight : 0.0f;
    const int room = static_cast<int>((area.bottom - delayRoom - y) / kRowHeight);
    const int count = std::min(static_cast<int>(shown.names.size()), room);
    for (int i = 0; i < count; ++i, y += kRowHeight) {
        const bool sounding = i == chosen;
        const bool hovered = over(y, kRowHeight);
        if (hovered && pressed) {
            answer.chosen = i;
            open = false;
        }
        if (target == nullptr) continue;
        if (sounding)
            target->DrawText("\xE2\x97\x8F", kRowText, {left, y, left + kMarkWidth, y + kRowHeight}, text);
        target->DrawText(shown.names[static_cast<size_t>(i)], kRowText,
                         {left + kMarkWidth, y, right, y + kRowHeight}, sounding || hovered ? text : dim);
    }
    if (chosen > 0 && open)
        answer.delay = delay.Update(area.left, area.right, y + 2, mouse, mouseDown, shown.delayMs, pressed);
    return answer;
}
