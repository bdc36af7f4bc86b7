// dorvik-midi play: plays a WAV file through the player the window uses, to its end, with the
// position on standard error when that is a terminal. SIGINT and SIGTERM stop it at once.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "audio/wav_reader.h"
#include "cli/commands.h"
#include "core/time_format.h"
#include "platform/sound.h"

namespace cli {

namespace {

// Why a file the controller would not prepare cannot be played, in the user's terms.
std::string Unplayable(const char* path, const WavReader* reader) {
    if (reader == nullptr || !reader->handle) {
        if (NotARegularFile(path)) return "not a regular file";
        // Ask the system why the file does not open, for its own words ("No such file or directory").
        FILE* f = std::fopen(path, "rb");
        if (f == nullptr) return std::strerror(errno);
        std::fclose(f);
        return "cannot be read";
    }
    if (!reader->format) return "not a WAV file";
    const WavFormat& f = reader->format->header;
    if (f.blockAlign == 0 || reader->dataSize < f.blockAlign) return "the file holds no sound";
    char text[120];
    std::snprintf(text, sizeof text, "cannot play this sample format (tag %u, %u channels, %u bits, %u Hz)",
                  unsigned(f.formatTag), unsigned(f.channels), unsigned(f.bitsPerSample),
                  unsigned(f.samplesPerSec));
    return text;
}

// The signal that asked playback to stop; 0 while none has.
volatile std::sig_atomic_t stopSignal = 0;

void AskToStop(int signal) {
    stopSignal = signal;
}

// The sound library turns SIGINT and SIGTERM into a quit event for a window's event loop, which
// play has none of, so without handlers of its own both would be lost and the file would play to
// its end. Installed before the sound output starts: the library leaves a handler it finds alone.
void StopOnSignals() {
    struct sigaction action {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
}

// Ends the process by the signal that stopped playback, with the signal's default action, so that
// the shell sees the usual status (130 after SIGINT, 143 after SIGTERM).
[[noreturn]] void EndBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);  // only if the signal is blocked
}

}  // namespace

int RunPlay(int argc, char** argv) {
    const char* path = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return UsageError(std::string("unknown option ") + argv[i]);
        if (path != nullptr) return UsageError("play takes one WAV file");
        path = argv[i];
    }
    if (path == nullptr) return UsageError("play needs a WAV file");

    StopOnSignals();
    // The controller is large; it lives on the heap like the window's.
    auto controller = std::make_unique<PlayerController>();
    PlayerController& c = *controller;
    c.shared.outputWavPath = path;
    c.CreatePlayer(platform::SdlSoundOutput());
    if (!c.PreparePlayback()) {
        std::fprintf(stderr, "dorvik-midi: %s: %s\n", path, Unplayable(path, c.wavReader.get()).c_str());
        return 1;
    }
    const uint32_t total = uint32_t(c.totalFrames);
    const double rate = c.wavReader->format->header.samplesPerSec;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const std::string length = FormatSongTime(total / rate);

    c.StartPlayback();
    for (;;) {
        const uint32_t frame = c.soundPlayer->GetPlayPosition() + c.seekOffset;
        if (terminal) {
            std::fprintf(stderr, "\r%s  %s / %s ", BaseName(path).c_str(),
                         FormatSongTime((frame < total ? frame : total) / rate).c_str(), length.c_str());
        }
        if (frame >= total || stopSignal != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (terminal) std::fputc('\n', stderr);
    c.StopPlayback();
    if (stopSignal != 0) {
        std::fflush(stderr);
        EndBySignal(stopSignal);
    }
    return 0;
}

}  // namespace cli
