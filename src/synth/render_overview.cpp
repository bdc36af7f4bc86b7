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
#include <memory>
#include <new>

#include "core/file_access.h"

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
//
// The samples arrive in blocks of any size, so that a whole song never has to be in memory; a
// step split between two blocks is held back until its second half comes.
class OverviewBuilder {
  public:
    OverviewBuilder(AudioOverview& overview, size_t dataBytes, int channels)
        : overview_(overview),
          channels_(channels),
          samples_(dataBytes / static_cast<size_t>(channels) / 2 * static_cast<size_t>(channels)),
          w_(static_cast<float>(samples_) / static_cast<float>(kOverviewColumns)),
          stride_(channels == 1 ? 1 : 2),
          steps_(samples_ / stride_) {
        end_ = std::max(ColumnEnd(0), first_);
        Reset();
    }

    // Takes the next bytes of the data chunk; bytes past the last whole step are ignored.
    void Add(const uint8_t* bytes, size_t size) {
        const size_t stepBytes = 2 * stride_;
        while (size > 0 && step_ < steps_) {
            if (heldBytes_ > 0 || size < stepBytes) {
                const size_t take = std::min(size, stepBytes - heldBytes_);
                std::memcpy(held_ + heldBytes_, bytes, take);
                heldBytes_ += take;
                bytes += take;
                size -= take;
                if (heldBytes_ == stepBytes) {
                    TakeStep(held_);
                    heldBytes_ = 0;
                }
                continue;
            }
            const size_t whole = std::min(size / stepBytes, steps_ - step_);
            for (size_t i = 0; i < whole;) {
                while (step_ >= end_ && column_ < kOverviewColumns) CloseColumn();
                // The steps up to the column's edge go in one plain loop: this runs over every
                // sample of the song.
                const size_t run = column_ < kOverviewColumns ? std::min(whole - i, end_ - step_) : whole - i;
                TakeSteps(bytes + i * stepBytes, run);
                i += run;
            }
            bytes += whole * stepBytes;
            size -= whole * stepBytes;
        }
    }

    // Writes the columns still open, including those no step reached.
    void Finish() {
        while (column_ < kOverviewColumns) CloseColumn();
    }

  private:
    // The first step whose sample position reaches column c's right edge.
    size_t ColumnEnd(int c) const {
        if (c + 1 >= kOverviewColumns) return steps_;
        const double edge = static_cast<double>(c + 1) * static_cast<double>(w_);
        return std::min(steps_, static_cast<size_t>(std::ceil(edge / static_cast<double>(stride_))));
    }

    void Reset() {
        minLeft_ = minRight_ = std::numeric_limits<int16_t>::max();
        maxLeft_ = maxRight_ = std::numeric_limits<int16_t>::min();
    }

    // A column without a single step (a song shorter than the overview is wide) shows as silence
    // rather than as the untouched extremes.
    void CloseColumn() {
        const bool empty = end_ == first_;
        overview_.overviewMinLeft[column_] = empty ? int16_t{0} : minLeft_;
        overview_.overviewMaxLeft[column_] = empty ? int16_t{0} : maxLeft_;
        if (channels_ > 1) {
            overview_.overviewMinRight[column_] = empty ? int16_t{0} : minRight_;
            overview_.overviewMaxRight[column_] = empty ? int16_t{0} : maxRight_;
        }
        Reset();
        ++column_;
        first_ = end_;
        if (column_ < kOverviewColumns) end_ = std::max(ColumnEnd(column_), first_);
    }

    void TakeStep(const uint8_t* step) {
        while (step_ >= end_ && column_ < kOverviewColumns) CloseColumn();
        const int16_t left = SampleAt(step, 0);
        minLeft_ = std::min(minLeft_, left);
        maxLeft_ = std::max(maxLeft_, left);
        if (stride_ == 2) {
            const int16_t right = SampleAt(step, 1);
            minRight_ = std::min(minRight_, right);
            maxRight_ = std::max(maxRight_, right);
        }
        ++step_;
    }

    // `count` steps, all within the column being filled.
    void TakeSteps(const uint8_t* steps, size_t count) {
        int16_t minLeft = minLeft_, maxLeft = maxLeft_, minRight = minRight_, maxRight = maxRight_;
        if (stride_ == 2) {
            for (size_t i = 0; i < count; ++i) {
                const int16_t left = SampleAt(steps, 2 * i);
                const int16_t right = SampleAt(steps, 2 * i + 1);
                minLeft = std::min(minLeft, left);
                maxLeft = std::max(maxLeft, left);
                minRight = std::min(minRight, right);
                maxRight = std::max(maxRight, right);
            }
        } else {
            for (size_t i = 0; i < count; ++i) {
                const int16_t left = SampleAt(steps, i);
                minLeft = std::min(minLeft, left);
                maxLeft = std::max(maxLeft, left);
            }
        }
        minLeft_ = minLeft, maxLeft_ = maxLeft, minRight_ = minRight, maxRight_ = maxRight;
        step_ += count;
    }

    AudioOverview& overview_;
    int channels_;
    size_t samples_;  // whole frames' samples in the data
    float w_;
    size_t stride_;
    size_t steps_;
    size_t step_ = 0;             // steps taken so far
    int column_ = 0;              // the column being filled
    size_t first_ = 0, end_ = 0;  // its steps: [first_, end_)
    int16_t minLeft_, maxLeft_, minRight_, maxRight_;
    uint8_t held_[4];
    size_t heldBytes_ = 0;
};

void TakeFormat(AudioOverview& out, const Header& header, uint32_t dataBytes) {
    out.wavDataBytes = dataBytes;
    out.wavSampleRate = header.sampleRate;
    out.wavChannels = static_cast<int16_t>(header.channels);
}

Failure NotAWav(const std::string& name) {
    return Failure::Because(FailureKind::SourceFormat, name + ": not a 16-bit PCM WAV file");
}

// Reads from a fixed offset, so the caller's file position is left alone: the renderer hands in
// the file it is still holding open.
bool ReadFully(int fd, off_t offset, uint8_t* out, size_t want, size_t& got) {
    got = 0;
    while (got < want) {
        const ssize_t n = pread(fd, out + got, want - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

Failure ReadRenderOverview(const std::string& wavPath, AudioOverview& out) {
    const int fd = open(wavPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Failure::Because(FailureKind::SourceOpen, wavPath + ": " + std::strerror(errno));
    Failure read = ReadRenderOverview(fd, wavPath, out);
    close(fd);
    return read;
}

Failure ReadRenderOverview(int fd, const std::string& name, AudioOverview& out) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return Failure::Because(FailureKind::Read, name + ": " + std::strerror(errno));
    if (!IsRegularFile(info)) return Failure::Because(FailureKind::SourceOpen, name + ": not a regular file");
    if (static_cast<size_t>(info.st_size) < kWavHeaderBytes) return NotAWav(name);

    uint8_t headerBytes[kWavHeaderBytes];
    size_t got = 0;
    Header header{};
    if (!ReadFully(fd, 0, headerBytes, sizeof headerBytes, got)) {
        return Failure::Because(FailureKind::Read, name + ": " + std::strerror(errno));
    }
    if (got < sizeof headerBytes || !ParseHeader(headerBytes, header)) return NotAWav(name);

    // The overview follows what the file holds, not what its header claims, so a damaged size
    // field can neither run the read on nor leave part of the data unread. The data is read in
    // blocks: a 30-minute song is a third of a gigabyte, and only the columns are kept. They are
    // built aside, so that a failed read leaves `out` as it was.
    const size_t present = static_cast<size_t>(info.st_size) - kWavHeaderBytes;
    const uint32_t want = static_cast<uint32_t>(std::min<size_t>(header.dataBytes, present));
    auto built = std::make_unique<AudioOverview>(out);
    OverviewBuilder builder(*built, want, header.channels);
    // Not a multiple of a stereo step, on purpose: every long read then splits a step between
    // two blocks, so the rare path is the common one and cannot rot.
    constexpr size_t kBlockBytes = (size_t{1} << 16) + 2;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kBlockBytes]);
    if (!block) return Failure::Because(FailureKind::Read, name + ": not enough memory to read it");
    uint32_t done = 0;
    while (done < want) {
        const size_t ask = std::min<size_t>(kBlockBytes, want - done);
        if (!ReadFully(fd, kWavHeaderBytes + static_cast<off_t>(done), block.get(), ask, got)) {
            return Failure::Because(FailureKind::Read, name + ": " + std::strerror(errno));
        }
        builder.Add(block.get(), got);
        done += static_cast<uint32_t>(got);
        if (got < ask) break;  // the file shrank since fstat: keep what was there
    }
    builder.Finish();
    TakeFormat(*built, header, done);
    out = *built;
    return Failure::None();
}

Failure ReadRenderOverview(const uint8_t* data, size_t size, AudioOverview& out) {
    Header header{};
    if (size < kWavHeaderBytes || !ParseHeader(data, header)) return NotAWav("the audio");
    const size_t present = size - kWavHeaderBytes;
    const uint32_t dataBytes = static_cast<uint32_t>(std::min<size_t>(header.dataBytes, present));
    OverviewBuilder builder(out, dataBytes, header.channels);
    builder.Add(data + kWavHeaderBytes, dataBytes);
    builder.Finish();
    TakeFormat(out, header, dataBytes);
    return Failure::None();
}
