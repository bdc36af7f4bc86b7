// Byte-level helpers shared by the song generators in this folder.
#pragma once

#include <cstdint>
#include <vector>

namespace smf_write {

// A variable-length quantity: seven bits a byte, most significant first, bit 7 on all but the last.
inline void AppendDelta(std::vector<uint8_t>& out, uint32_t delta) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = delta & 0x7F;
        delta >>= 7;
    } while (delta != 0);
    while (count > 1) out.push_back(groups[--count] | 0x80);
    out.push_back(groups[0]);
}

inline void AppendBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace smf_write
