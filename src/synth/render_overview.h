// The waveform overview of a rendered song: the output WAV is read once, block by block, and
// reduced to kOverviewColumns columns per channel, each holding the lowest and highest sample of its slice
// of the song. The time bar draws these arrays; it never touches the audio itself.
//
// The reader expects the canonical 44-byte header that the synthesiser's file renderer writes
// (RIFF header, a 16-byte fmt chunk, then the data chunk header) and looks only at four of its
// fields: the channel count (low byte, offset 22), the sample rate (24), the bits per sample
// (low byte, 34) and the data size (40). Only 16-bit PCM is accepted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/wav_header.h"
#include "core/session_state.h"

inline constexpr size_t kWavHeaderBytes = kCanonicalWavHeaderBytes;

// Reads state.outputWavPath and fills wavDataBytes, wavSampleRate, wavChannels and the overview
// arrays (the right-hand arrays only for two or more channels).
// Returns false, leaving all of those as they were, when the file cannot be read, is shorter than
// its header, is not 16-bit or claims no channels. A data size larger than the file holds is cut
// to the bytes actually there, and wavDataBytes then counts those.
[[nodiscard]] bool ReadRenderOverview(SessionState& state);

// The same from a file already open for reading; its file position is left where it was.
[[nodiscard]] bool ReadRenderOverview(SessionState& state, int fd);

// The same from a WAV image in memory: the 44-byte header followed by the data. data[0..size) is
// all that is ever read.
[[nodiscard]] bool ReadRenderOverview(SessionState& state, const uint8_t* data, size_t size);
