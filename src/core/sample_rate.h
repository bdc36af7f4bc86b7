// The one rate every sound of the program is made at.
#pragma once

#include <cstdint>

// Frames per second of the song's render, of the keys played over it and of every export:
// FluidSynth's own default, so that the song and the live keys reach the sound device at one rate
// and an export is never resampled from it.
inline constexpr uint32_t kSampleRate = 44100;
