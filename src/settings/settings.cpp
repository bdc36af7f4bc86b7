// Index:
// - settings folder lookup
// - reading and parsing the settings file
// - writing the settings file
// - display names

#include "settings/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderName = "Dorvik Midi Player";
constexpr const char* kFileName = "settings.ini";
constexpr std::string_view kKey = "[Soundfont]";
constexpr std::string_view kSeparator = "= ";

// The program writes one short line. Anything far beyond that is not a file it wrote, and is
// treated as unreadable rather than pulled into memory whole.
constexpr size_t kMaxSettingsBytes = size_t{1} << 20;

}  // namespace

// --- Settings folder lookup ---

namespace {

bool IsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// "/home/a/" and "/home/a" name the same folder; dropping the slashes keeps the joined path tidy.
// The root itself becomes "", so that joining gives "/Dorvik Midi Player" rather than "//...".
std::string WithoutTrailingSlashes(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

// The home folder from the user database, for sessions started without $HOME (services, some
// sudo set-ups). "" when there is no entry.
std::string PasswdHome() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (size_t{1} << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || found == nullptr || !IsAbsolute(found->pw_dir)) return {};
        return found->pw_dir;
    }
}

// Where per-user configuration lives. Relative values are ignored, as the base-directory
// convention asks: they would name a different folder in every working directory. "" when the
// user has no home at all.
std::string ConfigBase() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); IsAbsolute(xdg)) return WithoutTrailingSlashes(xdg);
    if (const char* home = std::getenv("HOME"); IsAbsolute(home)) {
        return WithoutTrailingSlashes(home) + "/.config";
    }
    if (std::string home = PasswdHome(); !home.empty()) return WithoutTrailingSlashes(home) + "/.config";
    return {};
}

// A folder no other user can have prepared: a real folder (not a link), this user's, and closed
// to everyone else. Made with those permissions when it is not there yet.
bool PrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

// Without a home, the settings go into a private folder for this user: inside the session's
// runtime folder, or else one of the user's own in /tmp. A folder that another user has made, or
// that is open to others, is never used; the program then runs without settings.
std::string PrivateFallback() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); IsAbsolute(runtime)) {
        const std::string base = WithoutTrailingSlashes(runtime);
        struct stat info {};
        if (lstat(base.empty() ? "/" : base.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
            info.st_uid == geteuid() && (info.st_mode & 077) == 0) {
            const std::string folder = base + "/" + kFolderName;
            if (PrivateFolder(folder)) return folder;
        }
    }
    const std::string folder = "/tmp/" + std::string(kFolderName) + " " + std::to_string(geteuid());
    if (PrivateFolder(folder)) return folder;
    static bool told = false;
    if (!told) {
        std::fprintf(stderr, "%s: no private folder for the settings; running without them\n", kFolderName);
        told = true;
    }
    return {};
}

}  // namespace

std::string SettingsFolder() {
    const std::string base = ConfigBase();
    if (base.empty()) return PrivateFallback();
    const std::string folder = base + "/" + kFolderName;
    // Errors are dropped on purpose: a missing folder, or a file in its place, shows up as a
    // failure of the file operations in it, which every caller already handles.
    std::error_code error;
    fs::create_directories(folder, error);
    return folder;
}

std::string SettingsFilePath() {
    const std::string folder = SettingsFolder();
    return folder.empty() ? std::string() : folder + "/" + kFileName;
}

// --- Reading and parsing the settings file ---

namespace {

// The whole file behind fd, or false when it is not a regular file, cannot be read or is too
// large to be a settings file.
bool ReadAll(int fd, std::string& text) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        text.append(chunk, static_cast<size_t>(got));
        if (text.size() > kMaxSettingsBytes) return false;
    }
}

}  // namespace

void ParseSettingsText(SessionState& state, const char* data, size_t size) {
    std::string_view rest(data, size);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        const size_t separator = line.find(kSeparator);
        if (separator == std::string_view::npos) continue;
        // The key may sit anywhere on the line, even after the separator.
        if (line.find(kKey) == std::string_view::npos) continue;
        state.soundFontPath.assign(line.substr(separator + kSeparator.size()));
        state.soundFontName = FileTitleFromPath(state.soundFontPath);
    }
}

void ReadSettings(SessionState& state, const std::string& defaultSoundFont) {
    const std::string path = SettingsFilePath();
    // Without a settings folder, every run is a first run.
    if (path.empty()) errno = ENOENT;
    // O_NONBLOCK so that a pipe sitting in the file's place cannot hang start-up; ReadAll then
    // refuses it as not a regular file.
    const int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        // Only a first run (no file at all) falls back to the system SoundFont. A file that is
        // there but unreadable means the user's choice is unknown, and it is not overridden.
        std::error_code error;
        if (errno == ENOENT && !defaultSoundFont.empty() && fs::is_regular_file(defaultSoundFont, error)) {
            state.soundFontPath = defaultSoundFont;
            state.soundFontName = FileTitleFromPath(defaultSoundFont);
        }
        return;
    }
    std::string text;
    const bool complete = ReadAll(fd, text);
    close(fd);
    if (complete) ParseSettingsText(state, text.data(), text.size());
}

// --- Writing the settings file ---

namespace {

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = write(fd, text.data(), text.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        text.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

// A settings file that is a link (kept with the user's other dotfiles, say) is replaced where it
// points, so the link survives the write.
std::string ResolveLink(const std::string& path) {
    std::error_code error;
    if (!fs::is_symlink(path, error)) return path;
    const fs::path target = fs::canonical(path, error);
    return error ? path : target.string();
}

}  // namespace

bool WriteSettings(const SessionState& state) {
    const std::string& soundFont = state.soundFontPath;
    // A line feed inside the path would split it over two lines, and a carriage return at its end
    // would be taken for a CRLF line end: either would read back as a different path. Such a path
    // is not stored, and the previous settings stay.
    if (soundFont.find('\n') != std::string::npos || (!soundFont.empty() && soundFont.back() == '\r')) {
        return false;
    }
    const std::string text = "[Soundfont] = " + soundFont + "\n";

    // Write a temporary file beside the real one and rename it into place: the rename is atomic,
    // so readers see either the old file or the complete new one, never a torn one.
    const std::string path = SettingsFilePath();
    if (path.empty()) return false;
    const std::string target = ResolveLink(path);
    std::string temporary = target + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // mkostemp makes the file private; give it the permissions any new file of the user gets.
    const mode_t mask = umask(0);
    umask(mask);
    bool written = fchmod(fd, 0666 & ~mask) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (written && std::rename(temporary.c_str(), target.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}
