// Builds RIFF/WAVE files in memory for the tests, chunk by chunk, so that a test can put chunks in
// any order, give odd sizes, or leave pieces out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace wavtest {

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void PutU32(Bytes& b, uint32_t v) {
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}
inline void PutId(Bytes& b, const char* id) {
    b.insert(b.end(), id, id + 4);
}

// A chunk with its header; odd-sized bodies get their pad byte.
inline Bytes Chunk(const char* id, const Bytes& body, uint32_t declaredSize = UINT32_MAX) {
    Bytes b;
    PutId(b, id);
    PutU32(b, declaredSize == UINT32_MAX ? uint32_t(body.size()) : declaredSize);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2 == 1) b.push_back(0);
    return b;
}

// The 16 bytes every "fmt " chunk starts with.
inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b;
    const uint16_t align = uint16_t(channels * bits / 8);
    PutU16(b, tag);
    PutU16(b, channels);
    PutU32(b, rate);
    PutU32(b, rate * align);
    PutU16(b, align);
    PutU16(b, bits);
    return b;
}

inline Bytes Riff(const std::vector<Bytes>& chunks, const char* form = "WAVE") {
    Bytes body;
    PutId(body, form);
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    return Chunk("RIFF", body);
}

// Stereo 16-bit frames that are never silent and tell their own index: the left sample counts
// 1..30000 round and round, the right one counts the rounds downwards from -1.
inline Bytes CountingFrames(uint32_t first, uint32_t count) {
    Bytes b;
    for (uint32_t i = first; i < first + count; ++i) {
        PutU16(b, uint16_t(int16_t(1 + i % 30000)));
        PutU16(b, uint16_t(int16_t(-1 - int(i / 30000))));
    }
    return b;
}

// Which frame a counting frame is; -1 for anything else (silence included).
inline int64_t FrameIndexOf(const uint8_t* p) {
    const int16_t left = int16_t(p[0] | p[1] << 8);
    const int16_t right = int16_t(p[2] | p[3] << 8);
    if (left < 1 || left > 30000 || right > -1) return -1;
    return int64_t(-1 - right) * 30000 + (left - 1);
}

// A 44.1 kHz 16-bit stereo WAV of `frames` counting frames.
inline Bytes CountingWav(uint32_t frames, uint32_t rate = 44100) {
    return Riff({Chunk("fmt ", FmtBody(1, 2, rate, 16)), Chunk("data", CountingFrames(0, frames))});
}

inline bool WriteFile(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

inline Bytes ReadFile(const std::string& path) {
    Bytes b;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

}  // namespace wavtest
