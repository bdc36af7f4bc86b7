// Index:
// - removal on signals
// - creating, committing and dropping a render file
// - stale files

#include "synth/render_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

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
    if (fd_ >= 0 && fstat(fd_, &mine) == 0 && stat(path_.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
        unlink(path_.c_str());
    }
    Close();
}

void RenderFile::Close() {
    ReleaseSlot(signalSlot_);
    signalSlot_ = -1;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool RenderFile::Adopt(int fd, const std::string& path, std::string& error) {
    // The lock tells a later run that this file is in use; it goes with the process.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return false;
    }
    fd_ = fd;
    path_ = path;
    signalSlot_ = TakeSlot(path);
    return true;
}

bool RenderFile::CreateTemporary(const std::string& folder, std::string& error) {
    Close();
    std::string name = (folder.empty() ? std::string(".") : folder) + "/" + kRenderTempPrefix + "XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    return Adopt(fd, name, error);
}

bool RenderFile::CreateOwn(const std::string& path, std::string& error) {
    Close();
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    return Adopt(fd, path, error);
}

bool RenderFile::Commit(const std::string& target, std::string& error) {
    // In a folder others can write to, the temporary name may have been taken over by another
    // user (a link to a file of the user's, say). What this program wrote went into its own open
    // file regardless; the name is put in place only while it still names that file.
    struct stat mine {
    }, named{};
    if (fstat(fd_, &mine) != 0 || lstat(path_.c_str(), &named) != 0 || mine.st_dev != named.st_dev ||
        mine.st_ino != named.st_ino) {
        error = "the temporary file " + path_ + " was replaced or removed by someone else";
        return false;
    }
    mode_t mode = 0;
    struct stat old {};
    if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
    } else {
        mode = umask(0);
        umask(mode);
        mode = 0666 & ~mode;
    }
    if (fchmod(fd_, mode) != 0 || std::rename(path_.c_str(), target.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    path_ = target;
    Close();
    return true;
}

// --- Stale files ---

void RemoveStaleRenderFiles(const std::string& folder, const std::string& prefix) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    const time_t dayAgo = std::time(nullptr) - 24 * 60 * 60;
    while (const dirent* entry = readdir(dir)) {
        if (std::string_view(entry->d_name).substr(0, prefix.size()) != prefix) continue;
        const int fd = openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        // The lock is held while the file goes, so a render cannot start on it in between.
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
            info.st_mtime < dayAgo && flock(fd, LOCK_EX | LOCK_NB) == 0) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
        close(fd);
    }
    closedir(dir);
}
