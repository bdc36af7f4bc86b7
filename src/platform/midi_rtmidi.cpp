#include "platform/midi_rtmidi.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform::rtmidi {

namespace {

// JACK's library prints every failed connection attempt; the caller says what failed in its own
// words instead.
void Silent(const char* /*text*/) {}

// A client of our own on the running server, or null when none runs. RtMidi is asked to use JACK
// only when one does: it would print its own complaint otherwise.
JackClient JackProbe(const std::string& clientName) {
    jack_set_error_function(Silent);
    jack_set_info_function(Silent);
    jack_status_t status{};
    return JackClient(jack_client_open((clientName + " watch").c_str(), JackNoStartServer, &status));
}

bool LinkedNow(jack_client_t* probe, const std::string& theirs, const std::string& clientName,
               const char* ourEnd) {
    jack_port_t* port = jack_port_by_name(probe, theirs.c_str());
    if (port == nullptr) return false;
    const char** links = jack_port_get_all_connections(probe, port);
    bool ours = false;
    for (size_t i = 0; links != nullptr && links[i] != nullptr; ++i) {
        const std::string link = links[i];
        ours = ours || (link.rfind(clientName, 0) == 0 && link.ends_with(ourEnd));
    }
    jack_free(links);
    return ours;
}

}  // namespace

ChosenBackend ChooseBackend(const std::string& clientName,
                            const std::function<Failure(RtMidi::Api)>& makeLister) {
    ChosenBackend chosen;
    const char* forced = std::getenv("DORVIK_MIDI_API");
    const std::string choice = forced != nullptr ? forced : "";
    if (!choice.empty() && choice != "alsa" && choice != "jack") {
        chosen.why = "DORVIK_MIDI_API is \"" + choice + "\"; it must be alsa or jack";
        return chosen;
    }
    std::string alsaWhy;
    if (choice.empty() || choice == "alsa") {
        if (::access("/dev/snd/seq", R_OK | W_OK) != 0) {
            alsaWhy = "no ALSA sequencer (/dev/snd/seq)";
        } else if (const Failure made = makeLister(RtMidi::LINUX_ALSA); made.Ok()) {
            chosen.backend = MidiBackend::Alsa;
            return chosen;
        } else {
            alsaWhy = made.text;
        }
    }
    std::string jackWhy;
    if (choice.empty() || choice == "jack") {
        if (JackClient probe = JackProbe(clientName); probe == nullptr) {
            jackWhy = "no JACK server running";
        } else if (const Failure made = makeLister(RtMidi::UNIX_JACK); made.Ok()) {
            chosen.backend = MidiBackend::Jack;
            chosen.probe = std::move(probe);
            return chosen;
        } else {
            jackWhy = made.text;
        }
    }
    chosen.why = alsaWhy.empty() ? jackWhy : jackWhy.empty() ? alsaWhy : alsaWhy + " and " + jackWhy;
    return chosen;
}

RtMidi::Api ApiOf(MidiBackend backend) {
    return backend == MidiBackend::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
}

std::vector<std::string> PortNames(RtMidi& midi) {
    std::vector<std::string> names;
    const unsigned count = midi.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string name = midi.getPortName(i);
        if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
}

unsigned PortIndex(RtMidi& midi, const std::string& name) {
    const unsigned count = midi.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        if (midi.getPortName(i) == name) return i;
    }
    return count;
}

bool JackLinked(jack_client_t* probe, const std::string& theirs, const std::string& clientName,
                const char* ourEnd) {
    // A new link shows in the graph a period or two after it is made; a second is plenty on the
    // busiest machine.
    for (int i = 0; i < 100; ++i) {
        if (LinkedNow(probe, theirs, clientName, ourEnd)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace platform::rtmidi
