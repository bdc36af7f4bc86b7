#include "export/picture_size.h"

namespace {

uint32_t Big32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
int Big16(const uint8_t* p) {
    return (p[0] << 8) | p[1];
}

bool ReadPng(const uint8_t* data, size_t size, PictureSize& out) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 24) return false;
    for (int i = 0; i < 8; ++i)
        if (data[i] != kSignature[i]) return false;
    // The first chunk is always the header: length, "IHDR", width, height.
    if (data[12] != 'I' || data[13] != 'H' || data[14] != 'D' || data[15] != 'R') return false;
    const uint32_t w = Big32(data + 16), h = Big32(data + 20);
    if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return false;
    out = {static_cast<int>(w), static_cast<int>(h)};
    return true;
}

bool ReadJpeg(const uint8_t* data, size_t size, PictureSize& out) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t at = 2;
    // Segments follow one another, each a marker and a length that counts itself; the first
    // start-of-frame (C0 to CF but for C4, C8 and CC, which are tables) holds the size.
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return false;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill bytes before a marker
            ++at;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return false;          // the image data before any frame
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a length
            at += 2;
            continue;
        }
        const size_t length = static_cast<size_t>(Big16(data + at + 2));
        if (length < 2) return false;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7 || at + 9 > size) return false;
            const int h = Big16(data + at + 5), w = Big16(data + at + 7);
            if (w == 0 || h == 0) return false;  // a height given later (DNL) is not taken
            out = {w, h};
            return true;
        }
        at += 2 + length;
    }
    return false;
}

}  // namespace

bool ReadPictureSize(const uint8_t* data, size_t size, PictureSize& out) {
    if (data == nullptr) return false;
    return ReadPng(data, size, out) || ReadJpeg(data, size, out);
}

bool ReadJpegLayout(const uint8_t* data, size_t size, JpegLayout& out) {
    out = {};
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    const auto restart = [](uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; };
    size_t at = 2;
    // Anything that is not where a marker belongs leaves the layout not ended: damaged.
    while (at + 2 <= size && data[at] == 0xFF) {
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill bytes before a marker
            ++at;
            continue;
        }
        if (marker == 0xD9) {
            out.ended = out.scans > 0;
            return true;
        }
        if (marker == 0x01 || restart(marker)) {
            at += 2;
            continue;
        }
        if (at + 4 > size) break;
        const size_t length = static_cast<size_t>(Big16(data + at + 2));
        if (length < 2) break;
        at += 2 + length;
        if (marker != 0xDA) continue;
        ++out.scans;
        // A scan's coded data runs to the next marker: 0xFF followed by anything but a stuffed
        // zero or a restart marker.
        while (at + 1 < size && !(data[at] == 0xFF && data[at + 1] != 0x00 && !restart(data[at + 1]))) ++at;
    }
    return true;
}
