// A minimal PNG writer and reader for the artwork generator and its tests: 8-bit RGB or RGBA,
// no interlacing, compressed with zlib. The writer always makes the same bytes from the same pixels,
// so the committed images can be checked against a fresh run of the generator.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace png_io {

struct Pixels {
    int width = 0;
    int height = 0;
    int channels = 0;           // 3 (RGB) or 4 (RGBA, straight alpha)
    std::vector<uint8_t> data;  // rows top to bottom, width × channels bytes each
};

namespace detail {

inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline uint32_t GetU32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& body) {
    PutU32(out, static_cast<uint32_t>(body.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    const uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
    PutU32(out, static_cast<uint32_t>(crc));
}

inline int Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Filter type t applied to byte i of a row; left/up/upLeft are 0 outside the image.
inline uint8_t Predict(int t, int left, int up, int upLeft) {
    switch (t) {
        case 1:
            return static_cast<uint8_t>(left);
        case 2:
            return static_cast<uint8_t>(up);
        case 3:
            return static_cast<uint8_t>((left + up) / 2);
        case 4:
            return static_cast<uint8_t>(Paeth(left, up, upLeft));
        default:
            return 0;
    }
}

}  // namespace detail

// The PNG file for the pixels. Each row takes the filter with the smallest sum of absolute
// differences, the usual heuristic; ties go to the lower filter number.
inline std::vector<uint8_t> EncodePng(const Pixels& image) {
    using namespace detail;
    const int bpp = image.channels;
    const size_t stride = static_cast<size_t>(image.width) * bpp;
    std::vector<uint8_t> raw;
    raw.reserve((stride + 1) * image.height);
    std::vector<uint8_t> best(stride), trial(stride);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* row = image.data.data() + y * stride;
        const uint8_t* prev = y > 0 ? row - stride : nullptr;
        long bestScore = -1;
        int bestType = 0;
        for (int t = 0; t < 5; ++t) {
            long score = 0;
            for (size_t i = 0; i < stride; ++i) {
                const int left = i >= static_cast<size_t>(bpp) ? row[i - bpp] : 0;
                const int up = prev ? prev[i] : 0;
                const int upLeft = prev && i >= static_cast<size_t>(bpp) ? prev[i - bpp] : 0;
                trial[i] = static_cast<uint8_t>(row[i] - Predict(t, left, up, upLeft));
                score += trial[i] < 128 ? trial[i] : 256 - trial[i];
            }
            if (bestScore < 0 || score < bestScore) {
                bestScore = score;
                bestType = t;
                best.swap(trial);
            }
        }
        raw.push_back(static_cast<uint8_t>(bestType));
        raw.insert(raw.end(), best.begin(), best.end());
    }

    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        return {};
    packed.resize(packedSize);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutU32(header, static_cast<uint32_t>(image.width));
    PutU32(header, static_cast<uint32_t>(image.height));
    header.push_back(8);                            // bits per channel
    header.push_back(image.channels == 4 ? 6 : 2);  // RGBA or RGB
    header.insert(header.end(), {0, 0, 0});         // deflate, adaptive filtering, no interlace
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}

// Reads what EncodePng writes (and any other 8-bit RGB or RGBA PNG without interlacing).
// On failure returns false and, when why is given, a short reason.
[[nodiscard]] inline bool DecodePng(const uint8_t* bytes, size_t size, Pixels& image,
                                    std::string* why = nullptr) {
    using namespace detail;
    auto fail = [why](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || std::memcmp(bytes, kSignature, 8) != 0) return fail("not a PNG file");
    std::vector<uint8_t> packed;
    bool haveHeader = false;
    size_t pos = 8;
    while (pos + 12 <= size) {
        const uint32_t length = GetU32(bytes + pos);
        if (length > size - pos - 12) return fail("chunk runs past the end of the file");
        const uint8_t* type = bytes + pos + 4;
        const uint8_t* body = bytes + pos + 8;
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (length != 13) return fail("bad header chunk");
            image.width = static_cast<int>(GetU32(body));
            image.height = static_cast<int>(GetU32(body + 4));
            if (body[8] != 8 || (body[9] != 2 && body[9] != 6) || body[12] != 0)
                return fail("only 8-bit RGB or RGBA without interlacing is read");
            if (image.width <= 0 || image.height <= 0 || image.width > 16384 || image.height > 16384)
                return fail("image size out of range");
            image.channels = body[9] == 6 ? 4 : 3;
            haveHeader = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            packed.insert(packed.end(), body, body + length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
        pos += 12 + length;
    }
    if (!haveHeader) return fail("no header chunk");
    const size_t stride = static_cast<size_t>(image.width) * image.channels;
    std::vector<uint8_t> raw((stride + 1) * image.height);
    uLongf rawSize = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawSize, packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
        rawSize != raw.size())
        return fail("image data does not inflate to the image size");
    image.data.assign(stride * image.height, 0);
    const int bpp = image.channels;
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* in = raw.data() + y * (stride + 1);
        const int type = in[0];
        if (type > 4) return fail("unknown row filter");
        uint8_t* row = image.data.data() + y * stride;
        const uint8_t* prev = y > 0 ? row - stride : nullptr;
        for (size_t i = 0; i < stride; ++i) {
            const int left = i >= static_cast<size_t>(bpp) ? row[i - bpp] : 0;
            const int up = prev ? prev[i] : 0;
            const int upLeft = prev && i >= static_cast<size_t>(bpp) ? prev[i - bpp] : 0;
            row[i] = static_cast<uint8_t>(in[1 + i] + Predict(type, left, up, upLeft));
        }
    }
    return true;
}

}  // namespace png_io
