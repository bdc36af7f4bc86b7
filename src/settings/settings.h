// settings/: what is kept between runs, and where: the settings folder and file, and the cache
// folder the rendered songs go to.
//
// The settings kept between runs, the SoundFont last in use and the playback volume, and the
// per-user settings folder they live in. A setting is written when it changes (a SoundFont has
// loaded, the volume slider was let go), never at exit: a second window that closes must not put
// back an older choice made before another window's. For the same reason a change is written by
// UpdateSettings, which reads the file as it is now and changes only that one setting in it.
//
// The settings file, "settings.ini" in the settings folder, is UTF-8 text. The program writes
// "[Soundfont] = <path>" and "[Volume] = <percent>", and, once play-along has been set up,
// "[Keyboard] = <input>" and "[Keys volume] = <percent>", and the video lines below. On reading:
// - every line that holds "= " and, anywhere, "[Soundfont]" names the SoundFont: the path is
//   everything after the first "= ". This is the rule the first versions read by, so a line they
//   took for the SoundFont is still taken for it, and the volume line is one they ignore.
// - a line without "[Soundfont]" whose text before the first "= " is "[Volume]" (blanks around it
//   allowed) sets the volume: a number, optionally followed by "%", rounded to a whole percent and
//   clamped to 0..100. A value that is not a number leaves the volume as it was.
// - "[Keyboard]" and "[Keys volume]" are read as the volume is, by the text before "= "; the
//   keyboard's value is taken as it stands.
// - "[VideoSize]", "[VideoRate]", "[VideoView]" and "[VideoQuality]" (the same way as the volume)
//   are the last video export's choices: "1600x900" (both even, 2 to 7680), "30" or "60",
//   "full" or "window", "standard", "high" or "maximum". A value outside those leaves the choice
//   as it was. The four lines are written only once a video has been exported, so that a file
//   of a user who never has keeps its two lines.
// - "[MIDI folder]", "[SoundFont folder]", "[Export folder]", "[Video folder]" and "[Take folder]" (read
//   as the keyboard is) are the folders the file dialogs of each kind were last left in, so that
//   each opens there in the next run too; written only once set.
// - "[Memory limit]" (read as the volume is) is the memory a song may take once read: "2G",
//   "1500M" or a count of bytes; set by hand, and kept as a count of bytes when the file is
//   written. Without it, a quarter of the machine's memory.
// - "[Voice limit]" (read as the volume is) is how many voices a render sounds at once, a whole
//   number from 1 to 65535; another value leaves it unset. Set by hand; without it, each render
//   takes its own default.
// - "[Score]" is "shown" or "hidden": whether the sheet music stands above the falling notes.
//   Any other value leaves it as it was; the line is written only once the score has been shown.
// - "[Sound output]" (read as the keyboard is) is the MIDI instrument the song is played on, by
//   its device name; without it the song sounds through the SoundFont. "[Output delay]" is that
//   instrument's own delay in whole milliseconds, 0 to kMaxOutputDelayMs; another value leaves it
//   as it was. Each is written only once set.
// A later line wins over an earlier one of its kind; all other lines are ignored, so a
// hand-edited file with comments still reads, and a file without a volume line plays at 100%.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/atomic_file.h"

inline constexpr int kFullVolume = 100;  // percent: the rendered song exactly as it was rendered

// The largest side of a video frame: beyond it a single frame would take gigabytes.
inline constexpr int kLargestVideoSide = 7680;

// What the last video export was asked for; the next one's dialog starts from it.
struct VideoChoices {
    int width = 1920;  // even, 2..kLargestVideoSide
    int height = 1080;
    int fps = 60;              // 30 or 60
    bool wholeWindow = false;  // the whole window rather than the notes alone
    int quality = 0;           // 0 standard, 1 high, 2 maximum
    bool score = false;        // the sheet music above the falling notes

    bool operator==(const VideoChoices&) const = default;
};

// The kinds of file dialog, each of which reopens in the folder it was last left in.
enum class FolderKind : int { Midi, SoundFont, Export, Video, Take, Count };
inline constexpr int kFolderKinds = static_cast<int>(FolderKind::Count);

// What is kept between runs.
struct Settings {
    std::string soundFontPath;        // the SoundFont last loaded; "" for none
    int volumePercent = kFullVolume;  // playback volume, 0..100; exports and renders ignore it
    // Playing along: the keyboard chosen ("" for the first one found, kComputerKeyboardInput for
    // the computer's own) and the player's keys' volume, 0..100.
    std::string midiInput;
    int keysVolumePercent = kFullVolume;
    std::optional<VideoChoices> video = std::nullopt;  // none until a video has been exported
    std::string folders[kFolderKinds];                 // by FolderKind; "" until a dialog was used
    int64_t memoryLimitBytes = 0;                      // the memory a song may take; 0: the default
    int voiceLimit = 0;                                // voices a render sounds at once; 0: the default
    std::optional<bool> scoreShown = std::nullopt;     // the score strip; none until it was first shown
    // The MIDI output the song sounds on, by its device name ("" for the SoundFont), and the
    // instrument's own delay the song is sent ahead by, in milliseconds.
    std::string soundOutput;
    int outputDelayMs = 0;

    [[nodiscard]] const std::string& Folder(FolderKind kind) const { return folders[static_cast<int>(kind)]; }
    std::string& Folder(FolderKind kind) { return folders[static_cast<int>(kind)]; }
};

// The longest delay an instrument may be given: more would be felt as a late answer to the keys.
inline constexpr int kMaxOutputDelayMs = 500;

// The choice of the computer keyboard over any MIDI keyboard, as the settings file keeps it.
inline constexpr const char* kComputerKeyboardInput = "computer keyboard";

// The system's General MIDI SoundFont, used when there is no settings file yet (a first run).
inline constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";

// "$XDG_CONFIG_HOME/Dorvik Midi Player" (or "~/.config/..." when that is unset or not absolute),
// with no trailing slash. Creates the folder and any missing parents. A path is returned even
// when the folder cannot be created or something that is not a folder holds its name: the file
// operations in it then fail on their own.
//
// A user without any home gets a private folder instead: "Dorvik Midi Player" in
// $XDG_RUNTIME_DIR, or "/tmp/Dorvik Midi Player <user id>", made with mode 0700 and used only
// while it is a real folder of this user's that no one else can open. Failing that the result is
// "" and the program runs without settings, which it says once on standard error.
[[nodiscard]] std::string SettingsFolder();

[[nodiscard]] std::string SettingsFilePath();  // SettingsFolder() + "/settings.ini", or ""

// Where rendered songs go: "$XDG_CACHE_HOME/dorvik-midi-player" (or "~/.cache/..."), made with
// mode 0700, and never the settings folder: a rendered song is hundreds of megabytes that no
// backup of the settings wants. When that cannot be used (no home, or a home that cannot be
// written to), the private fallback: "dorvik-midi-player" in $XDG_RUNTIME_DIR, or
// "/tmp/dorvik-midi-player-<user id>". Only a real folder of this user's that no one else can
// open is used; "" when there is none.
[[nodiscard]] std::string CacheFolder();

// Where what the player keeps of the user's own work goes (what it remembers of each song):
// "$XDG_DATA_HOME/dorvik-midi-player" (or "~/.local/share/..."), made with mode 0700; "" when
// there is no such folder of this user's, and then nothing is remembered. Without `make` nothing is
// made: "" unless the folder is already there.
[[nodiscard]] std::string DataFolder(bool make = true);

// Replaces the file at `path` (through a link, the file it points to, unless `reach` forbids
// links) with one holding `text`: the new file is complete and on disk before it takes the old
// one's place, so a crash or a full disk leaves the old one. Only a regular file is ever
// replaced. False, quietly, when nothing was written.
[[nodiscard]] bool ReplaceFileWithText(
    const std::string& path, const std::string& text,
    platform::AtomicFile::Reach reach = platform::AtomicFile::Reach::RegularFile);

// Applies the settings text data[0..size) to `settings`. Safe on any bytes; CRLF line ends read
// the same as LF.
void ParseSettingsText(Settings& settings, const char* data, size_t size);

// Reads the settings file. When there is no settings file at all, the SoundFont is
// defaultSoundFont, provided that file exists. A settings file that cannot be read gives no
// SoundFont.
[[nodiscard]] Settings ReadSettings(const std::string& defaultSoundFont = kDefaultSoundFont);

// Why the settings file cannot be used, naming it: something else in its place (a folder, a pipe)
// or a file that cannot be read. Nothing is then read from it and no setting is kept, which the
// user has to be told once rather than find out later. "" when there is a usable file or none.
[[nodiscard]] std::string SettingsFileProblem();

// Replaces the settings file with one holding all of `settings`. The new file is complete before it
// takes the old one's place, so a crash or a full disk leaves the previous settings intact. Returns
// false, quietly, when nothing was written.
[[nodiscard]] bool WriteSettings(const Settings& settings);

// Reads the settings file as it is now (as ReadSettings does, so a first run starts from the
// default SoundFont), lets `change` set what changed, and writes the whole record back: every
// setting the change leaves alone keeps the value the file has, even one another window wrote
// since this one started. A file that is there but cannot be read is not replaced, since what it
// holds would be lost; false then, and whenever WriteSettings fails. The first failure of a
// process is said on standard error, naming the file; callers need not say it again.
[[nodiscard]] bool UpdateSettings(const std::function<void(Settings&)>& change,
                                  const std::string& defaultSoundFont = kDefaultSoundFont);
