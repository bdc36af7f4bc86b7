#include "audio/wav_header.h"

#include <cstring>

WavFormat ParseFmtFields(const uint8_t* fields) {
    WavFormat f;
    f.formatTag = LoadLe16(fields);
    f.channels = LoadLe16(fields + 2);
    f.samplesPerSec = LoadLe32(fields + 4);
    f.avgBytesPerSec = LoadLe32(fields + 8);
    f.blockAlign = LoadLe16(fields + 12);
    f.bitsPerSample = LoadLe16(fields + 14);
    return f;
}

CanonicalWavHeader ParseCanonicalWavHeader(const uint8_t* header) {
    CanonicalWavHeader h;
    h.chunkIdsInPlace = std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0 &&
                        std::memcmp(header + 12, "fmt ", 4) == 0 && std::memcmp(header + 36, "data", 4) == 0;
    h.format = ParseFmtFields(header + 20);
    h.dataBytes = LoadLe32(header + 40);
    return h;
}

namespace {

void StoreLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void StoreLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void WriteCanonicalWavHeader(uint8_t* h, uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample,
                             uint32_t dataBytes) {
    const uint32_t blockAlign = uint32_t{channels} * (bitsPerSample / 8u);
    std::memcpy(h, "RIFF", 4);
    StoreLe32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    StoreLe32(h + 16, kFmtFieldBytes);
    StoreLe16(h + 20, kWaveFormatPcm);
    StoreLe16(h + 22, channels);
    StoreLe32(h + 24, sampleRate);
    StoreLe32(h + 28, sampleRate * blockAlign);
    StoreLe16(h + 32, blockAlign);
    StoreLe16(h + 34, bitsPerSample);
    std::memcpy(h + 36, "data", 4);
    StoreLe32(h + 40, dataBytes);
}
