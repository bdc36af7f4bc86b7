// The program's PNG images, embedded into the binaries at build time and found by number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace res {

struct EmbeddedFile {
    const uint8_t* data = nullptr;  // null when there is no image of that number
    size_t size = 0;
};

// The image with the given resource number (105 is the window icon).
EmbeddedFile FindImage(int id);

}  // namespace res
