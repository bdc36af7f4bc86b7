#include "core/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace {

Failure OpenFailure(const std::string& path, const char* reason) {
    return Failure::Because(FailureKind::SourceOpen, path + ": " + reason);
}

}  // namespace

bool IsRegularFile(const struct stat& info) {
    return S_ISREG(info.st_mode);
}

bool NotARegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

std::string RegularFileProblem(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "a folder, not a file";
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    return {};
}

Failure CheckRegularFile(const std::string& path) {
    const std::string problem = RegularFileProblem(path);
    return problem.empty() ? Failure::None() : OpenFailure(path, problem.c_str());
}

Failure ReadRegularFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes) {
    bytes.clear();
    // O_NONBLOCK: opening a pipe would otherwise wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return OpenFailure(path, std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat info {};
    if (fstat(fd, &info) != 0) return OpenFailure(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) return OpenFailure(path, "a folder, not a file");
    if (!S_ISREG(info.st_mode)) return OpenFailure(path, "not a regular file");
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > maxBytes) {
        char limit[64];
        std::snprintf(limit, sizeof limit, "larger than the %zu MB this program reads",
                      maxBytes / (1024 * 1024) == 0 ? size_t{1} : maxBytes / (1024 * 1024));
        return Failure::Because(FailureKind::SourceFormat, path + ": " + limit);
    }
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return Failure::Because(FailureKind::Read, path + ": not enough memory to read it");
    }
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string why = n < 0 ? std::strerror(errno) : "the file shrank while it was read";
            bytes.clear();
            return Failure::Because(FailureKind::Read, path + ": " + why);
        }
        got += static_cast<size_t>(n);
    }
    return Failure::None();
}

Failure WriteAll(int fd, const void* data, size_t size, int64_t at) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t put = at < 0 ? write(fd, bytes, size) : pwrite(fd, bytes, size, static_cast<off_t>(at));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            const int error = errno;
            std::string why = put < 0 ? ErrnoText(error) : "nothing could be written";
            errno = error;
            return Failure::Because(FailureKind::Write, std::move(why));
        }
        bytes += put;
        size -= static_cast<size_t>(put);
        if (at >= 0) at += put;
    }
    return Failure::None();
}

std::string FileTitleFromPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    // A dot before the start belongs to a folder's name ("/Old.Sounds/Piano"), not an extension.
    if (dot != std::string::npos && dot >= start) return path.substr(start, dot - start);
    return path.substr(start);
}
