#include "audio/volume.h"

#include <algorithm>
#include <cmath>

float VolumeGain(float percent) {
    if (!(percent > 0)) return 0.0f;
    const float share = std::min(percent, 100.0f) / 100.0f;
    return share * share;
}

void ApplyVolumeGain16(uint8_t* samples, size_t count, float gain) {
    // Full volume is the common case, and must stay bit-identical: no arithmetic at all.
    if (gain >= 1.0f) return;
    if (!(gain > 0.0f)) {
        std::fill(samples, samples + count * 2, uint8_t{0});
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        uint8_t* p = samples + i * 2;
        const auto sample = static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
        // |sample * gain| never exceeds 32768 for a gain below 1, and -32768 * gain rounds to at
        // least -32768, so the result always fits.
        const auto scaled = static_cast<int16_t>(std::lround(static_cast<float>(sample) * gain));
        const auto bits = static_cast<uint16_t>(scaled);
        p[0] = static_cast<uint8_t>(bits & 0xFF);
        p[1] = static_cast<uint8_t>(bits >> 8);
    }
}
