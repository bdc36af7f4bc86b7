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
