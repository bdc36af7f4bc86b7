#include "audio/riff.h"

#include "audio/wav_header.h"

namespace riff {

namespace {

bool ReadU32(std::istream& in, uint32_t& value) {
    uint8_t b[4];
    if (!in.read(reinterpret_cast<char*>(b), 4)) return false;
    value = LoadLe32(b);
    return true;
}

bool Position(std::istream& in, uint64_t& pos) {
    const std::streamoff p = in.tellg();
    if (p < 0) return false;
    pos = uint64_t(p);
    return true;
}

// One past the parent's last data byte. Computed in 64 bits: a size near 4 GiB after a late data
// offset must not wrap round to a small end.
uint64_t EndOf(const ChunkInfo& chunk) {
    return uint64_t(chunk.dataOffset) + chunk.size;
}

bool ReadHeader(std::istream& in, ChunkInfo& chunk) {
    uint64_t start = 0;
    ChunkInfo c;
    if (!Position(in, start) || !ReadU32(in, c.id) || !ReadU32(in, c.size)) return false;
    if (start + 8 > UINT32_MAX) return false;  // offsets are 32-bit, as in every RIFF file
    c.dataOffset = uint32_t(start + 8);
    chunk = c;
    return true;
}

}  // namespace

bool SeekTo(std::istream& in, uint64_t offset) {
    in.clear();
    return bool(in.seekg(std::streamoff(offset), std::ios::beg));
}

bool Descend(std::istream& in, ChunkInfo& chunk) {
    ChunkInfo c;
    if (!ReadHeader(in, c)) return false;
    if ((c.id == kRiff || c.id == kList) && !ReadU32(in, c.formType)) return false;
    chunk = c;
    return true;
}

bool FindChunk(std::istream& in, const ChunkInfo& parent, uint32_t id, ChunkInfo& chunk) {
    const uint64_t end = EndOf(parent);
    for (;;) {
        uint64_t pos = 0;
        if (!Position(in, pos) || pos + 8 > end) return false;
        ChunkInfo c;
        if (!ReadHeader(in, c)) return false;
        if (c.id == id) {
            chunk = c;
            return true;
        }
        const uint64_t next = EndOf(c) + (c.size & 1);
        if (!SeekTo(in, next)) return false;
    }
}

bool Ascend(std::istream& in, const ChunkInfo& chunk) {
    return SeekTo(in, EndOf(chunk) + (chunk.size & 1));
}

}  // namespace riff
