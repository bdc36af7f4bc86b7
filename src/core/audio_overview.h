// core/: the floor every subsystem stands on: the song record, the audio overview, the failure
// value, file access, the clocks, the palette, the panel layout and the time format.
//
// The waveform overview of a rendered song: what the time bar draws instead of the audio itself.
// The synthesiser's side reads it from the rendered file; the views only look at it.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int kOverviewColumns = 1920;

struct AudioOverview {
    uint32_t wavDataBytes = 0;
    uint32_t wavSampleRate = 0;
    int16_t wavChannels = 0;
    // Per column, the lowest and highest sample of each channel across the whole song.
    std::array<int16_t, kOverviewColumns> overviewMinLeft{};
    std::array<int16_t, kOverviewColumns> overviewMaxLeft{};
    std::array<int16_t, kOverviewColumns> overviewMinRight{};
    std::array<int16_t, kOverviewColumns> overviewMaxRight{};
};
