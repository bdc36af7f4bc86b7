#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

namespace platform {

namespace {

// The writer sits on the floor below core/file_access, whose test of "a regular file" every other
// room uses; this is the same test, kept in this one place of the floor.
bool IsRegular(const struct stat& info) {
    return S_ISREG(info.st_mode);
}

constexpr size_t kNameMax = 255;
constexpr const char kTag[] = ".dorvik-";
constexpr const char kSuffix[] = ".part";

// The names a signal handler must remove: a fixed table, since the handler may neither allocate
// nor lock. A handler may run on any thread, beside a writer that is just making or moving a name,
// so each slot says where its name stands:
//   free, filling (claimed, path not yet complete),
//   moving (the owner is making or renaming the name: whether it exists is not yet known),
//   named (the file is there under the name and waits for its rename),
//   removing and removed (a handler took the name away).
// The owner keeps the signals off its own thread while a name moves, so a handler that finds a
// slot moving runs on another thread and can wait for the move to finish.
enum SlotState : int { kFree, kFilling, kMoving, kNamed, kRemoving, kRemoved };

struct CleanupSlot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
constexpr int kSlots = 16;
CleanupSlot cleanupSlots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");

int Publish(const std::string& path, SlotState state) {
    if (path.size() >= PATH_MAX) return -1;  // too long to keep: an interruption would leave it
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!cleanupSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(cleanupSlots[i].path, path.c_str(), path.size() + 1);
        cleanupSlots[i].state.store(state);
        return i;
    }
    return -1;
}

// Moves a slot of this writer's from one state to another. False when a handler took the name.
bool Move(int slot, SlotState from, SlotState to) {
    if (slot < 0) return true;
    int expected = from;
    return cleanupSlots[slot].state.compare_exchange_strong(expected, to);
}

void Pause() {
    const timespec millisecond{0, 1000000};
    ::nanosleep(&millisecond, nullptr);
}

// Frees a slot. A name a handler is still removing keeps its slot until the handler is done, so
// that the path it reads is not overwritten under it.
void Withdraw(int slot) {
    if (slot < 0) return;
    std::atomic<int>& state = cleanupSlots[slot].state;
    while (state.load() == kRemoving) Pause();
    state.store(kFree);
}

// Holds SIGINT and SIGTERM back from this thread while a name is made or moved; they arrive as
// soon as it is over.
class HeldSignals {
  public:
    HeldSignals() {
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~HeldSignals() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

  private:
    sigset_t previous_{};
};

struct sigaction previousInt;
struct sigaction previousTerm;

// Set once a signal is about to end the process. The handler waits only for the moves under way
// when it looks; a writer on another thread that is about to start one must not, or the process
// could end between its link and its rename. A writer therefore claims its slot first and looks
// here second, while the handler sets this first and looks at the slots second: one of the two
// always sees the other.
std::atomic<bool> ending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");

void RemoveNamedFiles() {
    for (CleanupSlot& slot : cleanupSlots) {
        int state = slot.state.load();
        // A move takes two system calls on a thread that does not take this signal; the bound
        // only guards against a writer stopped in a debugger.
        for (int waited = 0; state == kMoving && waited < 2000; ++waited) {
            Pause();
            state = slot.state.load();
        }
        if (state == kNamed && slot.state.compare_exchange_strong(state, kRemoving)) {
            ::unlink(slot.path);
            slot.state.store(kRemoved);
        }
    }
}

bool IsDefault(const struct sigaction& action, void (*handler)(int)) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == handler;
}

void OnSignal(int signal) {
    const int savedErrno = errno;
    const struct sigaction& previous = signal == SIGINT ? previousInt : previousTerm;
    // Only a signal that ends the process stops the writers: otherwise they carry on after it.
    if (IsDefault(previous, SIG_DFL)) ending.store(true);
    RemoveNamedFiles();
    if (IsDefault(previous, SIG_IGN)) {
        errno = savedErrno;
        return;
    }
    if (IsDefault(previous, SIG_DFL)) {
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

// Whether a name in a folder is one TemporaryFileName makes: ".NAME.dorvik-XXXXXX.part".
bool IsTemporaryName(const std::string& name) {
    constexpr size_t kUnique = 6;
    const size_t tail = (sizeof kTag - 1) + kUnique + (sizeof kSuffix - 1);
    if (name.size() < 1 + tail || name[0] != '.') return false;
    const size_t tag = name.size() - tail;
    if (name.compare(tag, sizeof kTag - 1, kTag) != 0) return false;
    if (name.compare(name.size() - (sizeof kSuffix - 1), std::string::npos, kSuffix) != 0) return false;
    for (size_t i = tag + sizeof kTag - 1; i < name.size() - (sizeof kSuffix - 1); ++i) {
        if (std::isalnum(static_cast<unsigned char>(name[i])) == 0) return false;
    }
    return true;
}

// A writer holds a lock on its file from the moment the file exists until it is renamed or
// removed, so a temporary name of ours whose file nobody holds was left by a writer that could not
// clean up: killed outright between its link and its rename, or stopped by a power cut. Such names
// go at the next write into their folder. A file is removed only while this process holds its
// lock and only if the name still names it, so a live writer's file is never touched.
void RemoveStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryName(entry->d_name)) continue;
        int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        // A file made for a write-only target may be opened only for writing; that truncates nothing.
        if (fd < 0 && errno == EACCES) {
            fd = ::openat(::dirfd(dir), entry->d_name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }
        if (fd < 0) continue;
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && IsRegular(held) && held.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(::dirfd(dir), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
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

Failure AtomicFile::Open(const std::string& target, Reach reach) {
    const int error = OpenTarget(target, reach);
    return error == 0 ? Failure::None() : Failure::Because(FailureKind::TargetOpen, ErrnoText(error));
}

Failure AtomicFile::Commit() {
    const int error = Finish();
    return error == 0 ? Failure::None() : Failure::Because(FailureKind::Write, ErrnoText(error));
}

int AtomicFile::OpenTarget(const std::string& target, Reach reach) {
    Discard();
    struct stat info {};
    if (reach == Reach::OwnFile && ::lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return ELOOP;
    target_ = ResolveTarget(target);
    const bool exists = ::stat(target_.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) return EISDIR;
    if (exists && !IsRegular(info) && reach != Reach::Anything) return EINVAL;
    if (exists && reach == Reach::OwnFile && info.st_uid != ::geteuid()) return EPERM;
    if (exists && !IsRegular(info)) {
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
    RemoveStaleTemporaries(folder);
    // An unnamed file vanishes with the process however it ends, even by SIGKILL, and nobody
    // else can reach it while it is written.
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    unnamed_ = fd_ >= 0;
    if (fd_ < 0) {
        const int error = errno;
        // Only a file system without unnamed files falls back to a named one.
        if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL) return error;
        if (const int failed = OpenNamed(mode); failed != 0) return failed;
    } else {
        // Nobody else can reach an unnamed file: the lock is there for the moment it has a name.
        (void)::flock(fd_, LOCK_EX);
    }
    // The creation mode passed through the umask; a replaced file keeps exactly its own.
    if (keepMode) ::fchmod(fd_, static_cast<mode_t>(mode));
    return 0;
}

// The named temporary, for file systems without unnamed files. It is known to the signal handler
// from before it exists, and marked as moving until it does, so that a handler neither misses it
// nor removes a stranger's file that happened to hold the name.
int AtomicFile::OpenNamed(int mode) {
    const HeldSignals held;
    for (int attempt = 0;; ++attempt) {
        const std::string path = folder_ + "/" + TemporaryFileName(NameOf(target_), UniquePart());
        const int slot = Publish(path, kMoving);
        if (ending.load()) {
            Withdraw(slot);
            return EINTR;
        }
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        // Another writer's clean-up may have found the file before it was locked and removed it;
        // a file that lost its name is given up for a new one. A file system without locks
        // refuses them to the clean-up as well, so the file is kept all the same.
        struct stat info {};
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0 && ::fstat(fd_, &info) == 0 && info.st_nlink == 0) {
            ::close(fd_);
            fd_ = -1;
            Withdraw(slot);
            if (attempt == 100) return ENOENT;
            continue;
        }
        if (fd_ >= 0) {
            temporaryPath_ = path;
            slot_ = slot;
            (void)Move(slot, kMoving, kNamed);
            return 0;
        }
        const int error = errno;
        Withdraw(slot);
        if (error != EEXIST || attempt == 100) return error;
    }
}

// Gives the unnamed file a temporary name beside the target and renames it over the target at
// once: a link cannot replace a file, so the name has to exist for that moment. Only the two
// system calls lie between the link and the rename, and nothing may fail between them, so a
// process killed outright is as unlikely as can be to leave the name behind; SIGINT and SIGTERM
// wait on this thread, and their handler on any other waits for the rename.
int AtomicFile::LinkIntoPlace(int fd) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const HeldSignals held;
    for (int attempt = 0;; ++attempt) {
        const std::string path = folder_ + "/" + TemporaryFileName(NameOf(target_), UniquePart());
        const int slot = Publish(path, kMoving);
        if (ending.load()) {
            Withdraw(slot);
            return EINTR;
        }
        int linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
        // Without /proc, AT_EMPTY_PATH is the way; it needs a privilege most users lack.
        if (linked != 0 && errno == ENOENT) linked = ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH);
        if (linked == 0) {
            const int error = ::rename(path.c_str(), target_.c_str()) == 0 ? 0 : errno;
            if (error != 0) ::unlink(path.c_str());
            Withdraw(slot);
            return error;
        }
        const int error = errno;
        Withdraw(slot);
        if (error != EEXIST || attempt == 100) return error;
    }
}

int AtomicFile::Finish() {
    if (fd_ < 0) return EBADF;
    if (direct_) {
        const int result = ::close(fd_) == 0 ? 0 : errno;
        fd_ = -1;
        direct_ = false;
        return result;
    }
    // A file system may report a failed write-back only when the file is closed, so the file is
    // closed before it takes the target's place. A second descriptor keeps the file's lock until
    // it is renamed, and gives an unnamed file something to be linked by.
    int error = 0;
    const int keep = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (keep < 0) error = errno;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && unnamed_) {
        error = LinkIntoPlace(keep);
    } else if (error == 0) {
        const HeldSignals held;
        // A handler that removed the file meanwhile leaves nothing to rename.
        if (!Move(slot_, kNamed, kMoving)) {
            error = ENOENT;
        } else if (ending.load()) {
            error = EINTR;
        } else if (::rename(temporaryPath_.c_str(), target_.c_str()) != 0) {
            error = errno;
        }
        if (error != 0) ::unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
        Withdraw(slot_);
        slot_ = -1;
    }
    if (keep >= 0) ::close(keep);
    Discard();
    return error;
}

void AtomicFile::Discard() {
    // The name goes while the lock is still held, so that no clean-up can take it for stale.
    if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    Withdraw(slot_);
    slot_ = -1;
    temporaryPath_.clear();
    unnamed_ = false;
    direct_ = false;
}

}  // namespace platform
