#include "ui/input_list.h"

#include <algorithm>

#include "view/graphics_device.h"

namespace {

constexpr float kRowHeight = 18.0f;
constexpr float kHeadingHeight = 22.0f;
constexpr float kVolumeRowHeight = 22.0f;
constexpr float kMarkWidth = 14.0f;  // the dot before the row listened to
const platform::TextFormat kRowText{13.0f, 400, platform::TextAlign::Leading, true, false, true};
const platform::TextFormat kHeadingText{14.0f, 700, platform::TextAlign::Centre, true, false, true};

}  // namespace

void InputList::Build(const GraphicsDevice* device, const ColourF* brushes) {
    volume.caption = "Keys";
    volume.captionWidth = 80;
    volume.device = device;
    volume.brushes = brushes;
}

float InputList::HeightFor(size_t rows) {
    return kHeadingHeight + static_cast<float>(rows) * kRowHeight + kVolumeRowHeight;
}

InputListAnswer InputList::Draw(const GraphicsDevice* device, const RectF& area, const InputListView& shown,
                                ColourF text, ColourF dim, const PointI* mouse, bool mouseDown,
                                bool pressed) {
    InputListAnswer answer;
    platform::RenderTarget* target = device != nullptr ? device->target : nullptr;
    const float left = area.left + 10, right = area.right - 10;
    if (right - left < 60 || area.bottom - area.top < HeightFor(1)) return answer;

    if (target != nullptr)
        target->DrawText("Play along on", kHeadingText,
                         {area.left, area.top, area.right, area.top + kHeadingHeight}, text);
    float y = area.top + kHeadingHeight;
    const int room = static_cast<int>((area.bottom - kVolumeRowHeight - y) / kRowHeight);
    const int count = std::min(static_cast<int>(shown.names.size()), room);
    for (int i = 0; i < count; ++i, y += kRowHeight) {
        const bool listening = i == shown.listening;
        const bool over = mouse != nullptr && RectF{area.left, y, area.right, y + kRowHeight}.ContainsClosed(
                                                  static_cast<float>(mouse->x), static_cast<float>(mouse->y));
        if (over && pressed) answer.chosen = i;
        if (target == nullptr) continue;
        if (listening)
            target->DrawText("\xE2\x97\x8F", kRowText, {left, y, left + kMarkWidth, y + kRowHeight}, text);
        target->DrawText(shown.names[static_cast<size_t>(i)], kRowText,
                         {left + kMarkWidth, y, right, y + kRowHeight}, listening || over ? text : dim);
    }
    answer.volume =
        volume.Update(area.left, area.right, y + 2, mouse, mouseDown, shown.volumePercent, pressed);
    return answer;
}
