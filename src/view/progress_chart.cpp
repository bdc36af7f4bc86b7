#include "view/progress_chart.h"

#include <algorithm>

namespace {

constexpr ColourF kFrame{0.35f, 0.35f, 0.4f, 1.0f};
constexpr ColourF kGround{0.08f, 0.08f, 0.1f, 0.9f};
constexpr ColourF kAccuracy{0.3f, 0.85f, 0.45f, 1.0f};
constexpr ColourF kEarly{0.25f, 0.55f, 1.0f, 0.9f};
constexpr ColourF kLate{1.0f, 0.6f, 0.1f, 0.9f};
constexpr ColourF kDayRule{0.6f, 0.6f, 0.65f, 0.6f};

constexpr int64_t kSecondsPerDay = 24 * 60 * 60;
constexpr ColourF kLabel{0.75f, 0.75f, 0.8f, 1.0f};

}  // namespace

ProgressChartLayout LayOutProgressChart(const std::vector<PassRecord>& passes, const std::string& parts,
                                        const RectF& box) {
    ProgressChartLayout layout;
    const float split = box.top + (box.bottom - box.top) * 0.6f;
    layout.accuracyBox = {box.left, box.top, box.right, split};
    layout.timingBox = {box.left, split, box.right, box.bottom};
    // Laid out as the window draws, so nothing is allocated: the newest passes, in a fixed array.
    const PassRecord* shown[ProgressChartLayout::kMostPasses];
    int found = 0;
    for (auto it = passes.rbegin(); it != passes.rend() && found < layout.kMostPasses; ++it) {
        if (it->parts == parts) shown[found++] = &*it;
    }
    std::reverse(shown, shown + found);
    layout.count = found;
    if (layout.count == 0) return layout;
    // A few passes spread over the chart; more than kFewestSlots share it out.
    const float slot = (box.right - box.left) /
                       static_cast<float>(std::max(layout.count, ProgressChartLayout::kFewestSlots));
    layout.barWidth = std::max(1.0f, slot * 0.6f);
    const float firstX = box.right - slot * (static_cast<float>(layout.count) - 0.5f);
    const float middle = (layout.timingBox.top + layout.timingBox.bottom) * 0.5f;
    const float half = (layout.timingBox.bottom - layout.timingBox.top) * 0.5f - 1.0f;
    for (int i = 0; i < layout.count; ++i) {
        const PlayScore& s = shown[static_cast<size_t>(i)]->score;
        ChartPass& c = layout.passes[i];
        c.x = firstX + slot * static_cast<float>(i);
        const float accuracy = static_cast<float>(AccuracyPercent(s)) / 100.0f;
        c.accuracyY = layout.accuracyBox.bottom - 2.0f -
                      accuracy * (layout.accuracyBox.bottom - layout.accuracyBox.top - 4.0f);
        const float lean =
            std::clamp(static_cast<float>(s.meanOffsetMs) / ProgressChartLayout::kFullOffsetMs, -1.0f, 1.0f) *
            half;
        // Late leans up, early down: behind the song is above the line, as a later time is higher up
        // the falling notes.
        c.offsetTop = lean > 0 ? middle - lean : middle;
        c.offsetBottom = lean > 0 ? middle : middle - lean;
        c.newDay = i > 0 && shown[static_cast<size_t>(i)]->when / kSecondsPerDay !=
                                shown[static_cast<size_t>(i) - 1]->when / kSecondsPerDay;
    }
    return layout;
}

void DrawProgressChart(platform::RenderTarget& target, const ProgressChartLayout& layout) {
    const RectF whole{layout.accuracyBox.left, layout.accuracyBox.top, layout.timingBox.right,
                      layout.timingBox.bottom};
    target.FillRect(whole, kGround);
    target.DrawRect(whole, kFrame, 1.0f);
    const float middle = (layout.timingBox.top + layout.timingBox.bottom) * 0.5f;
    target.DrawLine(whole.left, middle, whole.right, middle, kFrame, 1.0f);
    target.DrawLine(whole.left, layout.accuracyBox.bottom, whole.right, layout.accuracyBox.bottom, kFrame,
                    1.0f);
    // What the two halves say, in their corners, under the line and the bars.
    const platform::TextFormat small{11, 400, platform::TextAlign::Leading, true, false, false};
    const RectF& a = layout.accuracyBox;
    target.DrawText("accuracy", small, {a.left + 4, a.top + 2, a.left + 120, a.top + 16}, kLabel);
    const RectF& t = layout.timingBox;
    target.DrawText("late", small, {t.left + 4, t.top + 1, t.left + 60, middle}, kLate);
    target.DrawText("early", small, {t.left + 4, middle, t.left + 60, t.bottom - 1}, kEarly);
    const float slotHalf = layout.barWidth / 1.2f;
    for (int i = 0; i < layout.count; ++i) {
        const ChartPass& c = layout.passes[i];
        if (c.newDay)
            target.DrawLine(c.x - slotHalf, whole.top, c.x - slotHalf, whole.bottom, kDayRule, 1.0f);
        const bool late = c.offsetTop < middle;
        if (c.offsetBottom > c.offsetTop)
            target.FillRect(
                {c.x - layout.barWidth * 0.5f, c.offsetTop, c.x + layout.barWidth * 0.5f, c.offsetBottom},
                late ? kLate : kEarly);
        if (i > 0) {
            const ChartPass& p = layout.passes[i - 1];
            target.DrawLine(p.x, p.accuracyY, c.x, c.accuracyY, kAccuracy, 2.0f);
        }
        target.FillRect({c.x - 2, c.accuracyY - 2, c.x + 2, c.accuracyY + 2}, kAccuracy);
    }
}
