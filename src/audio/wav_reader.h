// WavReader: reads the sample data of a RIFF/WAVE file, front to back, with rewinds and seeks by
// frame. The controller keeps one for the rendered song and the sound player's refill reads it.
//
// A usable file is told by the presence of `format` and a `dataSize` above 0: Open reports
// success for a file that is missing or no WAV at all, and leaves those two empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "audio/riff.h"
#include "audio/wav_header.h"

// The reader's copy of the format: the 18 bytes and, for a non-PCM format, its extra bytes.
struct WaveFormatRecord {
    WavFormat header;
    std::vector<uint8_t> extra;  // header.extraSize bytes

    uint32_t Bytes() const { return kWaveFormatExBytes + uint32_t(extra.size()); }
};

// Result codes, as the callers compare them.
inline constexpr int32_t kWavOk = 0;
inline constexpr int32_t kWavInvalidArgument = int32_t(0x80070057);  // Open without a path
inline constexpr int32_t kWavNotOpen = int32_t(0x800401F0);          // rewind or seek without a file

struct WavReader {
    std::unique_ptr<WaveFormatRecord> format;  // absent until an Open finds a good "fmt " chunk
    std::unique_ptr<std::istream> handle;      // the open file (or the in-memory copy)
    riff::ChunkInfo dataChunk;                 // "data"; its size counts down as data is read
    riff::ChunkInfo riffChunk;                 // the outer "RIFF" chunk; anchors every rewind
    uint32_t dataSize = 0;                     // the data chunk's full size, set by Open

    WavReader() = default;
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;
    ~WavReader() { Close(); }

    // Opens and parses the file and stands at the first data byte. kWavInvalidArgument for an
    // empty path; otherwise kWavOk, whatever the file held.
    int32_t Open(const std::string& path);
    // The same over a copy of `size` bytes in memory.
    int32_t OpenMemory(const uint8_t* bytes, size_t size);

    // Copies up to `bytes` data bytes into `destination` and counts them off the remaining size;
    // returns how many, or 0 when the file ends early or cannot be read (the count is then
    // already taken off, and what was copied stays in `destination`).
    uint32_t Read(uint8_t* destination, uint32_t bytes);

    // Back to the first data byte with the full size remaining.
    int32_t RewindData();
    // To frame `frame` of the data; a frame past the end stands at the end.
    int32_t SeekFrame(uint32_t frame);

    void Close();

  private:
    int32_t Parse(std::unique_ptr<std::istream> stream);
    bool ReadFormat();
};
