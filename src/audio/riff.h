// audio/: WAV files and sound: RIFF chunk navigation, the WAV header and reader, and the
// streaming player that feeds the sound layer.
//
// Chunk navigation inside RIFF files over standard streams: descend into a chunk, find a chunk by
// id inside a parent, ascend past a chunk. Chunk sizes are little-endian 32-bit values and every
// chunk with an odd size is followed by one pad byte, which the navigation steps over.
#pragma once

#include <cstdint>
#include <istream>

namespace riff {

// Four-character code as the bytes stand in the file ("RIFF" reads as 'R' in the low byte).
constexpr uint32_t FourCC(const char (&code)[5]) {
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16 |
           uint32_t(uint8_t(code[3])) << 24;
}

inline constexpr uint32_t kRiff = FourCC("RIFF");
inline constexpr uint32_t kList = FourCC("LIST");

// Where a chunk stands in its file.
struct ChunkInfo {
    uint32_t id = 0;
    uint32_t size = 0;        // bytes of data, without the header and without the pad byte
    uint32_t formType = 0;    // "RIFF" and "LIST" chunks only: the form type that opens their data
    uint32_t dataOffset = 0;  // file offset of the data (of the form type, for "RIFF" and "LIST")
    uint32_t flags = 0;       // unused; kept so the record stays a chunk's full description
};

// Reads the chunk header at the stream's position into `chunk`; for "RIFF" and "LIST" chunks also
// the form type. Leaves the stream at the data (just past the form type for the two lists).
[[nodiscard]] bool Descend(std::istream& in, ChunkInfo& chunk);

// Looks for the chunk `id` from the stream's position to the end of `parent`, stepping over every
// other chunk, and leaves the stream at its data. Fails when the parent ends or the file does first.
[[nodiscard]] bool FindChunk(std::istream& in, const ChunkInfo& parent, uint32_t id, ChunkInfo& chunk);

// Moves the stream just past `chunk`, its pad byte included.
[[nodiscard]] bool Ascend(std::istream& in, const ChunkInfo& chunk);

// Moves the stream to an absolute offset, clearing an earlier end-of-file first.
[[nodiscard]] bool SeekTo(std::istream& in, uint64_t offset);

}  // namespace riff
