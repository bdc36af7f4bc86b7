// What the synth renderer's two files share: the frame layout of its render and the size of its
// write buffer. Only synth_renderer.cpp and normalise_pass.cpp include it.
#pragma once

#include <cstddef>

#include "audio/wav_header.h"

namespace render_blocks {

inline constexpr int kChannels = 2;
inline constexpr size_t kPendingBytes = size_t{1} << 16;  // 16-bit samples waiting to be written
inline constexpr size_t kWavHeader = kCanonicalWavHeaderBytes;
inline constexpr size_t kFloatFrameBytes = sizeof(float) * kChannels;

}  // namespace render_blocks
