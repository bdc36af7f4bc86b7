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
#include <string>
#include <vector>

#include "audio/wav_header.h"
#include "core/audio_overview.h"
#include "core/failure.h"

inline constexpr size_t kWavHeaderBytes = kCanonicalWavHeaderBytes;

// Reads the WAV file at `wavPath` into `out`: wavDataBytes, wavSampleRate, wavChannels and the
// overview arrays (the right-hand arrays only for two or more channels). Fails, leaving `out` as
// it was, when the file cannot be opened (SourceOpen) or read (Read), or is shorter than its
// header, is not 16-bit or claims no channels (SourceFormat). A data size larger than the file
// holds is cut to the bytes actually there, and wavDataBytes then counts those.
[[nodiscard]] Failure ReadRenderOverview(const std::string& wavPath, AudioOverview& out);

// The same from a file already open for reading; its file position is left where it was. `name`
// is only for the failure's text.
[[nodiscard]] Failure ReadRenderOverview(int fd, const std::string& name, AudioOverview& out);

// The same from a WAV image in memory: the 44-byte header followed by the data. data[0..size) is
// all that is ever read.
[[nodiscard]] Failure ReadRenderOverview(const uint8_t* data, size_t size, AudioOverview& out);
