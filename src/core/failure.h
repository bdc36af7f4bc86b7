// Why something the user asked for did not happen: the one value every room returns when work
// fails, and the only thing that crosses floors to say so.
//
// A lower floor never shows or prints a failure. It returns one, and the room that asked decides
// how the user hears of it: the window shows it in its one error box, the command line prints it
// after the program's name and exits with the status that goes with its kind. The text is whole
// and in plain words ("Couldn't write /tmp/a.flac: No space left on device"), naming the file
// concerned; the reader adds nothing but a caption or a prefix.
#pragma once

#include <cstring>
#include <string>
#include <utility>

enum class FailureKind : int {
    None = 0,      // nothing failed
    Usage,         // the request itself is wrong: an option, an extension, a missing argument
    SourceOpen,    // an input could not be opened or is not a regular file
    SourceFormat,  // an input is not what it claims: not a MIDI file, not a WAV this program reads
    TargetOpen,    // an output could not be created, or it is one of the inputs
    Write,         // writing an output failed part-way: a full disk, an I/O error
    Read,          // reading an input failed part-way
    EncoderSetup,  // no encoder for the format, or it refused its settings
    SoundFont,     // the SoundFont could not be loaded
    Render,        // the synthesiser could not render the song, or rendered nothing of it
    Busy,          // the work cannot run now (another job holds what it needs)
    Cancelled,     // the user stopped it; nothing of it is kept, and nothing needs saying
};

struct [[nodiscard]] Failure {
    FailureKind kind = FailureKind::None;
    std::string text;  // for the user; empty when nothing failed

    [[nodiscard]] bool Ok() const { return kind == FailureKind::None; }
    [[nodiscard]] bool Cancelled() const { return kind == FailureKind::Cancelled; }

    [[nodiscard]] static Failure None() { return {}; }
    [[nodiscard]] static Failure Because(FailureKind kind, std::string text) {
        return {kind, std::move(text)};
    }
};

// The system's words for an errno value ("No space left on device"): the one place an error number
// becomes text, so that no error number has to cross from the room that met it to the one that
// tells the user. Safe on any thread, as exports and renders run on their own.
[[nodiscard]] inline std::string ErrnoText(int error) {
    char buffer[256];
    // The GNU strerror_r returns its text, which may or may not live in `buffer`.
    return ::strerror_r(error, buffer, sizeof buffer);
}

// The exit statuses of a command: a cancel ends as Ctrl-C would have ended it.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

// The exit status of a command that failed this way: kExitUsage for a usage error, kExitCancelled
// for a cancel, kExitFailed for every other failure, kExitOk when nothing failed.
[[nodiscard]] inline int ExitStatusOf(const Failure& failure) {
    switch (failure.kind) {
        case FailureKind::None:
            return kExitOk;
        case FailureKind::Usage:
            return kExitUsage;
        case FailureKind::Cancelled:
            return kExitCancelled;
        default:
            return kExitFailed;
    }
}
