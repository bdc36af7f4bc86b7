// The size a PNG or JPEG says it has, read from its header without decoding it, so that a picture
// of absurd size is refused before the decoder allocates its pixels: a file of a few hundred
// bytes may declare 60000 x 60000 pixels. For a JPEG it also reads how the picture is laid out,
// since its decoder does not refuse what it should: a file cut short or without any picture data
// comes out grey where the picture is missing, and one of thousands of scans takes minutes. It
// judges nothing else; the decoder still may refuse.
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

// How the JPEG in `data` is laid out, found by walking its segments and the coded data between
// them without decoding anything.
struct JpegLayout {
    int scans = 0;       // passes over the picture: one for a baseline JPEG, about ten progressive
    bool ended = false;  // the end-of-picture marker follows at least one scan: nothing is cut off
};

// The layout of the JPEG in `data`; false when the bytes do not start as a JPEG.
[[nodiscard]] bool ReadJpegLayout(const uint8_t* data, size_t size, JpegLayout& out);
