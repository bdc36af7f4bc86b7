// The history of a song's passes as a small chart: accuracy per pass as a line over 0 to 100%,
// and under it the timing as a bar per pass up (late) or down (early) from a middle line, with a
// thin rule between days. The newest pass is at the right; older ones fall off the left once the
// chart is full.
// Laying out is a pure step of its own, so the chart's geometry is checked without drawing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/graphics.h"
#include "settings/song_scores.h"

struct ChartPass {
    float x;          // the pass's centre
    float accuracyY;  // the accuracy line's point
    float offsetTop;  // the timing bar, from the middle line towards the side it leans
    float offsetBottom;
    bool newDay;  // the first pass of its day (UTC) after one of an earlier day: a rule before it
};

struct ProgressChartLayout {
    static constexpr int kMostPasses = 40;   // the passes one chart shows, newest last
    static constexpr int kFewestSlots = 10;  // fewer passes than this are not spread wider
    // A mean timing error this large fills the timing half of the chart; a larger one is cut there.
    static constexpr float kFullOffsetMs = 150.0f;

    RectF accuracyBox;  // the upper part: accuracy
    RectF timingBox;    // the lower part: timing around its middle line
    float barWidth = 0;
    int32_t count = 0;
    ChartPass passes[kMostPasses] = {};
};

// The chart of the passes of `parts` in `passes` (oldest first, as the score memory keeps them)
// inside `box`.
[[nodiscard]] ProgressChartLayout LayOutProgressChart(const std::vector<PassRecord>& passes,
                                                      const std::string& parts, const RectF& box);

void DrawProgressChart(platform::RenderTarget& target, const ProgressChartLayout& layout);
