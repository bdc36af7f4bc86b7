#include "ui/widgets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "view/graphics_device.h"
#include "view/panel.h"

namespace {

// Palette entries of the widgets.
constexpr int kButtonFrame = 5;
constexpr int kProgressFill = 11;
constexpr int kLinkFill[3] = {22, 23, 7};
constexpr int kButtonFill[3] = {4, 6, 7};
constexpr int kTextColour[3] = {PalText, 9, 10};
// The caption of a button that cannot act now: plainly dimmed against the button's fill.
constexpr ColourF kDimmedCaption = {0.45f, 0.5f, 0.56f, 1.0f};

constexpr float kButtonHeight = 30.0f;
constexpr float kLabelHeight = 20.0f;
constexpr float kExtraLineHeight = 17.0f;  // each line after a link's first: one line of the small text

// The slider: a caption column wide enough for "Volume 100%" at 13 units, or for "100%" alone in a
// narrow panel, then the track. Below kSliderShortestTrack there is no track at all.
constexpr float kSliderTextSize = 13.0f;
constexpr float kSliderHeight = 20.0f;
constexpr float kSliderValueWidth = 40.0f;
constexpr float kSliderGap = 8.0f;
constexpr float kSliderShortestTrack = 20.0f;
constexpr float kSliderKnobHalfWidth = 4.0f;
constexpr float kSliderKnobHalfHeight = 7.0f;
constexpr float kSliderTrackHalfHeight = 2.0f;
constexpr float kSliderGrip = 6.0f;  // a press this far beside the track's ends still takes the slider
constexpr int kSliderEmpty = 11;     // the track above the value
constexpr int kSliderFull = 10;      // the track up to the value, and the knob: the transport's grey
constexpr int kSliderLit = 9;        // the knob under the mouse or dragged

// The press-once rule shared by buttons and links. Returns the new state.
// `pressed` says the button went down since the last frame: a tap may have come and gone between
// two frames, leaving the button up when the widget looks, and it is a click all the same.
int32_t TakeMouse(float left, float top, float right, float bottom, const PointI* p, bool down, bool pressed,
                  bool& armed) {
    if (pressed) armed = true;
    down = down || pressed;
    if (p == nullptr) return WidgetNormal;  // drawn where there is no mouse (a video frame)
    const float x = static_cast<float>(p->x);
    const float y = static_cast<float>(p->y);
    if (!RectF{left, top, right, bottom}.ContainsClosed(x, y)) return WidgetNormal;
    if (down && armed) {
        armed = false;
        return WidgetClicked;
    }
    return WidgetHover;
}

// The caption sits 3 pixels below the top and drops by one in the frame of a click.
void DrawCaption(const GraphicsDevice* device, const std::string& text, float left, float top, float right,
                 int32_t state, ColourF colour) {
    if (device == nullptr || device->target == nullptr) return;
    const float d = state == WidgetClicked ? 1.0f : 0.0f;
    const float w = static_cast<float>(static_cast<int>(right - left));
    device->target->DrawText(text, device->textSmall, RectF{left, top + 3 + d, left + w, top + 3 + d + 20},
                             colour);
}

void Fill(const GraphicsDevice* device, const RectF& r, ColourF colour) {
    if (device != nullptr && device->target != nullptr) device->target->FillRect(r, colour);
}

}  // namespace

int EstimatedLines(std::string_view text, float width, float textSize) {
    const float glyph = std::max(textSize, 1.0f) * 0.7f;
    const int perLine = std::max(1, static_cast<int>(width / glyph));
    int lines = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        int characters = 0;  // UTF-8 characters, not bytes
        for (size_t i = start; i < end; ++i)
            characters += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 ? 1 : 0;
        lines += std::max(1, (characters + perLine - 1) / perLine);
        start = end + 1;
    }
    return lines;
}

std::string ProgressCaption(const std::string& text, float progress) {
    char percent[32];
    std::snprintf(percent, sizeof percent, " (%.0f%%)", static_cast<double>(progress));
    return text + percent;
}

bool Button::Update(float panelLeft, float panelRight, float panelTop, const PointI* mousePoint, bool down,
                    bool pressed) {
    left = panelLeft + 10;
    right = panelRight - 10;
    if (right < 0) return false;
    top = panelTop + offsetY;
    bottom = top + kButtonHeight;
    mouseDown = down;
    if (!down) armed = true;
    state = TakeMouse(left, top, right, bottom, mousePoint, down, pressed, armed);

    if (brushes != nullptr) {
        // A dimmed button neither lights up nor moves when pressed.
        const int32_t shown = dimmed ? WidgetNormal : state;
        const ColourF caption = dimmed ? kDimmedCaption : brushes[kTextColour[shown]];
        Fill(device, RectF{left, top, right, bottom}, brushes[kButtonFrame]);
        Fill(device, RectF{left + 2, top + 2, right - 2, bottom - 2}, brushes[kButtonFill[shown]]);
        if (progress >= 0 && showProgress) {
            const float barRight = (right - 1) - (right - left) * (100 - progress) / 100;
            Fill(device, RectF{left + 1, top + 1, barRight, bottom - 1}, brushes[kProgressFill]);
            DrawCaption(device, ProgressCaption(text, progress), left, top, right, shown, caption);
        } else {
            DrawCaption(device, text, left, top, right, shown, caption);
        }
    }
    return state == WidgetClicked;
}

float LinkButton::Height() const {
    return kButtonHeight + kExtraLineHeight * static_cast<float>(std::max(lines - 1, 0));
}

bool LinkButton::Update(float panelLeft, float panelRight, float panelTop, const PointI* mousePoint,
                        bool down, bool pressed) {
    left = panelLeft;
    right = panelRight;
    if (right < 0) return false;
    top = panelTop + offsetY;
    bottom = top + Height();
    mouseDown = down;
    if (!down) armed = true;
    state = TakeMouse(left, top, right, bottom, mousePoint, down, pressed, armed);
    const bool clicked = state == WidgetClicked;

    if (brushes != nullptr) {
        Fill(device, RectF{left, top, right, bottom}, brushes[kLinkFill[state]]);
        if (lines <= 1) {
            DrawCaption(device, text, left, top, right, state, brushes[kTextColour[state]]);
        } else if (device != nullptr && device->target != nullptr) {
            // Wrapped over the link's lines; whatever does not fit in them ends the last one
            // with an ellipsis.
            platform::TextFormat format = device->textSmall;
            format.wrap = true;
            const float d = state == WidgetClicked ? 1.0f : 0.0f;
            device->target->DrawText(text, format, RectF{left + 4, top + 3 + d, right - 4, bottom - 3 + d},
                                     brushes[kTextColour[state]]);
        }
    }
    return clicked;
}

void Label::Draw(float panelLeft, float panelRight, float panelTop) {
    left = panelLeft;
    right = panelRight;
    top = panelTop + offsetY;
    bottom = top + kLabelHeight;
    if (device == nullptr || brushes == nullptr) return;
    device->DrawTextSmall(text, panelLeft, top + 3, static_cast<int>(panelRight - panelLeft), 10,
                          brushes[PalText]);
}

std::string SliderCaption(const std::string& caption, float percent, float lowest, float highest,
                          const char* unit) {
    const std::string value =
        std::to_string(static_cast<int>(std::lround(std::clamp(percent, lowest, highest)))) + unit;
    return caption.empty() ? value : caption + " " + value;
}

namespace {

// In the legend's smaller regular text: a quiet label beside the control, not a heading.
platform::TextFormat SliderFormat(const GraphicsDevice& device) {
    platform::TextFormat format = device.textSmall;
    format.size = kSliderTextSize;
    format.weight = 400;
    format.align = platform::TextAlign::Leading;
    return format;
}

}  // namespace

float Slider::CaptionNeed() {
    std::string widest = SliderCaption(caption, highest, lowest, highest, unit);
    if (measuredNeed_ > 0 && measuredCaption_ == widest) return measuredNeed_;
    if (device == nullptr || device->target == nullptr) return captionWidth;
    const float width = device->target->TextWidth(widest, SliderFormat(*device));
    if (!(width > 0)) return captionWidth;
    measuredCaption_ = std::move(widest);
    // A pixel either side, so that rounding in the text layer never trims the last glyph.
    measuredNeed_ = std::ceil(width) + 2;
    return measuredNeed_;
}

float Slider::ValueAt(float x) const {
    if (!(trackRight > trackLeft)) return value;
    const float share = std::clamp((x - trackLeft) / (trackRight - trackLeft), 0.0f, 1.0f);
    const float steps = std::round(share * (highest - lowest) / step);
    return std::clamp(lowest + steps * step, lowest, highest);
}

SliderChange Slider::Update(float panelLeft, float panelRight, float rowTop, const PointI* mousePoint,
                            bool down, float ownerValue, bool pressed) {
    left = panelLeft + 10;
    right = panelRight - 10;
    top = rowTop;
    bottom = top + kSliderHeight;
    const float room = right - left - kSliderGap - 2 * kSliderShortestTrack;
    const float column = captionWidth <= room ? captionWidth : std::min(captionWidth, kSliderCaptionColumn);
    const bool withCaption = column <= room;
    trackLeft = left + (withCaption ? column : kSliderValueWidth) + kSliderGap;
    trackRight = right - kSliderKnobHalfWidth;
    if (trackRight - trackLeft < kSliderShortestTrack) trackLeft = trackRight;

    const bool haveMouse = mousePoint != nullptr;
    const float x = haveMouse ? static_cast<float>(mousePoint->x) : 0;
    const float y = haveMouse ? static_cast<float>(mousePoint->y) : 0;
    const bool over =
        haveMouse && trackRight > trackLeft &&
        RectF{trackLeft - kSliderGrip, top, trackRight + kSliderGrip, bottom}.ContainsClosed(x, y);

    SliderChange change = SliderChange::None;
    // A tap on the track that came and went between two frames is a press and a release at once.
    if (pressed && !down && over) {
        value = ValueAt(x);
        dragging = false;
        armed = true;
        state = WidgetHover;
        Draw();
        return SliderChange::Released;
    }
    if (pressed) armed = true;
    if (!down) {
        if (dragging && haveMouse) {
            value = ValueAt(x);
            change = SliderChange::Released;
        }
        dragging = false;
        armed = true;
    } else if (armed) {
        armed = false;
        dragging = over;
    }
    if (dragging && haveMouse) {
        value = ValueAt(x);
        if (value != ownerValue) change = SliderChange::Moved;
    } else if (change != SliderChange::Released) {
        value = std::isnan(ownerValue) ? lowest : std::clamp(ownerValue, lowest, highest);
    }
    state = dragging ? WidgetClicked : over ? WidgetHover : WidgetNormal;

    Draw();
    return change;
}

void Slider::Draw() const {
    if (device == nullptr || device->target == nullptr || brushes == nullptr || right < 0) return;
    platform::RenderTarget& target = *device->target;
    const bool withTrack = trackRight > trackLeft;
    const bool withCaption = withTrack && trackLeft - left > kSliderValueWidth + kSliderGap;
    const platform::TextFormat format = SliderFormat(*device);
    const float captionRight = withTrack ? trackLeft - kSliderGap : right;
    target.DrawText(SliderCaption(withCaption ? caption : std::string(), value, lowest, highest, unit),
                    format, RectF{left, top, captionRight, bottom}, brushes[PalText]);
    if (!withTrack) return;
    const float middle = (top + bottom) / 2;
    const float span = highest > lowest ? highest - lowest : 1.0f;
    const float knob = trackLeft + (trackRight - trackLeft) * std::clamp((value - lowest) / span, 0.0f, 1.0f);
    target.FillRect({trackLeft, middle - kSliderTrackHalfHeight, trackRight, middle + kSliderTrackHalfHeight},
                    brushes[kSliderEmpty]);
    target.FillRect({trackLeft, middle - kSliderTrackHalfHeight, knob, middle + kSliderTrackHalfHeight},
                    brushes[kSliderFull]);
    target.FillRect({knob - kSliderKnobHalfWidth, middle - kSliderKnobHalfHeight, knob + kSliderKnobHalfWidth,
                     middle + kSliderKnobHalfHeight},
                    brushes[state == WidgetNormal ? kSliderFull : kSliderLit]);
}
