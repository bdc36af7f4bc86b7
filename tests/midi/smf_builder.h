// Builds Standard MIDI File images byte by byte for the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/song_data.h"

namespace smf {

using Bytes = std::vector<uint8_t>;

// Standard encoding, any length (the reader itself stops after three bytes).
inline Bytes Vlq(uint32_t value) {
    Bytes out{static_cast<uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Event(uint32_t delta, Bytes body) {
    return Cat({Vlq(delta), body});
}
inline Bytes On(uint32_t delta, int channel, int key, int velocity = 64) {
    return Event(delta, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key),
                         static_cast<uint8_t>(velocity)});
}
inline Bytes Off(uint32_t delta, int channel, int key) {
    return Event(delta, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 0});
}
inline Bytes Tempo(uint32_t delta, uint32_t micros) {
    return Event(delta, {0xFF, 0x51, 0x03, static_cast<uint8_t>(micros >> 16),
                         static_cast<uint8_t>(micros >> 8), static_cast<uint8_t>(micros)});
}
inline Bytes EndOfTrack(uint32_t delta = 0) {
    return Event(delta, {0xFF, 0x2F, 0x00});
}

inline Bytes Chunk(const char* id, const Bytes& body, int64_t statedLength = -1) {
    const uint32_t n =
        statedLength < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(statedLength);
    Bytes out(id, id + 4);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}
inline Bytes Header(uint16_t division, uint16_t format = 1, uint16_t tracks = 2) {
    return Chunk("MThd", {0, static_cast<uint8_t>(format), 0, static_cast<uint8_t>(tracks),
                          static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)});
}
inline Bytes Track(std::initializer_list<Bytes> events) {
    return Chunk("MTrk", Cat(events));
}

inline std::unique_ptr<SongData> NewSong() {
    return std::make_unique<SongData>();
}

}  // namespace smf
