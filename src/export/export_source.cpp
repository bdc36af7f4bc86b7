#include "export/export_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/file_access.h"

namespace {

constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// The extensible format names its real encoding in the first two bytes of the sub-format GUID,
// which stands 6 bytes into the extra bytes.
constexpr size_t kSubFormatOffset = 6;

float Signed24(const uint8_t* p) {
    const int32_t value =
        static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                             static_cast<uint32_t>(p[2]) << 24);
    return static_cast<float>(value) / 2147483648.0f;
}

float SampleAt(SampleEncoding encoding, const uint8_t* p) {
    switch (encoding) {
        case SampleEncoding::Unsigned8:
            return (static_cast<int>(p[0]) - 128) / 128.0f;
        case SampleEncoding::Signed16:
            return static_cast<int16_t>(LoadLe16(p)) / 32768.0f;
        case SampleEncoding::Signed24:
            return Signed24(p);
        case SampleEncoding::Signed32:
            return static_cast<float>(static_cast<int32_t>(LoadLe32(p))) / 2147483648.0f;
        case SampleEncoding::Float32: {
            const uint32_t bits = LoadLe32(p);
            float value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        case SampleEncoding::Float64: {
            const uint64_t bits = LoadLe32(p) | static_cast<uint64_t>(LoadLe32(p + 4)) << 32;
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return static_cast<float>(value);
        }
        case SampleEncoding::Unsupported:
            break;
    }
    return 0.0f;
}

Failure CannotOpen(const std::string& path, int error) {
    return {FailureKind::SourceOpen, "Couldn't open " + path + " for read: " + ErrnoText(error)};
}

Failure NotSuitable(const std::string& path, const char* why) {
    return {FailureKind::SourceFormat, "The input file " + path + " " + why};
}

}  // namespace

SampleEncoding SampleEncodingOf(const WaveFormatRecord& format) {
    const WavFormat& f = format.header;
    uint16_t tag = f.formatTag;
    if (tag == kFormatExtensible) {
        if (format.extra.size() < kSubFormatOffset + 2) return SampleEncoding::Unsupported;
        tag = LoadLe16(format.extra.data() + kSubFormatOffset);
    }
    if (f.channels == 0 || f.blockAlign == 0 || f.blockAlign % f.channels != 0)
        return SampleEncoding::Unsupported;
    const unsigned container = f.blockAlign / f.channels;
    if (f.bitsPerSample == 0 || f.bitsPerSample > container * 8) return SampleEncoding::Unsupported;
    if (tag == kWaveFormatPcm) {
        switch (container) {
            case 1:
                return SampleEncoding::Unsigned8;
            case 2:
                return SampleEncoding::Signed16;
            case 3:
                return SampleEncoding::Signed24;
            case 4:
                return SampleEncoding::Signed32;
            default:
                return SampleEncoding::Unsupported;
        }
    }
    if (tag == kFormatFloat && container == 4) return SampleEncoding::Float32;
    if (tag == kFormatFloat && container == 8) return SampleEncoding::Float64;
    return SampleEncoding::Unsupported;
}

void DecodeFrames(SampleEncoding encoding, int channels, const uint8_t* bytes, int frames, float* left,
                  float* right) {
    const size_t width = encoding == SampleEncoding::Unsigned8  ? 1
                         : encoding == SampleEncoding::Signed16 ? 2
                         : encoding == SampleEncoding::Signed24 ? 3
                         : encoding == SampleEncoding::Float64  ? 8
                                                                : 4;
    const size_t frameBytes = width * static_cast<size_t>(channels);
    for (int i = 0; i < frames; ++i) {
        const uint8_t* frame = bytes + static_cast<size_t>(i) * frameBytes;
        left[i] = SampleAt(encoding, frame);
        right[i] = channels == 1 ? left[i] : SampleAt(encoding, frame + width);
    }
}

Failure CheckSourceFile(const std::string& path) {
    // Opened without blocking, so that a pipe with no writer is seen for what it is rather than
    // waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return CannotOpen(path, errno);
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && IsRegularFile(info);
    ::close(fd);
    return regular ? Failure::None() : NotSuitable(path, "is not a regular file");
}

Failure OpenExportSource(const std::string& path, ExportSource& source) {
    if (Failure refused = CheckSourceFile(path); !refused.Ok()) return refused;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return CannotOpen(path, errno);
    source.fileBytes = static_cast<uint64_t>(info.st_size);
    WavReader& reader = source.reader;
    if (reader.Open(path) != kWavOk || !reader.handle) return CannotOpen(path, errno != 0 ? errno : EIO);
    if (!reader.format) return NotSuitable(path, "is not a WAV file");
    const WavFormat& f = reader.format->header;
    if (f.channels == 0 || f.blockAlign == 0 || f.samplesPerSec == 0)
        return NotSuitable(path, "is not a WAV file");
    source.dataOffset = reader.dataChunk.dataOffset;
    // A data chunk may claim more than the file holds; a frame must really be there.
    if (reader.dataSize < f.blockAlign || source.dataOffset + uint64_t{f.blockAlign} > source.fileBytes)
        return NotSuitable(path, "holds no audio");
    return Failure::None();
}
