// The state block shared by address between the controller, the panels, the synth renderer, the
// loaders, the exporters and the settings code, together with the play states, the command codes
// and the refresh bits they exchange through it.
//
// User-interface elements never act on playback themselves: they write a command code into
// `command` when it is 0, and the controller executes it at the start of the next frame. The play
// state changes only there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/audio_overview.h"
#include "core/song_data.h"

namespace platform {
class Dialogs;
}
class StreamingPlayer;

enum PlayState : uint16_t {
    Idle = 0,     // nothing has been played yet
    Playing = 1,  // audio running, or the one-second count-in before it
    Paused = 2,   // audio stopped in place
    Stopped = 4,  // audio stopped and rewound; song time -1
};

// Codes 1, 2, 6, 11 and anything above 13 have no execution: the next frame simply clears them.
enum CommandCode : uint16_t {
    CmdNone = 0,
    CmdPlay = 3,
    CmdPause = 4,
    CmdStop = 5,
    CmdSeek = 6,  // posted by a time-bar click, which has already performed the seek
    CmdRewind = 7,
    CmdCountIn = 8,
    CmdPreparePlayback = 9,
    CmdExport = 10,
    CmdExportRunning = 12,
    CmdExportVideo = 13,  // the save dialog, then a video export that runs beside the frame loop
};

// refreshBits: the stop button sets all eight low bits; each consumer takes (clears) its own.
enum RefreshBit : uint16_t {
    RefreshNotesView = 0x0001,     // the notes view forgets its lit keys
    RefreshSongTimeZero = 0x0008,  // while idle, the frame shows song time 0 in all panels
    RefreshAll = 0x00FF,
};

// The audio export formats that have an availability word: WAV, FLAC, ALAC, AAC, Ogg Vorbis and
// MP3, in that order (export/export_format.h names them).
inline constexpr size_t ExportFormatCount = 6;

struct SessionState {
    platform::Dialogs* dialogs = nullptr;  // owner of message boxes and file dialogs; not owned

    std::string soundFontPath;  // read from and written to the settings file
    std::string soundFontName;  // display name: file name without folder and extension
    bool soundFontLoaded = false;

    std::string midiPath;
    std::string midiName;  // display name, formed like soundFontName

    bool rendered = false;    // a render of the current song was started and, once the loop ends, completed
    bool midiParsed = false;  // the MIDI file was parsed into `song`
    bool overviewLoaded = false;  // a render completed and its overview was read, whatever the result
    bool songReady = false;       // the overview read succeeded: the output WAV exists and is 16-bit PCM

    std::string outputWavPath;  // the rendered WAV: this player's own file in the settings folder

    AudioOverview overview;  // of the rendered WAV, once it has been read

    // Availability words, indexed by ExportFormat: 0 hides the format in the export dialog.
    // WAV and Ogg Vorbis are always there; the encoder probe fills the others at start-up.
    std::array<uint16_t, ExportFormatCount> exportFormatFlags{0x00FF, 0, 0, 0, 0x0003, 0};

    std::unique_ptr<SongData> song;     // the parsed song; replaced by each MIDI load
    StreamingPlayer* player = nullptr;  // streaming sound player, created and owned by the controller

    // Where the song should wait once its next render is ready, in seconds; negative: at the start.
    // A SoundFont change re-renders the song and keeps the place this way.
    double resumeAt = -1.0;

    uint16_t playState = Idle;
    uint16_t refreshBits = 0;
    uint16_t command = CmdNone;

    // Posts a command from a user-interface element. Elements may post only while nothing is
    // pending, so a press during the count-in, for example, is dropped. Returns whether it was taken.
    bool Post(uint16_t code) {
        if (command != CmdNone) return false;
        command = code;
        return true;
    }
};

// Shows the program's one modal error box: text and caption are string-table ids. Without a
// dialogs layer the message goes to standard error, so it is never lost. Returns the button pressed.
int ShowErrorBox(SessionState& state, int textId, int captionId);
