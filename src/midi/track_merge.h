// Fitting a song of many tracks into the synthesiser's player, which plays a file of at most 127
// tracks and refuses any file with more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The most track chunks the synthesiser's file player takes. Its table holds 128, but it reads the
// header's count a byte at a time as signed numbers, so a count from 128 up reads as an enormous one
// and the file does not load at all.
inline constexpr size_t kMaxPlayerTracks = 127;

// `smf` (a Standard MIDI File) with its declared tracks merged into at most `maxTracks`, so that it
// plays as it is: neighbouring tracks are merged, each group's events in the order the player sends
// them (by tick, then by track, then by place in the track), every event kept with its status
// written out (running status carries over from one track to the next, and would not survive a
// merge), one end-of-track per merged track at the latest of its tracks' ends. Unknown chunks are
// left out. A file of no more than `maxTracks` tracks, or one the reader refuses, comes back as it is.
[[nodiscard]] std::vector<uint8_t> MergeTracks(const std::vector<uint8_t>& smf, size_t maxTracks);
