// The playback volume: how a percent on the volume control becomes a gain, and the gain applied
// to the 16-bit samples on their way to the sound device. Only what is played is scaled; the
// rendered file, and every export made from it, stay as rendered.
#pragma once

#include <cstddef>
#include <cstdint>

// The gain for a volume of `percent` (clamped to 0..100): (percent / 100) squared. Loudness is
// heard roughly logarithmically, so a linear gain would do all its audible work in the slider's
// lowest fifth; the square gives about -12 dB at half way and -40 dB at 10%, while 100% is exactly
// 1 and 0% exactly 0. NaN counts as 0.
[[nodiscard]] float VolumeGain(float percent);

// Scales `count` interleaved signed 16-bit little-endian samples in place by `gain` (0..1),
// rounding to the nearest value. A gain of 1 leaves the bytes untouched and 0 makes them silence.
void ApplyVolumeGain16(uint8_t* samples, size_t count, float gain);
