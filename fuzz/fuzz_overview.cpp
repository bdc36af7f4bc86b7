// Feeds arbitrary bytes to the overview reader as a rendered WAV image. Besides the sanitizers'
// checks, an accepted image must hold together: the data size never exceeds the bytes given, and
// every column's minimum lies at or below its maximum.
#include <cstdint>
#include <cstdlib>

#include "synth/render_overview.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A render of a whole song is megabytes; small images reach every branch of the reader.
    if (size > (size_t{1} << 20)) return 0;
    static AudioOverview overview;
    if (!ReadRenderOverview(data, size, overview).Ok()) return 0;

    if (overview.wavDataBytes > size - kWavHeaderBytes) std::abort();
    if (overview.wavChannels < 1) std::abort();
    for (int c = 0; c < kOverviewColumns; ++c) {
        if (overview.overviewMinLeft[c] > overview.overviewMaxLeft[c]) std::abort();
        if (overview.wavChannels > 1 && overview.overviewMinRight[c] > overview.overviewMaxRight[c])
            std::abort();
    }
    return 0;
}
