// Feeds arbitrary bytes to the picture header and layout readers that guard the video's background: it must
// never read past the bytes, and a size it gives is one a picture can have.
#include <cstdint>
#include <cstdlib>

#include "export/picture_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PictureSize found;
    if (ReadPictureSize(data, size, found) && (found.width <= 0 || found.height <= 0)) std::abort();
    JpegLayout layout;
    if (ReadJpegLayout(data, size, layout) && (layout.scans < 0 || (layout.ended && layout.scans == 0)))
        std::abort();
    return 0;
}
