#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>

namespace platform {

namespace {

constexpr size_t kNameMax = 255;
constexpr const char kTag[] = ".dorvik-";
constexpr const char kSuffix[] = ".part";

// The names a signal handler must remove: a fixed table, since the handler may neither allocate
// nor lock. A slot is claimed (1), filled, then published (2); the handler reads only published
// slots.
struct CleanupSlot {
    std::atomic<int> state{0};
    char path[PATH_MAX];
};
constexpr int kSlots = 16;
CleanupSlot cleanupSlots[kSlots];

int Publish(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;  // too long to keep: an interruption would leave it
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!cleanupSlots[i].state.compare_exchange_strong(expected, 1)) continue;
        std::memcpy(cleanupSlots[i].path, path.c_str(), path.size() + 1);
        cleanupSlots[i].state.store(2);
        return i;
    }
    return -1;
}

void Withdraw(int slot) {
    if (slot >= 0) cleanupSlots[slot].state.store(0);
}

struct sigaction previousInt;
struct sigaction previousTerm;

void OnSignal(int signal) {
    const int savedErrno = errno;
    for (CleanupSlot& slot : cleanupSlots) {
        if (slot.state.load() == 2) ::unlink(slot.path);
    }
    const struct sigaction& previous = signal == SIGINT ? previousInt : previousTerm;
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) {
        errno = savedErrno;
        return;
    }
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_DFL) {
        // Ends the process by the signal itself, so that its parent sees how it ended.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        errno = savedErrno;
        return;
    }
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        previous.sa_sigaction(signal, nullptr, nullptr);
    } else {
        previous.sa_handler(signal);
    }
    errno = savedErrno;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Six characters that make a temporary name unlikely to be taken.
std::string UniquePart() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::string out(6, 'x');
    for (char& c : out) c = kAlphabet[random() % (sizeof kAlphabet - 1)];
    return out;
}

// The target as the file it names: a link is followed to the file it points at, so that the
// replacement lands there and the link survives. A name that does not resolve stays as given.
std::string ResolveTarget(const std::string& target) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
    char* resolved = ::realpath(target.c_str(), nullptr);
    if (resolved == nullptr) return target;
    std::string out = resolved;
    std::free(resolved);
    return out;
}

}  // namespace

std::string TemporaryFileName(const std::string& targetName, const std::string& unique) {
    const size_t fixed = 1 + (sizeof kTag - 1) + unique.size() + (sizeof kSuffix - 1);
    size_t keep = targetName.size();
    if (fixed + keep > kNameMax) {
        keep = kNameMax > fixed ? kNameMax - fixed : 0;
        // Back up to the start of a character that the cut would split.
        while (keep > 0 && (static_cast<unsigned char>(targetName[keep]) & 0xC0) == 0x80) --keep;
    }
    return "." + targetName.substr(0, keep) + kTag + unique + kSuffix;
}

void RemoveTemporaryFilesOnSignal() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    ::sigaction(SIGINT, &action, &previousInt);
    ::sigaction(SIGTERM, &action, &previousTerm);
}

int AtomicFile::Open(const std::string& target) {
    Discard();
    target_ = ResolveTarget(target);
    struct stat info {};
    const bool exists = ::stat(target_.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) return EISDIR;
    if (exists && !S_ISREG(info.st_mode)) {
        // A device or a pipe: written where it is. A pipe nobody reads is refused rather than
        // waited on.
        fd_ = ::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return errno;
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
        direct_ = true;
        return 0;
    }
    return OpenReplacement(FolderOf(target_), exists ? static_cast<int>(info.st_mode & 07777) : 0666, exists);
}

int AtomicFile::OpenReplacement(const std::string& folder, int mode, bool keepMode) {
    folder_ = folder;
    direct_ = false;
    // An unnamed file vanishes with the process however it ends, even by SIGKILL, and nobody
    // else can reach it while it is written.
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    unnamed_ = fd_ >= 0;
    if (fd_ < 0) {
        const int error = errno;
        // Only a file system without unnamed files falls back to a named one.
        if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) return error;
        for (int attempt = 0; fd_ < 0; ++attempt) {
            const std::string path = folder + "/" + TemporaryFileName(NameOf(target_), UniquePart());
            fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ >= 0) {
                temporaryPath_ = path;
                slot_ = Publish(path);
            } else if (errno != EEXIST || attempt == 100) {
                return errno;
            }
        }
    }
    // The creation mode passed through the umask; a replaced file keeps exactly its own.
    if (keepMode) ::fchmod(fd_, static_cast<mode_t>(mode));
    return 0;
}

// Gives an unnamed file its temporary name beside the target, ready for the rename.
int AtomicFile::NameReplacement() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0;; ++attempt) {
        const std::string path = folder_ + "/" + TemporaryFileName(NameOf(target_), UniquePart());
        // Published before it exists, so that no moment has it named but not known to the handler.
        slot_ = Publish(path);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporaryPath_ = path;
            unnamed_ = false;
            return 0;
        }
        const int error = errno;
        Withdraw(slot_);
        slot_ = -1;
        if (error != EEXIST || attempt == 100) return error;
    }
}

int AtomicFile::Commit() {
    if (fd_ < 0) return EBADF;
    if (direct_) {
        const int result = ::close(fd_) == 0 ? 0 : errno;
        fd_ = -1;
        direct_ = false;
        return result;
    }
    // A file system may report a failed write-back only when the file is closed.
    int error = unnamed_ ? NameReplacement() : 0;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporaryPath_.c_str(), target_.c_str()) != 0) error = errno;
    if (error != 0 && !temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
    Withdraw(slot_);
    slot_ = -1;
    temporaryPath_.clear();
    unnamed_ = false;
    return error;
}

void AtomicFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
    Withdraw(slot_);
    slot_ = -1;
    temporaryPath_.clear();
    unnamed_ = false;
    direct_ = false;
}

}  // namespace platform
