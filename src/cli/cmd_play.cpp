// dorvik-midi play: plays a WAV file, or a MIDI file rendered as it plays, through the player the
// window uses, to its end, with the position on standard error when that is a terminal. SIGINT and
// SIGTERM stop it at once.
//
// A MIDI file plays as the window plays it: its render runs on a thread of its own and playback
// starts as soon as a few seconds are rendered, while the rest renders on ahead.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/player_controller.h"
#include "app/session_state.h"
#include "app/transport.h"
#include "audio/wav_reader.h"
#include "cli/commands.h"
#include "core/time_format.h"
#include "midi/midi_reader.h"
#include "platform/sound.h"
#include "settings/settings.h"
#include "synth/background_render.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"

namespace cli {

namespace {

// Why a file the transport would not prepare cannot be played, in the user's terms.
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

// What plays a MIDI file: its song, the render running ahead of playback, and the transport.
struct MidiPlay {
    SynthRenderer synth;
    BackgroundRender render;
};

// Reads `midi`, starts its render with `soundFont` and sets the transport up to play it from the
// render. Returns 0, or 1 after saying why not.
int StartMidi(SessionState& session, Transport& transport, MidiPlay& play, const std::string& midi,
              const std::string& soundFont) {
    if (NotARegularFile(soundFont)) return Fail(soundFont + ": not a regular file");
    auto song = std::make_unique<SongData>();
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    if (!ReadMidiFile(*song, midi, bytes.get())) return Fail(midi + ": " + MidiLoadFailureText(*song));
    if (!SongHasNotes(*song)) return Fail(midi + " has no notes: there is nothing to play");
    const std::string folder = CacheFolder();
    if (!folder.empty()) RemoveStaleRenderFiles(folder, kPlayerRenderPrefix, 0);
    session.song = std::move(song);
    RenderRequest request{std::move(bytes), soundFont, session.song.get()};
    request.lowPriority = true;
    if (const Failure started = play.synth.StartRender(request, folder); !started.Ok())
        return Fail("cannot play " + midi + ": " + started.text);
    if (!transport.PrepareStreamPlayback(play.synth.Stream()))
        return Fail("cannot play " + midi + ": no sound device");
    play.render.Run(play.synth);
    return 0;
}

}  // namespace

int RunPlay(int argc, char** argv) {
    const char* path = nullptr;
    std::string soundFont;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--soundfont") {
            if (i + 1 >= argc) return UsageError("--soundfont needs a file");
            soundFont = argv[++i];
            continue;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return UsageError(std::string("unknown option ") + argv[i]);
        if (path != nullptr) return UsageError("play takes one WAV or MIDI file");
        path = argv[i];
    }
    if (path == nullptr) return UsageError("play needs a WAV or MIDI file");
    const bool midi = FileKindOfPath(path) == FileKind::Midi;
    if (midi && soundFont.empty()) {
        if (const std::string problem = SettingsFileProblem(); !problem.empty())
            std::fprintf(stderr, "dorvik-midi: %s\n", problem.c_str());
        soundFont = DefaultSoundFont();
    }

    StopOnSignals();
    // The window's transport without the window: the same player, render-ahead and song length.
    SessionState session;
    auto transport = std::make_unique<Transport>(session);
    // Declared after the transport so that it goes first: the render stops and its files go
    // while the transport still plays from its stream.
    std::unique_ptr<MidiPlay> play;
    transport->CreatePlayer(platform::SdlSoundOutput());
    if (midi) {
        play = std::make_unique<MidiPlay>();
        if (const int status = StartMidi(session, *transport, *play, path, soundFont); status != 0)
            return status;
    } else {
        session.outputWavPath = path;
        if (!transport->PreparePlayback())
            return Fail(std::string(path) + ": " + Unplayable(path, transport->Wav()));
    }
    const double rate =
        midi ? transport->Playback()->Stream().SampleRate() : transport->Wav()->format->header.samplesPerSec;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    bool rendering = midi;

    transport->Start();
    int status = 0;
    for (;;) {
        if (rendering) {
            const RenderStatus render = play->render.Poll();
            if (render.outcome == RenderOutcome::Failed) {
                std::fprintf(stderr, "%sdorvik-midi: cannot play %s: %s\n", terminal ? "\n" : "", path,
                             render.failure.text.c_str());
                status = 1;
                break;
            }
            if (render.outcome == RenderOutcome::Finished) {
                transport->TakeRenderedLength(play->synth.endFrame);
                rendering = false;
            }
            transport->Update();
        }
        // Until the render has found the song's end, its length is the one its file gives.
        const auto total = static_cast<uint32_t>(transport->TotalFrames());
        const uint32_t frame = transport->Frame();
        if (terminal) {
            std::fprintf(stderr, "\r%s  %s / %s ", BaseName(path).c_str(),
                         FormatSongTime((frame < total ? frame : total) / rate).c_str(),
                         FormatSongTime(total / rate).c_str());
        }
        if ((!rendering && frame >= total) || stopSignal != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (terminal) std::fputc('\n', stderr);
    transport->Stop();
    // The render stops and its files go before the process ends, by a signal too.
    play.reset();
    transport.reset();
    if (stopSignal != 0) {
        std::fflush(stderr);
        EndBySignal(stopSignal);
    }
    return status;
}

}  // namespace cli
