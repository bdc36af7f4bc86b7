// The window's session: what the controller knows of the SoundFont, the song and its sound, the
// play state, and the one command a press leaves for the next frame. Only app/ (and the command
// line above it) may see it: the panels draw from snapshots the controller makes of it, and the
// rooms below take and return typed values.
//
// User-interface elements never act on playback themselves: the controller turns what they ask
// for into a Command, which runs at the start of the next frame. The play state is the
// transport's (app/transport.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/practice_session.h"
#include "app/song_session.h"
#include "core/audio_overview.h"
#include "core/failure.h"
#include "core/song_data.h"
#include "resources/strings.h"

namespace platform {
class Dialogs;
}

// What the next frame does. Seek only records that a seek happened (the time bar has performed it).
enum class Command : uint8_t {
    None,
    Play,
    Pause,
    Stop,
    Seek,
    Rewind,
    PreparePlayback,  // a render has finished: open its sound for playing
    ExportAudio,      // the save dialog, then the export job
    ExportRunning,    // held while an audio export job runs; the frame only polls it
    ExportVideo,      // the save dialog, then a video export job beside the frame loop
};

// refreshBits: the stop button sets all eight low bits; each consumer takes (clears) its own.
enum RefreshBit : uint16_t {
    RefreshNotesView = 0x0001,     // the notes view forgets its lit keys
    RefreshSongTimeZero = 0x0008,  // while idle, the frame shows song time 0 in all panels
    RefreshAll = 0x00FF,
};

// The availability words of the two formats this program always writes itself: any non-zero word
// offers a format, and these are the words the export dialog has always been given for them.
inline constexpr uint16_t kWavAvailable = 0x00FF;
inline constexpr uint16_t kOggAvailable = 0x0003;

// The audio export formats that have an availability word: WAV, FLAC, ALAC, AAC, Ogg Vorbis and
// MP3, in that order (export/export_format.h names them).
inline constexpr size_t ExportFormatCount = 6;

struct SessionState {
    platform::Dialogs* dialogs = nullptr;  // owner of message boxes and file dialogs; not owned

    std::string soundFontPath;  // read from and written to the settings file
    int volumePercent = 100;    // playback volume, 0..100; read from and written to the settings file
    std::string soundFontName;  // display name: file name without folder and extension
    bool soundFontLoaded = false;

    std::string midiPath;
    std::string midiName;  // display name, formed like soundFontName

    SongSession session;  // where the song stands: read, rendering, ready to play
    // What the player does with it: the loop, the speed and parts heard, and playing along.
    PracticeSession practice;
    PlayAlongSession playAlong;

    std::string outputWavPath;  // the rendered WAV: this player's own file in the cache

    AudioOverview overview;  // of the rendered WAV, once it has been read

    // Availability words, indexed by ExportFormat: 0 hides the format in the export dialog.
    // WAV and Ogg Vorbis are always there; the encoder probe fills the others at start-up.
    std::array<uint16_t, ExportFormatCount> exportFormatFlags{kWavAvailable, 0, 0, 0, kOggAvailable, 0};

    std::unique_ptr<SongData> song;  // the parsed song; replaced by each MIDI load

    // Where the song should wait once its next render is ready, in seconds; negative: at the start.
    // A SoundFont change re-renders the song and keeps the place this way.
    double resumeAt = -1.0;

    uint16_t refreshBits = 0;
    Command command = Command::None;

    // Posts a command from a user-interface element. Elements may post only while nothing is
    // pending, so a press during the count-in, for example, is dropped. Returns whether it was taken.
    bool Post(Command code) {
        if (command != Command::None) return false;
        command = code;
        return true;
    }
};

// The window's one way of telling the user that something failed: the error box, or standard
// error when there are no dialogs, so that it is never lost. A cancel was the user's own doing and
// says nothing. The caption defaults to "Error".
void Report(SessionState& state, const Failure& failure, const char* caption = nullptr);
void Report(SessionState& state, const std::string& text, const char* caption = nullptr);

// Report with string-table texts.
void ShowErrorBox(SessionState& state, res::StringId textId, res::StringId captionId);
