// The video export's pixel conversion: the drawn frame's 0xAARRGGBB words to the Y'CbCr 4:2:0
// planes the H.264 encoder takes (limited-range BT.709, as the file is tagged).
#pragma once

#include <cstdint>

// `width` and `height` are even; each chroma sample is the mean of its 2 x 2 pixels. `strides`
// are the planes' bytes per row.
void ArgbToYuv420(const uint32_t* argb, int width, int height, uint8_t* const planes[3],
                  const int strides[3]);
