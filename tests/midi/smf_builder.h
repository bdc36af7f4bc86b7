// Builds Standard MIDI File images byte by byte for the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
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

// A file's bytes as a song's load hands them to its renders.
inline std::shared_ptr<const Bytes> Shared(Bytes bytes) {
    return std::make_shared<const Bytes>(std::move(bytes));
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
    return Chunk("MThd", {0, static_cast<uint8_t>(format), static_cast<uint8_t>(tracks >> 8),
                          static_cast<uint8_t>(tracks), static_cast<uint8_t>(division >> 8),
                          static_cast<uint8_t>(division)});
}
inline Bytes Track(std::initializer_list<Bytes> events) {
    return Chunk("MTrk", Cat(events));
}
inline Bytes Name(const std::string& text) {
    Bytes out(4 + text.size());
    out[1] = 0xFF;
    out[2] = 0x03;
    out[3] = static_cast<uint8_t>(text.size());
    std::memcpy(out.data() + 4, text.data(), text.size());
    return out;
}
inline Bytes Program(uint32_t delta, int channel, int program) {
    return Event(delta, {static_cast<uint8_t>(0xC0 | channel), static_cast<uint8_t>(program)});
}

// A type 1 file whose header declares exactly the tracks given.
inline Bytes Song(uint16_t division, std::initializer_list<Bytes> tracks) {
    Bytes out = Header(division, 1, static_cast<uint16_t>(tracks.size()));
    for (const Bytes& t : tracks) out.insert(out.end(), t.begin(), t.end());
    return out;
}

// The same file wrapped as a RIFF MIDI file (.rmi), with an odd-length chunk before its data.
inline Bytes Rmid(const Bytes& smf) {
    auto le32 = [](uint32_t v) {
        return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                     static_cast<uint8_t>(v >> 24)};
    };
    const Bytes info = Cat({Bytes{'I', 'N', 'F', 'O'}, le32(3), Bytes{'a', 'b', 'c', 0}});
    const Bytes data = Cat({Bytes{'d', 'a', 't', 'a'}, le32(static_cast<uint32_t>(smf.size())), smf});
    const Bytes body = Cat({Bytes{'R', 'M', 'I', 'D'}, info, data});
    return Cat({Bytes{'R', 'I', 'F', 'F'}, le32(static_cast<uint32_t>(body.size())), body});
}

inline std::unique_ptr<SongData> NewSong() {
    return std::make_unique<SongData>();
}

}  // namespace smf
