// The size a PNG or JPEG says it has, read from its header without decoding it, so that a picture
// of absurd size is refused before the decoder allocates its pixels: a file of a few hundred
// bytes may declare 60000 x 60000 pixels. It judges nothing else; the decoder still may refuse.
#pragma once

#include <cstddef>
#include <cstdint>

struct PictureSize {
    int width = 0;
    int height = 0;
};

// The declared size of the PNG (its IHDR) or JPEG (its first frame header) in `data`; false when
// the bytes are neither or the header is cut short.
[[nodiscard]] bool ReadPictureSize(const uint8_t* data, size_t size, PictureSize& out);
