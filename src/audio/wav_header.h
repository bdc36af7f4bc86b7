// The fixed fields of a WAV file in one place: little-endian loads, the 16 bytes of a "fmt "
// chunk, and the canonical 44-byte header that a plain PCM render starts with.
#pragma once

#include <cstddef>
#include <cstdint>

// The 18-byte format description of a WAV file: the "fmt " chunk's 16 bytes and the extra size.
struct WavFormat {
    uint16_t formatTag = 0;  // 1 = integer PCM
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;  // bytes per sample frame
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;  // bytes that follow the 18 in a non-PCM format record
};

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint32_t kWaveFormatExBytes = 18;
inline constexpr size_t kFmtFieldBytes = 16;

[[nodiscard]] inline uint16_t LoadLe16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
[[nodiscard]] inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The six fields of a "fmt " chunk's first 16 bytes; extraSize is left 0.
[[nodiscard]] WavFormat ParseFmtFields(const uint8_t* fields);

// The canonical header: "RIFF", size, "WAVE", "fmt ", 16, the format fields, "data", size.
inline constexpr size_t kCanonicalWavHeaderBytes = 44;

struct CanonicalWavHeader {
    bool chunkIdsInPlace = false;  // "RIFF", "WAVE", "fmt " and "data" at bytes 0, 8, 12 and 36
    WavFormat format;              // from bytes 20 to 35, whatever the ids say
    uint32_t dataBytes = 0;        // bytes 40 to 43: the data size the header claims
};

// Reads the fields of the 44 bytes at `header`. It judges nothing: each reader decides which
// fields it needs and what it accepts.
[[nodiscard]] CanonicalWavHeader ParseCanonicalWavHeader(const uint8_t* header);

// Writes the canonical header of integer PCM with `dataBytes` bytes of samples into the 44 bytes at
// `header`: the header FluidSynth's file renderer writes, with the RIFF size 36 + dataBytes.
void WriteCanonicalWavHeader(uint8_t* header, uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample,
                             uint32_t dataBytes);
