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

enum class SourceCheck {
    Ok,
    CannotOpen,  // missing or unreadable: `error` says why
    NotRegular,  // a folder, a device, a pipe
    NotWav,      // no RIFF/WAVE file with a format, or a format without frames
    NoAudio,     // a WAV whose data chunk holds no whole frame
};

struct ExportSource {
    WavReader reader;  // standing at the first data byte after Open
    uint64_t fileBytes = 0;
    uint32_t dataOffset = 0;  // file offset of the first data byte
    int error = 0;            // errno for CannotOpen
};

// Refuses a missing, unreadable or non-regular file, without ever blocking on it.
[[nodiscard]] SourceCheck CheckSourceFile(const std::string& path, int& error);

// CheckSourceFile, then the WAV itself: a format with channels and a frame size, and a data
// chunk with at least one whole frame in the file.
[[nodiscard]] SourceCheck OpenExportSource(const std::string& path, ExportSource& source);

// The failure code and the text for a check that failed, in the words the WAV copy and the
// transcoder use.
[[nodiscard]] Failure SourceFailure(SourceCheck check, const std::string& path, int error);
