#include "export/export_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>

#include "export/export_source.h"
#include "platform/atomic_file.h"

namespace {

struct FormatRow {
    uint16_t format;
    const char* extension;
    const char* name;
};

constexpr FormatRow kFormats[] = {
    {FormatWav, ".wav", "WAV"}, {FormatFlac, ".flac", "FLAC"},     {FormatAlac, ".m4a", "ALAC"},
    {FormatAac, ".aac", "AAC"}, {FormatOgg, ".ogg", "Ogg Vorbis"}, {FormatMp3, ".mp3", "MP3"},
};

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

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies `bytes` bytes (fewer if the source ends first). Returns 0, a read's errno, or a
// write's errno negated. The kernel copies without a round trip through this process where it
// can; when it cannot (another file system, a device) or fails, the plain loop takes over from
// where it stopped, and says which side failed.
int CopyBytes(int in, int out, uint64_t bytes) {
    static constexpr size_t kChunk = 1 << 20;
    std::unique_ptr<char[]> buffer;
    bool kernelCopy = true;
    while (bytes > 0) {
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
        if (!WriteAll(out, buffer.get(), static_cast<size_t>(n))) return -errno;
        bytes -= static_cast<uint64_t>(n);
    }
    return 0;
}

}  // namespace

uint16_t ChooseExportFormat(const std::string& path, uint16_t previous) {
    const size_t slash = path.find_last_of('/');
    const std::string_view name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t dot = name.find_last_of('.');
    // A name that is nothing but an extension (".ogg") is a hidden file without one.
    if (dot == std::string_view::npos || dot == 0) return previous;
    for (const FormatRow& row : kFormats) {
        if (EqualsIgnoringCase(name.substr(dot), row.extension)) return row.format;
    }
    return previous;
}

const char* ExportFormatExtension(uint16_t format) {
    for (const FormatRow& row : kFormats) {
        if (row.format == format) return row.extension;
    }
    return "";
}

const char* ExportFormatName(uint16_t format) {
    for (const FormatRow& row : kFormats) {
        if (row.format == format) return row.name;
    }
    return "";
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

ExportResult CopyWavFile(const std::string& source, const std::string& target) {
    // The source is checked as every exporter checks it: a copy of a picture, of a pipe or of
    // /dev/zero under a .wav name is no export.
    ExportSource checked;
    const SourceCheck check = OpenExportSource(source, checked);
    if (check != SourceCheck::Ok) return SourceFailure(check, source, checked.error);
    checked.reader.Close();
    if (IsSameFile(source, target)) return {};

    Fd in;
    in.fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) {
        const int error = errno;
        return {FailSourceOpen, "Couldn't open " + source + " for read: " + ErrnoText(error)};
    }
    platform::AtomicFile out;
    if (const int error = out.Open(target); error != 0) {
        return {FailTargetOpen, "Couldn't open " + target + " for write: " + ErrnoText(error)};
    }
    // The copy stops at the size the source had when it was checked, so that a file still
    // growing cannot keep it going.
    const int error = CopyBytes(in.fd, out.Fd(), checked.fileBytes);
    if (error > 0) return {FailRead, "Couldn't read " + source + ": " + ErrnoText(error)};
    if (error < 0) return {FailWrite, "Couldn't write " + target + ": " + ErrnoText(-error)};
    if (const int failed = out.Commit(); failed != 0) {
        return {FailWrite, "Couldn't write " + target + ": " + ErrnoText(failed)};
    }
    return {};
}
