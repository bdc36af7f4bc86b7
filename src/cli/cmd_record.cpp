// dorvik-midi record: records what is played on a MIDI input into a Standard MIDI File until
// Ctrl-C. The take starts at the first key, keeps each message's own timing, and is saved as
// one complete file however the recording ends: Ctrl-C, a second Ctrl-C, SIGTERM.
//
// The file is also saved every few seconds while recording, so that a take survives a crash or a
// power cut up to the last save. Each save replaces the whole file at once; a reader never finds
// half a take.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "core/song_data.h"
#include "core/time_format.h"
#include "midi/take.h"
#include "platform/atomic_file.h"
#include "platform/midi_input.h"

namespace cli {

namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(10);
constexpr double kListPeriod = 0.5;  // seconds between looks at the list of inputs
constexpr double kSavePeriod = 5.0;  // seconds between saves of a growing take

// The signals that asked the recording to end, and the last of them.
volatile std::sig_atomic_t signalCount = 0;
volatile std::sig_atomic_t lastSignal = 0;

void NoteSignal(int signal) {
    lastSignal = signal;
    signalCount = signalCount + 1;
}

// Every signal only ends the recording: the take is then saved whole, and nothing can cut the
// save short except SIGKILL, which leaves the file as the last save made it.
void CatchSignals() {
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Ends the process by `signal` with its default action, so that the shell sees how it ended.
[[noreturn]] void EndBySignal(int signal) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string NameList(const std::vector<platform::MidiInputPort>& ports) {
    std::string list;
    for (const platform::MidiInputPort& p : ports) list += (list.empty() ? "" : ", ") + p.name;
    return list;
}

// Why no input fits the command line, in the user's terms.
std::string NoInput(const std::vector<platform::MidiInputPort>& ports, const std::string& wanted,
                    platform::MidiBackend backend) {
    if (ports.empty()) return std::string("no MIDI inputs (") + platform::MidiBackendName(backend) + ")";
    if (!wanted.empty())
        return "no MIDI input's name contains \"" + wanted + "\"; the inputs are: " + NameList(ports);
    return "no MIDI keyboard among the inputs (" + NameList(ports) + "); name one with --port";
}

struct Recording {
    Recording(std::string output_, std::string target_)
        : output(std::move(output_)), target(std::move(target_)) {}

    std::string output;  // as typed, for messages
    std::string target;  // where it is written
    Take take;
    size_t saved = 0;  // messages in the take when it was last saved
    bool saveFailed = false;

    double TakeSeconds(double now) const {
        return take.FirstKeyClock() < 0 ? 0.0 : now - take.FirstKeyClock();
    }

    void Keep(const std::vector<platform::MidiMessage>& messages) {
        for (const platform::MidiMessage& m : messages)
            (void)take.AddFromFirstKey(m.seconds, m.bytes, m.size);
    }

    // Saves the take as it stands at `now`. A failure carries the system's reason alone.
    Failure Save(double now) {
        Failure failed = SaveMidiFile(target, take.FileBytes(TakeSeconds(now)));
        if (failed.Ok()) saved = take.Messages().size();
        return failed;
    }
};

// Watches the open input: says when it is unplugged, and opens it again when a device of the same
// name comes back. The take carries on across the gap.
class Reconnect {
  public:
    explicit Reconnect(platform::MidiInput& input) : input_(input) { (void)watch_.Poll(input); }

    void Poll(bool terminal) {
        const platform::MidiInputChanges changes = watch_.Poll(input_);
        if (changes.openLost) {
            for (const auto& p : listed_) {
                if (p.name == input_.OpenName()) device_ = p.device;
            }
            std::fprintf(stderr,
                         "%sdorvik-midi: %s is gone; waiting for it to come back (Ctrl-C saves the take)\n",
                         terminal ? "\n" : "", input_.OpenName().c_str());
            input_.Close();
        }
        if (input_.OpenName().empty() && !device_.empty()) {
            for (const auto& p : changes.ports) {
                if (p.device != device_ || !input_.Open(p.name).Ok()) continue;
                std::fprintf(stderr, "%sdorvik-midi: %s is back; recording on\n", terminal ? "\n" : "",
                             p.name.c_str());
                break;
            }
        }
        listed_ = changes.ports;
    }

    void Remember(const std::vector<platform::MidiInputPort>& ports) { listed_ = ports; }

  private:
    platform::MidiInput& input_;
    platform::MidiInputWatch watch_;
    std::vector<platform::MidiInputPort> listed_;
    std::string device_;  // the device name of the input that went away
};

}  // namespace

int RunRecord(int argc, char** argv) {
    std::string wanted;
    std::string output;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" || arg == "-o") {
            if (i + 1 >= argc) return UsageError(arg + (arg == "-o" ? " needs a file" : " needs a name"));
            (arg == "-o" ? output : wanted) = argv[++i];
            if (arg == "--port" && wanted.empty()) return UsageError("--port needs a name");
        } else {
            return UsageError(argv[i][0] == '-' ? "unknown option " + arg
                                                : "record takes no file but -o TAKE.mid");
        }
    }
    if (output.empty()) return UsageError("record needs -o TAKE.mid");

    // The output is checked before anything is played into it: a take that cannot be saved at the
    // end would be lost.
    std::string target;
    if (Failure refused = CheckOutput(output, "", "", target); !refused.Ok())
        return Fail("cannot write " + output + ": " + refused.text);
    {
        platform::AtomicFile probe;
        if (const Failure failed = probe.Open(target); !failed.Ok())
            return Fail("cannot write " + output + ": " + failed.text);
    }

    Failure why;
    const std::unique_ptr<platform::MidiInput> input = platform::OpenMidiInput(kMidiClientName, why);
    if (input->Backend() == platform::MidiBackend::None) return Fail("cannot reach MIDI inputs: " + why.text);
    const std::vector<platform::MidiInputPort> ports = input->Ports();
    const int pick = platform::PickMidiInput(ports, wanted);
    if (pick < 0) return Fail(NoInput(ports, wanted, input->Backend()));
    const std::string name = ports[static_cast<size_t>(pick)].name;

    CatchSignals();
    if (const Failure failed = input->Open(name); !failed.Ok()) return Fail(failed.text);
    std::fprintf(stderr, "dorvik-midi: recording from %s into %s; Ctrl-C ends the take\n", name.c_str(),
                 output.c_str());
    std::fflush(stderr);

    const bool terminal = isatty(STDERR_FILENO) != 0;
    Recording rec(output, target);
    Reconnect reconnect(*input);
    reconnect.Remember(ports);
    std::vector<platform::MidiMessage> messages;
    double nextList = Now() + kListPeriod;
    double nextSave = Now() + kSavePeriod;
    bool warnedLong = false;
    std::string lost;  // why the MIDI system went away mid-take, if it did
    while (signalCount == 0) {
        std::this_thread::sleep_for(kPollPeriod);
        messages.clear();
        input->Read(messages);
        rec.Keep(messages);
        // A server that stopped does not come back to the clients it had: the take ends here.
        lost = input->SystemLost();
        if (!lost.empty()) {
            std::fprintf(stderr, "%sdorvik-midi: %s; the take ends here\n", terminal ? "\n" : "",
                         lost.c_str());
            std::fflush(stderr);
            break;
        }
        const double now = Now();
        if (now >= nextList) {
            reconnect.Poll(terminal);
            nextList = now + kListPeriod;
        }
        if (now >= nextSave && rec.take.Messages().size() != rec.saved) {
            if (const Failure failed = rec.Save(now); !failed.Ok() && !rec.saveFailed) {
                std::fprintf(stderr, "%sdorvik-midi: cannot save %s yet: %s\n", terminal ? "\n" : "",
                             output.c_str(), failed.text.c_str());
                rec.saveFailed = true;
            }
            nextSave = now + kSavePeriod;
        }
        if (!warnedLong && rec.TakeSeconds(now) > kMaxSongSeconds) {
            std::fprintf(
                stderr,
                "%sdorvik-midi: the take is longer than 30 minutes, the longest song the player opens\n",
                terminal ? "\n" : "");
            warnedLong = true;
        }
        if (terminal) {
            std::fprintf(stderr, "\rrecording %s  %s  %zu notes ", input->OpenName().c_str(),
                         FormatSongTime(rec.TakeSeconds(now)).c_str(), rec.take.NoteCount());
        }
    }
    const double stop = Now();
    if (terminal && lost.empty()) std::fputc('\n', stderr);
    // What arrived up to the moment the recording ended belongs to the take.
    messages.clear();
    input->Read(messages);
    rec.Keep(messages);
    input->Close();

    int status = 0;
    if (!lost.empty()) {
        // Nothing more was played after the last message that came: the take ends with it, not
        // with however long the user takes to notice.
        const double end = rec.take.LastSeconds();
        if (rec.take.Empty()) {
            status = Fail(lost + "; nothing was played, " + output + " was not written");
        } else if (const Failure failed = SaveMidiFile(target, rec.take.FileBytes(end)); !failed.Ok()) {
            status = Fail(lost + "; cannot write " + output + ": " + failed.text);
        } else {
            status = Fail("the take so far is saved in " + output + " (" +
                          std::to_string(rec.take.NoteCount()) + " notes, " + FormatSongTime(end) + ")");
        }
    } else if (rec.take.Empty()) {
        status = Fail("nothing was played; " + output + " was not written");
    } else if (const Failure failed = rec.Save(stop); !failed.Ok()) {
        status = Fail("cannot write " + output + ": " + failed.text);
    } else {
        std::printf("%s: %zu notes, %s\n", output.c_str(), rec.take.NoteCount(),
                    FormatSongTime(rec.TakeSeconds(stop)).c_str());
    }
    if (input->Dropped() > 0) {
        std::fprintf(stderr,
                     "dorvik-midi: %llu messages came faster than they could be kept and are missing\n",
                     static_cast<unsigned long long>(input->Dropped()));
    }
    // One Ctrl-C is how a take ends; SIGTERM, SIGHUP or a second Ctrl-C end the process as those
    // signals do, once the file is complete.
    if (signalCount > 1 || (signalCount > 0 && lastSignal != SIGINT)) EndBySignal(lastSignal);
    return status;
}

}  // namespace cli
