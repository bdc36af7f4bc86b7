// dorvik-midi play --midi-out NAME SONG.mid: the song played on a MIDI instrument (a digital
// piano, a synthesiser, another program) instead of through the SoundFont, until it ends or
// Ctrl-C. SIGINT and SIGTERM let every note go before the program ends by the signal, so nothing
// is left sounding on the instrument; an instrument that goes away mid-song ends it with status 1.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "core/time_format.h"
#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "midi/song_events.h"
#include "platform/midi_output.h"
#include "synth/midi_sender.h"
#include "synth/part_mute.h"

namespace cli {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void AskToStop(int signal) {
    stopSignal = signal;
}

[[noreturn]] void EndBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

// A whole number in [low, high] from `text`; false when it is not one.
bool ParseWhole(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 5) return false;
    size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
    }
    const int v = std::stoi(text);
    if (v < low || v > high) return false;
    value = v;
    return true;
}

struct MidiOutChoices {
    std::string port;
    std::string song;
    int speedPercent = 100;
    int transposition = 0;
    int latencyMs = 0;
    std::vector<std::string> mutes;
};

// Reads the command line after "play"; 0, or the status of the usage error printed.
int ParseChoices(int argc, char** argv, MidiOutChoices& c) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = arg == "--midi-out" || arg == "--speed" || arg == "--mute" ||
                            arg == "--transpose" || arg == "--latency";
        if (valued && i + 1 >= argc) return UsageError(arg + " needs a value");
        if (arg == "--midi-out") {
            c.port = argv[++i];
        } else if (arg == "--speed") {
            const std::string value = argv[++i];
            if (!ParseWhole(value, 25, 200, c.speedPercent) || c.speedPercent % 5 != 0)
                return UsageError("--speed takes a percentage from 25 to 200 in steps of 5, not \"" + value +
                                  "\"");
        } else if (arg == "--transpose") {
            const std::string value = argv[++i];
            if (!ParseWhole(value, -24, 24, c.transposition))
                return UsageError("--transpose takes semitones from -24 to 24, not \"" + value + "\"");
        } else if (arg == "--latency") {
            const std::string value = argv[++i];
            if (!ParseWhole(value, 0, static_cast<int>(MidiSequencer::kMaxLatency * 1000), c.latencyMs))
                return UsageError("--latency takes milliseconds from 0 to 500, not \"" + value + "\"");
        } else if (arg == "--mute") {
            c.mutes.push_back(argv[++i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg + " for play --midi-out");
        } else if (!c.song.empty()) {
            return UsageError("play --midi-out takes one MIDI file");
        } else {
            c.song = arg;
        }
    }
    if (c.port.empty())
        return UsageError("--midi-out needs the name of a MIDI output (see `dorvik-midi ports`)");
    if (c.song.empty()) return UsageError("play --midi-out needs a MIDI file");
    return 0;
}

}  // namespace

int RunPlayCommand(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--midi-out") return RunPlayMidiOut(argc, argv);
    }
    return RunPlay(argc, argv);
}

int RunPlayMidiOut(int argc, char** argv) {
    MidiOutChoices c;
    if (const int status = ParseChoices(argc, argv, c); status != 0) return status;

    std::vector<uint8_t> bytes;
    auto song = std::make_unique<SongData>();
    TempoMap tempo;
    if (NotARegularFile(c.song)) return Fail(c.song + ": not a regular file");
    // Read as every other command reads a song, so that a refusal is told in the same words.
    if (!ReadMidiFile(*song, c.song, &bytes, &tempo)) return Fail(c.song + ": " + MidiLoadFailureText(*song));
    SongEvents events;
    if (!ReadSongEvents(bytes.data(), bytes.size(), *song, tempo, events) || !SongHasNotes(*song))
        return Fail(c.song + " has no notes: there is nothing to play");
    PartMutes mutes;
    for (const std::string& part : c.mutes) {
        if (Failure refused = AddMutedPart(*song, part, mutes); !refused.Ok())
            return UsageError("--mute " + part + ": " + c.song + ": " + refused.text);
    }

    Failure why;
    const std::unique_ptr<platform::MidiOutput> output = platform::OpenMidiOutput(kMidiClientName, why);
    if (output->Backend() == platform::MidiBackend::None)
        return Fail("cannot list MIDI outputs: " + why.text);
    const std::vector<platform::MidiOutputPort> ports = output->Ports();
    const int index = platform::PickMidiOutput(ports, c.port);
    if (index < 0) {
        std::string names;
        for (const platform::MidiOutputPort& p : ports) names += (names.empty() ? "" : ", ") + p.name;
        return Fail("no MIDI output's name contains \"" + c.port + "\"; " +
                    (names.empty() ? std::string("there are none") : "the outputs are: " + names));
    }
    const std::string name = ports[static_cast<size_t>(index)].name;
    if (const Failure refused = output->Open(name); !refused.Ok()) return Fail(refused.text);

    struct sigaction action {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);

    std::fprintf(stderr, "dorvik-midi: playing %s on %s\n", BaseName(c.song).c_str(), name.c_str());
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const double length = events.events.empty() ? 0.0 : events.events.back().seconds;
    int status = 0;
    {
        MidiSender sender(events, output.get());
        sender.SetSpeed(c.speedPercent / 100.0);
        sender.SetTransposition(c.transposition);
        sender.SetLatency(c.latencyMs / 1000.0);
        sender.SetMutes(mutes);
        sender.Play();
        platform::MidiOutputWatch watch;
        (void)watch.Poll(*output);
        for (int tick = 1; stopSignal == 0 && !sender.Finished(); ++tick) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (terminal) {
                std::fprintf(stderr, "\r%s  %s / %s ", BaseName(c.song).c_str(),
                             FormatSongTime(sender.Position()).c_str(), FormatSongTime(length).c_str());
            }
            // The list is walked twice a second, as the window does for its inputs.
            if (tick % 25 == 0 && watch.Poll(*output).openLost) {
                sender.Pause();
                std::fprintf(stderr, "%sdorvik-midi: %s is gone; stopped at %s\n", terminal ? "\n" : "",
                             name.c_str(), FormatSongTime(sender.Position()).c_str());
                status = 1;
                break;
            }
        }
        if (terminal && status == 0) std::fputc('\n', stderr);
        // The sender lets every note go as it ends, before the output closes.
    }
    output->Close();
    if (stopSignal != 0) {
        std::fflush(stderr);
        EndBySignal(stopSignal);
    }
    return status;
}

}  // namespace cli
