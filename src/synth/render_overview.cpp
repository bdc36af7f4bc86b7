#include "synth/render_overview.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace {

static_assert(std::endian::native == std::endian::little, "WAV samples are read in place as little-endian");

int16_t SampleAt(const uint8_t* samples, size_t index) {
    int16_t value;
    std::memcpy(&value, samples + 2 * index, sizeof value);
    return value;
}

struct Header {
    int channels;  // low byte of the channel count
    uint32_t sampleRate;
    uint32_t dataBytes;  // as the header claims it
};

// The fields the overview needs, or false for a header it cannot use. A channel count of 0 would
// make the sample count meaningless (and divide by zero), so it is refused like any other format
// the overview does not know.
// Only the low bytes of the channel count and the sample width count, as they always have.
bool ParseHeader(const uint8_t* bytes, Header& out) {
    const CanonicalWavHeader header = ParseCanonicalWavHeader(bytes);
    if ((header.format.bitsPerSample & 0xFF) != 16) return false;
    out.channels = header.format.channels & 0xFF;
    if (out.channels == 0) return false;
    out.sampleRate = header.format.samplesPerSec;
    out.dataBytes = header.dataBytes;
    return true;
}

// Reduces the samples to the overview. With one channel every sample is a step and feeds the left
// arrays; otherwise each step is a pair of samples, the first for the left arrays and the second
// for the right, so files with more than two channels are still walked two samples at a time.
// Column c takes the steps whose first sample lies in [c * w, (c + 1) * w), w being the sample
// count over the column count; the last column runs to the last step.
void ComputeOverview(SessionState& state, const uint8_t* samples, size_t dataBytes, int channels) {
    const size_t n = dataBytes / static_cast<size_t>(channels) / 2 * static_cast<size_t>(channels);
    const float w = static_cast<float>(n) / static_cast<float>(kOverviewColumns);
    const size_t stride = channels == 1 ? 1 : 2;
    const size_t steps = n / stride;

    size_t first = 0;
    for (int c = 0; c < kOverviewColumns; ++c) {
        size_t end = steps;
        if (c + 1 < kOverviewColumns) {
            // The first step whose sample position reaches the next column's edge.
            const double edge = static_cast<double>(c + 1) * static_cast<double>(w);
            end = std::min(steps, static_cast<size_t>(std::ceil(edge / static_cast<double>(stride))));
        }
        end = std::max(end, first);

        // A column without a single step (a song shorter than the overview is wide) shows as
        // silence rather than as the untouched extremes.
        int16_t minLeft = 0, maxLeft = 0, minRight = 0, maxRight = 0;
        if (end > first) {
            minLeft = minRight = std::numeric_limits<int16_t>::max();
            maxLeft = maxRight = std::numeric_limits<int16_t>::min();
            if (stride == 1) {
                for (size_t s = first; s < end; ++s) {
                    const int16_t v = SampleAt(samples, s);
                    minLeft = std::min(minLeft, v);
                    maxLeft = std::max(maxLeft, v);
                }
            } else {
                for (size_t s = first; s < end; ++s) {
                    const int16_t left = SampleAt(samples, 2 * s);
                    const int16_t right = SampleAt(samples, 2 * s + 1);
                    minLeft = std::min(minLeft, left);
                    maxLeft = std::max(maxLeft, left);
                    minRight = std::min(minRight, right);
                    maxRight = std::max(maxRight, right);
                }
            }
        }
        state.overviewMinLeft[c] = minLeft;
        state.overviewMaxLeft[c] = maxLeft;
        if (channels > 1) {
            state.overviewMinRight[c] = minRight;
            state.overviewMaxRight[c] = maxRight;
        }
        first = end;
    }
}

// Takes a complete image (header and whatever data is present) into the state.
bool TakeImage(SessionState& state, std::vector<uint8_t>&& image) {
    Header header{};
    if (image.size() < kWavHeaderBytes || !ParseHeader(image.data(), header)) return false;
    const size_t present = image.size() - kWavHeaderBytes;
    const uint32_t dataBytes = static_cast<uint32_t>(std::min<size_t>(header.dataBytes, present));
    image.resize(kWavHeaderBytes + dataBytes);

    state.wavDataBytes = dataBytes;
    state.wavSampleRate = header.sampleRate;
    state.wavChannels = static_cast<int16_t>(header.channels);
    ComputeOverview(state, image.data() + kWavHeaderBytes, dataBytes, header.channels);
    state.wavImage = std::move(image);
    return true;
}

bool ReadFully(int fd, uint8_t* out, size_t want, size_t& got) {
    got = 0;
    while (got < want) {
        const ssize_t n = read(fd, out + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool ReadRenderOverview(SessionState& state) {
    const int fd = open(state.outputWavPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};

    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (static_cast<size_t>(info.st_size) < kWavHeaderBytes) return false;

    uint8_t headerBytes[kWavHeaderBytes];
    size_t got = 0;
    Header header{};
    if (!ReadFully(fd, headerBytes, sizeof headerBytes, got) || got < sizeof headerBytes ||
        !ParseHeader(headerBytes, header)) {
        return false;
    }

    // The allocation follows what the file can hold, not what its header claims, so a damaged
    // size field can neither exhaust memory nor leave part of the image unread.
    const size_t present = static_cast<size_t>(info.st_size) - kWavHeaderBytes;
    const size_t want = std::min<size_t>(header.dataBytes, present);
    std::vector<uint8_t> image;
    try {
        image.resize(kWavHeaderBytes + want);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(image.data(), headerBytes, kWavHeaderBytes);
    if (!ReadFully(fd, image.data() + kWavHeaderBytes, want, got)) return false;
    image.resize(kWavHeaderBytes + got);  // the file may have shrunk since fstat
    return TakeImage(state, std::move(image));
}

bool ReadRenderOverview(SessionState& state, const uint8_t* data, size_t size) {
    if (size < kWavHeaderBytes) return false;
    std::vector<uint8_t> image;
    try {
        image.assign(data, data + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return TakeImage(state, std::move(image));
}
