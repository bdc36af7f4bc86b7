// The source of an export, checked before any target is touched: a regular file (a pipe or a
// device would be read for ever), a WAV the program's own reader reads, with audio in it. The
// WAV copy and the Ogg Vorbis encoder read their sources through here; the transcoder checks the
// file's kind here and leaves the rest to its demuxer.
#pragma once

#include <cstdint>
#include <string>

#include "audio/wav_reader.h"
#include "export/export_failure.h"

// How the samples of a source are stored; Unsupported for encodings no exporter here decodes.
enum class SampleEncoding { Unsupported, Unsigned8, Signed16, Signed24, Signed32, Float32, Float64 };

// The encoding a format record describes: integer PCM of 8 to 32 bits and IEEE floats of 32 or
// 64, in the plain format or the extensible one. Samples fill their whole container
// (blockAlign / channels bytes), as the extensible format stores them, left-justified.
[[nodiscard]] SampleEncoding SampleEncodingOf(const WaveFormatRecord& format);

// Converts interleaved frames of one or two channels into the left and right planes, as floats
// in [-1, 1): integers are scaled by their container's full range (8-bit samples are unsigned),
// floats are taken as they are. Mono goes to both planes.
void DecodeFrames(SampleEncoding encoding, int channels, const uint8_t* bytes, int frames, float* left,
                  float* right);

struct ExportSource {
    WavReader reader;  // standing at the first data byte after Open
    uint64_t fileBytes = 0;
    uint32_t dataOffset = 0;  // file offset of the first data byte
};

// Refuses a missing, unreadable or non-regular file, without ever blocking on it: SourceOpen
// "Couldn't open PATH for read: <the system's reason>", or SourceFormat "The input file PATH is not
// a regular file" for a folder, a device or a pipe. These are the words the WAV copy, the encoders
// and the transcoder all use.
[[nodiscard]] Failure CheckSourceFile(const std::string& path);

// CheckSourceFile, then the WAV itself: a format with channels and a frame size ("The input file
// PATH is not a WAV file" without), and a data chunk with at least one whole frame in the file
// ("The input file PATH holds no audio" without).
[[nodiscard]] Failure OpenExportSource(const std::string& path, ExportSource& source);
