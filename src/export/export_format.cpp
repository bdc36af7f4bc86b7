#include "export/export_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>

#include "core/file_access.h"
#include "core/version.h"
#include "export/export_source.h"
#include "platform/atomic_file.h"
#include "resources/strings.h"

namespace {

struct FormatRow {
    ExportFormat format;
    const char* extension;
    const char* name;
};

// Indexed by the format; the audio formats are the first kAudioFormatCount rows.
constexpr FormatRow kFormats[] = {
    {ExportFormat::Wav, ".wav", "WAV"},        {ExportFormat::Flac, ".flac", "FLAC"},
    {ExportFormat::Alac, ".m4a", "ALAC"},      {ExportFormat::Aac, ".aac", "AAC"},
    {ExportFormat::Ogg, ".ogg", "Ogg Vorbis"}, {ExportFormat::Mp3, ".mp3", "MP3"},
    {ExportFormat::Mp4, ".mp4", "MP4"},
};
static_assert(std::size(kFormats) == kAudioFormatCount + 1, "one row per audio format, then the video");

// The file name's extension, dot included; empty when it has none. A name that is nothing but an
// extension (".ogg") is a hidden file without one, and a folder's name does not count.
std::string_view ExtensionOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string_view name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Owns a POSIX file descriptor.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    int Release() {
        const int f = fd;
        fd = -1;
        return f;
    }
};

// Copies `bytes` bytes (fewer if the source ends first, or `cancel` is set). Returns 0, a read's errno, or a
// write's errno negated. The kernel copies without a round trip through this process where it
// can; when it cannot (another file system, a device) or fails, the plain loop takes over from
// where it stopped, and says which side failed.
int CopyBytes(int in, int out, uint64_t bytes, const std::atomic<bool>* cancel) {
    static constexpr size_t kChunk = 1 << 20;
    std::unique_ptr<char[]> buffer;
    bool kernelCopy = true;
    while (bytes > 0) {
        if (cancel != nullptr && cancel->load()) return 0;
        const size_t want = bytes < kChunk ? static_cast<size_t>(bytes) : kChunk;
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (n == 0) break;
            if (n > 0) {
                bytes -= static_cast<uint64_t>(n);
            } else if (errno != EINTR) {
                kernelCopy = false;
            }
            continue;
        }
        if (buffer == nullptr) buffer.reset(new char[kChunk]);
        const ssize_t n = ::read(in, buffer.get(), want);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (!WriteAll(out, buffer.get(), static_cast<size_t>(n)).Ok()) return errno != 0 ? -errno : -EIO;
        bytes -= static_cast<uint64_t>(n);
    }
    return 0;
}

}  // namespace

std::optional<ExportFormat> AudioFormatOfPath(const std::string& path) {
    const std::string_view extension = ExtensionOf(path);
    if (extension.empty()) return std::nullopt;
    for (size_t i = 0; i < kAudioFormatCount; ++i) {
        if (EqualsIgnoringCase(extension, kFormats[i].extension)) return kFormats[i].format;
    }
    return std::nullopt;
}

ExportFormat ChooseExportFormat(const std::string& path, ExportFormat previous) {
    return AudioFormatOfPath(path).value_or(previous);
}

bool HasExtension(const std::string& path, const char* extension) {
    return EqualsIgnoringCase(ExtensionOf(path), extension);
}

const char* ExportFormatExtension(ExportFormat format) {
    return kFormats[static_cast<size_t>(format)].extension;
}

std::string EncoderTagText() {
    char text[48];
    std::snprintf(text, sizeof text, "Dorvik Midi Player %.1f", kProgramVersion);
    return text;
}

const char* ExportFormatName(ExportFormat format) {
    return kFormats[static_cast<size_t>(format)].name;
}

std::optional<QualityLevel> ParseQualityLevel(const std::string& word) {
    static constexpr struct {
        int nameId;
        QualityLevel level;
    } kLevels[] = {
        {res::IdsStandard, QualityStandard}, {res::IdsHigh, QualityHigh}, {res::IdsMaximum, QualityMaximum}};
    for (const auto& row : kLevels) {
        if (word == res::LoadString(row.nameId)) return row.level;
    }
    return std::nullopt;
}

QualityLevel QualityFromChoice(int choice) {
    return choice == QualityHigh ? QualityHigh : choice == QualityMaximum ? QualityMaximum : QualityStandard;
}

float OggQualityForLevel(int level) {
    switch (level) {
        case QualityHigh:
            return 0.7f;
        case QualityMaximum:
            return 1.0f;
        default:
            return 0.5f;
    }
}

int BitRateForLevel(uint16_t availability, int level) {
    const int high = (availability & 2) != 0 ? 160 : 128;
    if (level == QualityHigh) return high;
    if (level == QualityMaximum) {
        const int highest = availability >> 2;
        return highest > high ? highest : high;
    }
    return 128;
}

uint16_t TranscodeProgressPercent(float position, double duration) {
    if (!(duration > 0.0) || !(position > 0.0f)) return 0;
    const double percent = std::floor(position * 100.0 / duration);
    return percent >= 99.0 ? 99 : static_cast<uint16_t>(percent);
}

Failure CopyWavFile(const std::string& source, const std::string& target, const std::atomic<bool>* cancel) {
    // The source is checked as every exporter checks it: a copy of a picture, of a pipe or of
    // /dev/zero under a .wav name is no export.
    ExportSource checked;
    if (Failure refused = OpenExportSource(source, checked); !refused.Ok()) return refused;
    checked.reader.Close();
    if (IsSameFile(source, target)) return {};

    Fd in;
    in.fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) {
        const int error = errno;
        return {FailureKind::SourceOpen, "Couldn't open " + source + " for read: " + ErrnoText(error)};
    }
    platform::AtomicFile out;
    if (const Failure opened = out.Open(target); !opened.Ok()) {
        return {FailureKind::TargetOpen, "Couldn't open " + target + " for write: " + opened.text};
    }
    // The copy stops at the size the source had when it was checked, so that a file still
    // growing cannot keep it going.
    const int error = CopyBytes(in.fd, out.Fd(), checked.fileBytes, cancel);
    if (error > 0) return {FailureKind::Read, "Couldn't read " + source + ": " + ErrnoText(error)};
    if (error < 0) return {FailureKind::Write, "Couldn't write " + target + ": " + ErrnoText(-error)};
    // The unfinished file goes with `out`; the target stays as it was.
    if (cancel != nullptr && cancel->load()) return {FailureKind::Cancelled, "The export was cancelled"};
    if (const Failure failed = out.Commit(); !failed.Ok()) {
        return {FailureKind::Write, "Couldn't write " + target + ": " + failed.text};
    }
    return {};
}
