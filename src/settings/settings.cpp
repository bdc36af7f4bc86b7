// Index:
// - settings folder lookup
// - reading and parsing the settings file
// - writing the settings file

#include "settings/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/file_access.h"
#include "core/memory_limit.h"
#include "core/voice_limit.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderName = "Dorvik Midi Player";
constexpr const char* kCacheName = "dorvik-midi-player";
constexpr const char* kFileName = "settings.ini";
constexpr std::string_view kKey = "[Soundfont]";
constexpr std::string_view kVolumeKey = "[Volume]";
constexpr std::string_view kKeyboardKey = "[Keyboard]";
constexpr std::string_view kKeysVolumeKey = "[Keys volume]";
constexpr std::string_view kMemoryLimitKey = "[Memory limit]";
constexpr std::string_view kVoiceLimitKey = "[Voice limit]";
constexpr std::string_view kScoreKey = "[Score]";
constexpr std::string_view kSoundOutputKey = "[Sound output]";
constexpr std::string_view kOutputDelayKey = "[Output delay]";
// By FolderKind.
constexpr std::string_view kFolderKeys[kFolderKinds] = {"[MIDI folder]", "[SoundFont folder]",
                                                        "[Export folder]", "[Video folder]", "[Take folder]"};
constexpr std::string_view kVideoSizeKey = "[VideoSize]";
constexpr std::string_view kVideoRateKey = "[VideoRate]";
constexpr std::string_view kVideoViewKey = "[VideoView]";
constexpr std::string_view kVideoQualityKey = "[VideoQuality]";
constexpr std::string_view kVideoScoreKey = "[VideoScore]";
constexpr const char* kQualityWords[] = {"standard", "high", "maximum"};
constexpr std::string_view kSeparator = "= ";

// The program writes two short lines. Anything far beyond that is not a file it wrote, and is
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

// The user's base folder of a kind (configuration, cache, data): $`variable`, or `homeSuffix`
// under the home ($HOME, or the user database's entry). Relative values are ignored, as the
// base-directory convention asks: they would name a different folder in every working directory.
// "" when the user has no home at all.
std::string XdgBaseFolder(const char* variable, const char* homeSuffix) {
    if (const char* xdg = std::getenv(variable); IsAbsolute(xdg)) return WithoutTrailingSlashes(xdg);
    if (const char* home = std::getenv("HOME"); IsAbsolute(home))
        return WithoutTrailingSlashes(home) + homeSuffix;
    if (std::string home = PasswdHome(); !home.empty()) return WithoutTrailingSlashes(home) + homeSuffix;
    return {};
}

// A folder no other user can have prepared: a real folder (not a link), this user's, and closed
// to everyone else. Made with those permissions when it is not there yet.
bool IsPrivateFolder(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

bool PrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return IsPrivateFolder(path);
}

// `name` inside the session's runtime folder, when that folder is this user's alone and the
// private folder can be made there; "" otherwise.
std::string InPrivateRuntimeFolder(const char* name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!IsAbsolute(runtime)) return {};
    const std::string base = WithoutTrailingSlashes(runtime);
    struct stat info {};
    if (lstat(base.empty() ? "/" : base.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
        return {};
    }
    const std::string folder = base + "/" + name;
    return PrivateFolder(folder) ? folder : std::string();
}

// Without a home, the settings go into a private folder for this user: inside the session's
// runtime folder, or else one of the user's own in /tmp. A folder that another user has made, or
// that is open to others, is never used; the program then runs without settings.
std::string PrivateFallback() {
    if (std::string folder = InPrivateRuntimeFolder(kFolderName); !folder.empty()) return folder;
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
    const std::string base = XdgBaseFolder("XDG_CONFIG_HOME", "/.config");
    if (base.empty()) return PrivateFallback();
    const std::string folder = base + "/" + kFolderName;
    // Errors are dropped on purpose: a missing folder, or a file in its place, shows up as a
    // failure of the file operations in it, which every caller already handles.
    std::error_code error;
    fs::create_directories(folder, error);
    // A home that cannot be written to (a service account's) still runs the program; the user is
    // told once that choices will not outlive the run.
    static bool told = false;
    if (!told && access(folder.c_str(), W_OK) != 0) {
        std::fprintf(stderr, "%s: settings cannot be kept in %s (%s); running without saving them\n",
                     kFolderName, folder.c_str(), std::strerror(errno));
        told = true;
    }
    return folder;
}

std::string CacheFolder() {
    if (const std::string base = XdgBaseFolder("XDG_CACHE_HOME", "/.cache"); !base.empty()) {
        std::error_code error;
        fs::create_directories(base, error);
        const std::string folder = base + "/" + kCacheName;
        if (PrivateFolder(folder)) return folder;
    }
    // A home that cannot be written to (a service user's, say) still lets songs load.
    if (std::string folder = InPrivateRuntimeFolder(kCacheName); !folder.empty()) return folder;
    const std::string folder = "/tmp/" + std::string(kCacheName) + "-" + std::to_string(geteuid());
    return PrivateFolder(folder) ? folder : std::string();
}

std::string DataFolder(bool make) {
    const std::string base = XdgBaseFolder("XDG_DATA_HOME", "/.local/share");
    if (base.empty()) return {};
    const std::string folder = base + "/" + kCacheName;
    // Only looked for without `make`: nothing is made in a home that has nothing of the player's yet.
    if (!make) return IsPrivateFolder(folder) ? folder : std::string();
    std::error_code error;
    fs::create_directories(base, error);
    return PrivateFolder(folder) ? folder : std::string();
}

std::string SettingsFilePath() {
    const std::string folder = SettingsFolder();
    return folder.empty() ? std::string() : folder + "/" + kFileName;
}

// --- Reading and parsing the settings file ---

namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A volume as the file gives it: "80", " 80 %", "+80", "72.5"; out of range is clamped. False for
// anything that is not a finite number, so a damaged line leaves the volume alone.
bool ParseVolume(std::string_view text, int& percent) {
    text = TrimBlanks(text);
    if (!text.empty() && text.back() == '%') text = TrimBlanks(text.substr(0, text.size() - 1));
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
    percent = static_cast<int>(std::lround(std::clamp(value, 0.0, static_cast<double>(kFullVolume))));
    return true;
}

// A whole number of at most four digits, as a frame's side or rate is written.
bool ParseSmallNumber(std::string_view text, int& value) {
    if (text.empty() || text.size() > 4) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// One video line's value applied to `video`; a value the choice cannot take leaves it alone.
void ParseVideoLine(std::string_view key, std::string_view text, VideoChoices& video) {
    text = TrimBlanks(text);
    if (key == kVideoSizeKey) {
        const size_t x = text.find('x');
        int w = 0, h = 0;
        if (x == std::string_view::npos || !ParseSmallNumber(TrimBlanks(text.substr(0, x)), w) ||
            !ParseSmallNumber(TrimBlanks(text.substr(x + 1)), h))
            return;
        // 4:2:0 video needs even sides.
        if (w < 2 || h < 2 || w > kLargestVideoSide || h > kLargestVideoSide || w % 2 != 0 || h % 2 != 0)
            return;
        video.width = w;
        video.height = h;
    } else if (key == kVideoRateKey) {
        int fps = 0;
        if (ParseSmallNumber(text, fps) && (fps == 30 || fps == 60)) video.fps = fps;
    } else if (key == kVideoViewKey) {
        if (text == "full" || text == "window") video.wholeWindow = text == "window";
    } else if (key == kVideoQualityKey) {
        for (int level = 0; level < 3; ++level) {
            if (text == kQualityWords[level]) video.quality = level;
        }
    } else if (key == kVideoScoreKey) {
        if (text == "shown" || text == "hidden") video.score = text == "shown";
    }
}

// Everything a first run, or a run without a settings folder, starts from.
Settings FirstRunSettings(const std::string& defaultSoundFont) {
    Settings settings;
    std::error_code error;
    if (!defaultSoundFont.empty() && fs::is_regular_file(defaultSoundFont, error)) {
        settings.soundFontPath = defaultSoundFont;
    }
    return settings;
}

// The settings as the file holds them. False when the file is there but cannot be read: what it
// holds is then unknown, and `settings` stays as the default Settings.
bool ReadSettingsFile(Settings& settings, const std::string& defaultSoundFont) {
    settings = Settings{};
    // Without a settings folder, every run is a first run.
    const std::string path = SettingsFilePath();
    struct stat info {};
    if (path.empty() || (stat(path.c_str(), &info) != 0 && errno == ENOENT)) {
        // Only a first run (no file at all) falls back to the system SoundFont. A file that is
        // there but unreadable means the user's choice is unknown, and it is not overridden.
        settings = FirstRunSettings(defaultSoundFont);
        return true;
    }
    // A pipe sitting in the file's place is refused, never waited on.
    std::vector<uint8_t> bytes;
    if (!ReadRegularFile(path, kMaxSettingsBytes, bytes).Ok()) return false;
    ParseSettingsText(settings, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

void ParseSettingsText(Settings& settings, const char* data, size_t size) {
    std::string_view rest(data, size);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        const size_t separator = line.find(kSeparator);
        if (separator == std::string_view::npos) continue;
        const std::string_view value = line.substr(separator + kSeparator.size());
        // The key may sit anywhere on the line, even after the separator.
        if (line.find(kKey) != std::string_view::npos) {
            settings.soundFontPath.assign(value);
        } else if (const std::string_view key = TrimBlanks(line.substr(0, separator)); key == kVolumeKey) {
            (void)ParseVolume(value, settings.volumePercent);
        } else if (key == kKeysVolumeKey) {
            (void)ParseVolume(value, settings.keysVolumePercent);
        } else if (key == kKeyboardKey) {
            settings.midiInput.assign(value);
        } else if (key == kMemoryLimitKey) {
            int64_t bytes = 0;
            if (ParseMemorySize(std::string(TrimBlanks(value)), bytes)) settings.memoryLimitBytes = bytes;
        } else if (key == kVoiceLimitKey) {
            (void)ParseVoiceLimit(std::string(TrimBlanks(value)), settings.voiceLimit);
        } else if (key == kScoreKey) {
            const std::string_view word = TrimBlanks(value);
            if (word == "shown" || word == "hidden") settings.scoreShown = word == "shown";
        } else if (key == kSoundOutputKey) {
            settings.soundOutput.assign(value);
        } else if (key == kOutputDelayKey) {
            int delay = 0;
            if (ParseSmallNumber(TrimBlanks(value), delay) && delay <= kMaxOutputDelayMs)
                settings.outputDelayMs = delay;
        } else if (const auto* folder = std::find(std::begin(kFolderKeys), std::end(kFolderKeys), key);
                   folder != std::end(kFolderKeys)) {
            settings.folders[folder - std::begin(kFolderKeys)].assign(value);
        } else if (key == kVideoSizeKey || key == kVideoRateKey || key == kVideoViewKey ||
                   key == kVideoQualityKey || key == kVideoScoreKey) {
            if (!settings.video) settings.video.emplace();
            ParseVideoLine(key, value, *settings.video);
        }
    }
}

Settings ReadSettings(const std::string& defaultSoundFont) {
    Settings settings;
    (void)ReadSettingsFile(settings, defaultSoundFont);
    return settings;
}

std::string SettingsFileProblem() {
    const std::string path = SettingsFilePath();
    struct stat info {};
    if (path.empty() || (stat(path.c_str(), &info) != 0 && errno == ENOENT)) return {};
    const char* why = nullptr;
    if (S_ISDIR(info.st_mode)) {
        why = "it is a folder";
    } else if (!IsRegularFile(info)) {
        why = "it is not a file (a pipe or a device)";
    } else if (access(path.c_str(), R_OK) != 0) {
        why = std::strerror(errno);
    } else {
        return {};
    }
    return "The settings file \"" + path + "\" cannot be used: " + why +
           ". Settings are not read from it, and no setting chosen now will be kept.";
}

// --- Writing the settings file ---

bool WriteSettings(const Settings& settings) {
    const std::string& soundFont = settings.soundFontPath;
    // A line feed inside the path would split it over two lines, and a carriage return at its end
    // would be taken for a CRLF line end: either would read back as a different path. Such a path
    // is not stored, and the previous settings stay.
    if (soundFont.find('\n') != std::string::npos || (!soundFont.empty() && soundFont.back() == '\r')) {
        return false;
    }
    const int volume = std::clamp(settings.volumePercent, 0, kFullVolume);
    std::string text = "[Soundfont] = " + soundFont + "\n[Volume] = " + std::to_string(volume) + "\n";
    // A keyboard's name that would read back as something else (over two lines, or as the
    // SoundFont's line) is not kept: the first keyboard found is chosen again instead.
    const std::string& input = settings.midiInput;
    if (!input.empty() && input.find_first_of("\r\n") == std::string::npos &&
        input.find(kKey) == std::string::npos)
        text += "[Keyboard] = " + input + "\n";
    if (settings.keysVolumePercent != kFullVolume)
        text += "[Keys volume] = " + std::to_string(std::clamp(settings.keysVolumePercent, 0, kFullVolume)) +
                "\n";
    // Set only by hand: kept as a byte count, which reads back exactly.
    if (settings.memoryLimitBytes > 0)
        text += std::string(kMemoryLimitKey) + " = " + std::to_string(settings.memoryLimitBytes) + "\n";
    if (settings.voiceLimit >= kLeastVoiceLimit && settings.voiceLimit <= kMostVoiceLimit)
        text += std::string(kVoiceLimitKey) + " = " + std::to_string(settings.voiceLimit) + "\n";
    if (settings.scoreShown) text += *settings.scoreShown ? "[Score] = shown\n" : "[Score] = hidden\n";
    const std::string& output = settings.soundOutput;
    if (!output.empty() && output.find_first_of("\r\n") == std::string::npos &&
        output.find(kKey) == std::string::npos)
        text += "[Sound output] = " + output + "\n";
    if (settings.outputDelayMs != 0)
        text +=
            "[Output delay] = " + std::to_string(std::clamp(settings.outputDelayMs, 0, kMaxOutputDelayMs)) +
            "\n";
    // A folder's name that would read back as something else is not kept, as a keyboard's is not.
    for (int k = 0; k < kFolderKinds; ++k) {
        const std::string& folder = settings.folders[k];
        if (!folder.empty() && folder.find_first_of("\r\n") == std::string::npos &&
            folder.find(kKey) == std::string::npos)
            text += std::string(kFolderKeys[k]) + " = " + folder + "\n";
    }
    if (const std::optional<VideoChoices>& video = settings.video) {
        char lines[192];
        std::snprintf(lines, sizeof lines,
                      "[VideoSize] = %dx%d\n[VideoRate] = %d\n[VideoView] = %s\n[VideoQuality] = %s\n"
                      "[VideoScore] = %s\n",
                      video->width, video->height, video->fps, video->wholeWindow ? "window" : "full",
                      kQualityWords[std::clamp(video->quality, 0, 2)], video->score ? "shown" : "hidden");
        text += lines;
    }

    const std::string path = SettingsFilePath();
    return !path.empty() && ReplaceFileWithText(path, text);
}

bool ReplaceFileWithText(const std::string& path, const std::string& text,
                         platform::AtomicFile::Reach reach) {
    // The new file takes the old one's place by one rename once it is complete and on disk, so
    // readers see either the old file or the complete new one, never a torn one.
    platform::AtomicFile file;
    if (!file.Open(path, reach).Ok() || file.Direct()) return false;
    if (!WriteAll(file.Fd(), text.data(), text.size()).Ok() || fsync(file.Fd()) != 0) return false;
    return file.Commit().Ok();
}

bool UpdateSettings(const std::function<void(Settings&)>& change, const std::string& defaultSoundFont) {
    Settings settings;
    bool saved = ReadSettingsFile(settings, defaultSoundFont);
    if (saved) {
        change(settings);
        saved = WriteSettings(settings);
    }
    // Every later change would fail the same way: one word is enough.
    static std::atomic<bool> said{false};
    if (!saved && !said.exchange(true)) {
        const std::string problem = SettingsFileProblem();
        std::fprintf(stderr, "%s\n",
                     problem.empty()
                         ? ("A setting could not be saved in \"" + SettingsFilePath() + "\".").c_str()
                         : problem.c_str());
    }
    return saved;
}
