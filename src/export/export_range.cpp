#include "export/export_range.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/file_access.h"
#include "export/export_source.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits, then optionally a point and at least one digit: "12", "12.5". `whole` counts the digits
// before the point.
bool IsPlainNumber(std::string_view text, size_t& whole) {
    whole = 0;
    while (whole < text.size() && IsDigit(text[whole])) ++whole;
    if (whole == 0) return false;
    if (whole == text.size()) return true;
    if (text[whole] != '.' || whole + 1 == text.size()) return false;
    for (size_t i = whole + 1; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return false;
    }
    return true;
}

// The number the checked text spells; strtod reads the same digits whatever the locale's point is,
// as long as it is '.', which the C locale this program runs in keeps.
double NumberOf(std::string_view text) {
    return std::strtod(std::string(text).c_str(), nullptr);
}

// A little-endian signed integer of `bytes` bytes (1 to 4, two's complement).
int64_t LoadSigned(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint64_t{p[i]} << (8 * i);
    const uint64_t sign = uint64_t{1} << (8 * bytes - 1);
    return static_cast<int64_t>(value ^ sign) - static_cast<int64_t>(sign);
}

void StoreSigned(uint8_t* p, int bytes, int64_t value) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

// Scales one sample in place by `gain` (0 to 1), in its own encoding.
void ScaleSample(SampleEncoding encoding, uint8_t* p, int bytes, double gain) {
    switch (encoding) {
        case SampleEncoding::Unsigned8:
            p[0] = static_cast<uint8_t>(std::lround((p[0] - 128) * gain) + 128);
            break;
        case SampleEncoding::Signed16:
        case SampleEncoding::Signed24:
        case SampleEncoding::Signed32:
            StoreSigned(p, bytes, std::llround(static_cast<double>(LoadSigned(p, bytes)) * gain));
            break;
        case SampleEncoding::Float32: {
            float v;
            std::memcpy(&v, p, sizeof v);
            v = static_cast<float>(v * gain);
            std::memcpy(p, &v, sizeof v);
            break;
        }
        case SampleEncoding::Float64: {
            double v;
            std::memcpy(&v, p, sizeof v);
            v *= gain;
            std::memcpy(p, &v, sizeof v);
            break;
        }
        case SampleEncoding::Unsupported:
            break;
    }
}

void PutLe16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}
void PutId(std::vector<uint8_t>& out, const char* id) {
    out.insert(out.end(), id, id + 4);
}

// The header of a WAV holding `dataBytes` of samples in `format`: plain PCM gets the 16-byte
// format every reader knows, any other format its whole record, extra bytes and all.
std::vector<uint8_t> HeaderFor(const WaveFormatRecord& format, uint32_t dataBytes) {
    const WavFormat& f = format.header;
    const bool plain = f.formatTag == kWaveFormatPcm && format.extra.empty();
    const uint32_t fmtBytes = plain ? static_cast<uint32_t>(kFmtFieldBytes) : format.Bytes();
    const uint32_t fmtPadded = fmtBytes + (fmtBytes & 1);
    const uint32_t dataPadded = dataBytes + (dataBytes & 1);
    std::vector<uint8_t> out;
    PutId(out, "RIFF");
    PutLe32(out, 4 + 8 + fmtPadded + 8 + dataPadded);
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    PutLe32(out, fmtBytes);
    PutLe16(out, f.formatTag);
    PutLe16(out, f.channels);
    PutLe32(out, f.samplesPerSec);
    PutLe32(out, f.avgBytesPerSec);
    PutLe16(out, f.blockAlign);
    PutLe16(out, f.bitsPerSample);
    if (!plain) {
        PutLe16(out, static_cast<uint32_t>(format.extra.size()));
        out.insert(out.end(), format.extra.begin(), format.extra.end());
    }
    if (fmtBytes & 1) out.push_back(0);
    PutId(out, "data");
    PutLe32(out, dataBytes);
    return out;
}

}  // namespace

bool ParseRangeTime(std::string_view text, double& seconds) {
    const size_t colon = text.find(':');
    size_t whole = 0;
    if (colon == std::string_view::npos) {
        if (!IsPlainNumber(text, whole)) return false;
        seconds = NumberOf(text);
        return true;
    }
    const std::string_view minutes = text.substr(0, colon);
    const std::string_view rest = text.substr(colon + 1);
    size_t minuteDigits = 0;
    if (!IsPlainNumber(minutes, minuteDigits) || minuteDigits != minutes.size()) return false;
    if (!IsPlainNumber(rest, whole) || whole != 2) return false;
    const double s = NumberOf(rest);
    if (s >= 60.0) return false;
    seconds = NumberOf(minutes) * 60.0 + s;
    return true;
}

std::string FormatRangeTime(double seconds) {
    const long tenths = std::lround(std::clamp(seconds, 0.0, kLatestRangeSeconds) * 10.0);
    char text[48];
    if (tenths % 10 == 0)
        std::snprintf(text, sizeof text, "%ld:%02ld", tenths / 600, tenths / 10 % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

std::string RangeProblem(const ExportRange& range, double length) {
    if (range.to >= 0.0 && range.to <= range.from)
        return "the part to export ends (" + FormatRangeTime(range.to) + ") before it starts (" +
               FormatRangeTime(range.from) + ")";
    if (length >= 0.0 && range.from >= length)
        return "the part to export starts at " + FormatRangeTime(range.from) + ", past the song's end at " +
               FormatRangeTime(length);
    return {};
}

Failure WriteWavRange(const std::string& source, const ExportRange& range, int fd,
                      const std::string& targetName, const std::atomic<bool>* cancel) {
    ExportSource checked;
    if (Failure refused = OpenExportSource(source, checked); !refused.Ok()) return refused;
    WavReader& reader = checked.reader;
    const WaveFormatRecord& format = *reader.format;
    const WavFormat& f = format.header;
    const uint64_t held = std::min<uint64_t>(reader.dataSize, checked.fileBytes - checked.dataOffset);
    const int64_t frames = static_cast<int64_t>(held / f.blockAlign);
    const double rate = f.samplesPerSec;
    const double length = static_cast<double>(frames) / rate;
    if (const std::string problem = RangeProblem(range, length); !problem.empty())
        return {FailureKind::Usage, "Can't export that part of " + source + ": " + problem};

    const int64_t first = std::clamp<int64_t>(std::llround(range.from * rate), 0, frames);
    const int64_t end =
        range.to < 0.0 ? frames : std::clamp<int64_t>(std::llround(range.to * rate), first, frames);
    if (end <= first)
        return {FailureKind::Usage, "Can't export that part of " + source + ": it holds no sound"};
    const int64_t count = end - first;
    const uint64_t dataBytes = static_cast<uint64_t>(count) * f.blockAlign;
    if (dataBytes > 0xFFFFFFF0u)
        return {FailureKind::SourceFormat,
                "Can't export that part of " + source + ": it is too long for a WAV file"};

    // A fade only where the cut goes into the sound, never longer than half the part.
    const int64_t fade = std::min<int64_t>(std::llround(kCutFadeSeconds * rate), count / 2);
    const bool fadeIn = first > 0 && fade > 0;
    const bool fadeOut = end < frames && fade > 0;
    const SampleEncoding encoding = SampleEncodingOf(format);
    const int channels = f.channels;
    const int sampleBytes = f.blockAlign / channels;

    const std::vector<uint8_t> header = HeaderFor(format, static_cast<uint32_t>(dataBytes));
    const auto writeFailed = [&targetName](const Failure& written) {
        return Failure{FailureKind::Write, "Couldn't write " + targetName + ": " + written.text};
    };
    if (Failure written = WriteAll(fd, header.data(), header.size()); !written.Ok())
        return writeFailed(written);
    if (reader.SeekFrame(static_cast<uint32_t>(first)) != kWavOk)
        return {FailureKind::Read, "Couldn't read " + source + ": it cannot be searched"};

    constexpr int64_t kBlockFrames = 16384;
    std::vector<uint8_t> block(static_cast<size_t>(kBlockFrames) * f.blockAlign);
    for (int64_t done = 0; done < count;) {
        if (cancel != nullptr && cancel->load()) return {FailureKind::Cancelled, "The export was cancelled"};
        const int64_t n = std::min(kBlockFrames, count - done);
        const uint32_t bytes = static_cast<uint32_t>(n) * f.blockAlign;
        if (reader.Read(block.data(), bytes) != bytes)
            return {FailureKind::Read, "Couldn't read " + source + ": the file ends before its data does"};
        for (int64_t i = 0; i < n; ++i) {
            const int64_t at = done + i;
            double gain = 1.0;
            if (fadeIn && at < fade) gain = static_cast<double>(at) / static_cast<double>(fade);
            if (fadeOut && count - 1 - at < fade)
                gain = std::min(gain, static_cast<double>(count - 1 - at) / static_cast<double>(fade));
            if (gain >= 1.0) continue;
            uint8_t* frame = block.data() + static_cast<size_t>(i) * f.blockAlign;
            for (int c = 0; c < channels; ++c)
                ScaleSample(encoding, frame + c * sampleBytes, sampleBytes, gain);
        }
        if (Failure written = WriteAll(fd, block.data(), bytes); !written.Ok()) return writeFailed(written);
        done += n;
    }
    if (dataBytes & 1) {
        const uint8_t pad = 0;
        if (Failure written = WriteAll(fd, &pad, 1); !written.Ok()) return writeFailed(written);
    }
    return {};
}

RangeFile::~RangeFile() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

// A file with no name in `folder`: O_TMPFILE where the file system has it, else a named file
// unlinked at once. -1 when neither can be made.
int UnnamedFile(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string name = folder + "/.dorvik-range-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

}  // namespace

Failure RangeFile::Make(const std::string& source, const ExportRange& range, const std::string& folder,
                        const std::atomic<bool>* cancel) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = UnnamedFile(folder.empty() ? "." : folder);
    if (fd_ < 0) {
        const char* tmp = std::getenv("TMPDIR");
        fd_ = UnnamedFile(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp");
    }
    if (fd_ < 0)
        return {FailureKind::TargetOpen, "Couldn't make a file for the part to export: " + ErrnoText(errno)};
    path_ = "/proc/self/fd/" + std::to_string(fd_);
    return WriteWavRange(source, range, fd_, "the part to export", cancel);
}
