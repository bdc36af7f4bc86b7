// Index:
// - removal on signals
// - creating, committing and dropping a render file
// - stale files

#include "synth/render_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "core/file_access.h"

// --- Removal on signals ---

namespace {

// Paths a signal handler may remove. A handler can neither allocate nor lock, so the paths are
// copied into fixed slots, and a slot is published by its flag only once the path is complete.
constexpr int kSignalSlots = 4;
constexpr size_t kSlotBytes = 4096;
char slotPaths[kSignalSlots][kSlotBytes];
std::atomic<bool> slotUsed[kSignalSlots];

int TakeSlot(const std::string& path) {
    if (path.size() >= kSlotBytes) return -1;
    for (int i = 0; i < kSignalSlots; ++i) {
        if (slotUsed[i].load()) continue;
        std::memcpy(slotPaths[i], path.c_str(), path.size() + 1);
        slotUsed[i].store(true);
        return i;
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot >= 0) slotUsed[slot].store(false);
}

void RemoveAndEnd(int signal) {
    for (int i = 0; i < kSignalSlots; ++i) {
        if (slotUsed[i].load()) unlink(slotPaths[i]);
    }
    // Ends the process as the signal would have, so the caller sees the usual exit status.
    std::signal(signal, SIG_DFL);
    raise(signal);
}

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads the flags");

}  // namespace

void RemoveRenderFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    // Past the limit a write fails with EFBIG, which the render reports and cleans up after.
    std::signal(SIGXFSZ, SIG_IGN);
}

// --- Creating, committing and dropping a render file ---

// The name is removed only while it still names this very file: a newer render may have been
// created under the same name since.
RenderFile::~RenderFile() {
    struct stat mine {
    }, named{};
    if (fd_ >= 0 && !unnamed_ && fstat(fd_, &mine) == 0 && stat(path_.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
        unlink(path_.c_str());
    }
    Close();
}

void RenderFile::Close() {
    ReleaseSlot(signalSlot_);
    signalSlot_ = -1;
    unnamed_ = false;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

Failure RenderFile::Adopt(int fd, const std::string& path) {
    // The lock tells a later run that this file is in use; it goes with the process.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const Failure failed = Failure::Because(FailureKind::TargetOpen, std::strerror(errno));
        close(fd);
        if (!unnamed_) unlink(path.c_str());
        unnamed_ = false;
        return failed;
    }
    fd_ = fd;
    path_ = path;
    if (!unnamed_) signalSlot_ = TakeSlot(path);
    return Failure::None();
}

Failure RenderFile::CreateTemporary(const std::string& folder, bool unnamed) {
    Close();
    folder_ = folder.empty() ? std::string(".") : folder;
    unnamed_ = false;
    if (unnamed) {
        // A file system that cannot make unnamed files (some network and older ones) refuses the
        // flag, and the named file below is made instead.
        const int fd = open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            unnamed_ = true;
            return Adopt(fd, "/proc/self/fd/" + std::to_string(fd));
        }
    }
    std::string name = folder_ + "/" + kRenderTempPrefix + "XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return Failure::Because(FailureKind::TargetOpen, std::strerror(errno));
    }
    return Adopt(fd, name);
}

Failure RenderFile::CreateUnique(const std::string& folder, const std::string& prefix,
                                 const std::string& suffix) {
    Close();
    folder_ = folder.empty() ? std::string(".") : folder;
    std::string name = folder_ + "/" + prefix + "XXXXXX" + suffix;
    const int fd = mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        return Failure::Because(FailureKind::TargetOpen, std::strerror(errno));
    }
    return Adopt(fd, name);
}

Failure RenderFile::CreateOwn(const std::string& path) {
    Close();
    const size_t slash = path.rfind('/');
    folder_ = slash == std::string::npos ? std::string(".")
              : slash == 0               ? std::string("/")
                                         : path.substr(0, slash);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        return Failure::Because(FailureKind::TargetOpen, std::strerror(errno));
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Failure::Because(FailureKind::TargetOpen, std::strerror(errno));
    }
    return Adopt(fd, path);
}

namespace {

// The permissions of the regular file at `target`, or those of any new file of the user's.
mode_t TargetMode(const std::string& target) {
    struct stat old {};
    if (stat(target.c_str(), &old) == 0 && IsRegularFile(old)) return old.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

// Links the unnamed file into its folder under a fresh temporary name: a link cannot replace the
// target, so the name is put in place by a rename afterwards, as for a named file.
Failure RenderFile::NameUnnamed(std::string& named) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            return Failure::Because(FailureKind::TargetOpen, std::strerror(errno));
        }
        named = folder_ + "/" + kRenderTempPrefix;
        for (const unsigned char r : random) named += kLetters[r % (sizeof kLetters - 1)];
        // Through /proc the link needs no privilege; without /proc, AT_EMPTY_PATH is the way,
        // which needs it.
        int linked = linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT) linked = linkat(fd_, "", AT_FDCWD, named.c_str(), AT_EMPTY_PATH);
        if (linked == 0) return Failure::None();
        if (errno != EEXIST) {
            return Failure::Because(FailureKind::TargetOpen, std::strerror(errno));
        }
    }
    return Failure::Because(FailureKind::TargetOpen, "no free temporary name");
}

Failure RenderFile::Commit(const std::string& target) {
    if (unnamed_) {
        std::string named;
        if (Failure failed = NameUnnamed(named); !failed.Ok()) return failed;
        if (fchmod(fd_, TargetMode(target)) != 0 || std::rename(named.c_str(), target.c_str()) != 0) {
            const Failure failed = Failure::Because(FailureKind::Write, std::strerror(errno));
            unlink(named.c_str());
            return failed;
        }
        path_ = target;
        Close();
        return Failure::None();
    }
    // In a folder others can write to, the temporary name may have been taken over by another
    // user (a link to a file of the user's, say). What this program wrote went into its own open
    // file regardless; the name is put in place only while it still names that file.
    struct stat mine {
    }, named{};
    if (fstat(fd_, &mine) != 0 || lstat(path_.c_str(), &named) != 0 || mine.st_dev != named.st_dev ||
        mine.st_ino != named.st_ino) {
        return Failure::Because(FailureKind::Write,
                                "the temporary file " + path_ + " was replaced or removed by someone else");
    }
    if (fchmod(fd_, TargetMode(target)) != 0 || std::rename(path_.c_str(), target.c_str()) != 0) {
        return Failure::Because(FailureKind::Write, std::strerror(errno));
    }
    path_ = target;
    Close();
    return Failure::None();
}

// --- Stale files ---

void RemoveStaleRenderFiles(const std::string& folder, const std::string& prefix, long minAgeSeconds) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    const time_t dayAgo = std::time(nullptr) - minAgeSeconds;
    while (const dirent* entry = readdir(dir)) {
        if (std::string_view(entry->d_name).substr(0, prefix.size()) != prefix) continue;
        const int fd = openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        // The lock is held while the file goes, so a render cannot start on it in between.
        if (fstat(fd, &info) == 0 && IsRegularFile(info) && info.st_uid == geteuid() &&
            (minAgeSeconds <= 0 || info.st_mtime < dayAgo) && flock(fd, LOCK_EX | LOCK_NB) == 0) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
        close(fd);
    }
    closedir(dir);
}
