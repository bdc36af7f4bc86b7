// settings/: what is kept between runs, and where: the settings folder and file, and the
// display names of files.
//
// The one setting kept between runs, the SoundFont last in use, and the per-user settings folder
// it lives in (the renderer writes its output WAV there too). Also home of the display-name rule
// that turns a file path into the name shown on screen.
//
// The settings file, "settings.ini" in the settings folder, is UTF-8 text. The program writes
// exactly one line, "[Soundfont] = <path>". On reading, every line that holds "= " and, anywhere,
// "[Soundfont]" names the SoundFont: the path is everything after the first "= ". A later such
// line wins; all other lines are ignored, so a hand-edited file with comments still reads.
#pragma once

#include <cstddef>
#include <string>

#include "core/file_access.h"  // FileTitleFromPath, for the names shown
#include "core/session_state.h"

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

// Applies the settings text data[0..size) to state (soundFontPath and soundFontName). Safe on
// any bytes; CRLF line ends read the same as LF.
void ParseSettingsText(SessionState& state, const char* data, size_t size);

// Reads the settings file into state. When there is no settings file at all, the SoundFont is
// defaultSoundFont, provided that file exists. A settings file that cannot be read leaves state
// as it was: no SoundFont, at start-up.
void ReadSettings(SessionState& state, const std::string& defaultSoundFont = kDefaultSoundFont);

// Replaces the settings file with one naming state.soundFontPath. The new file is complete before
// it takes the old one's place, so a crash or a full disk leaves the previous settings intact.
// Returns false, quietly, when nothing was written; the program exits regardless.
bool WriteSettings(const SessionState& state);
