// What the RtMidi input and output share: which backend to use, listing and finding ports by the
// names they are listed under, and the bare JACK client that sees whether a connection took.
// Only midi_input_rtmidi.cpp and midi_output_rtmidi.cpp include this.
#pragma once

#include <RtMidi.h>
#include <jack/jack.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/failure.h"
#include "platform/midi_input.h"

namespace platform::rtmidi {

struct JackClientClose {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using JackClient = std::unique_ptr<jack_client_t, JackClientClose>;

// The backend a client named `clientName` is to use: DORVIK_MIDI_API (alsa or jack) when set,
// else the ALSA sequencer where the machine has one, else a running JACK server. `makeLister` is
// asked to make the side's listing object on each backend tried, in turn, and returns why it
// could not. On JACK, `probe` is a bare client of our own on the server; with no backend (None), `why`
// says what was missing.
struct ChosenBackend {
    MidiBackend backend = MidiBackend::None;
    JackClient probe;
    std::string why;
};
[[nodiscard]] ChosenBackend ChooseBackend(const std::string& clientName,
                                          const std::function<Failure(RtMidi::Api)>& makeLister);

[[nodiscard]] RtMidi::Api ApiOf(MidiBackend backend);

// The names `midi` lists now, in its order; a port that goes between the count and the name is
// left out.
[[nodiscard]] std::vector<std::string> PortNames(RtMidi& midi);
// Where `midi` lists `name`; its count of ports when it lists no such name.
[[nodiscard]] unsigned PortIndex(RtMidi& midi, const std::string& name);

// Whether the port `theirs` is linked with a port of ours (one of `clientName`'s whose name ends in
// `ourEnd`), waiting up to a second for a new link to show: RtMidi does not say whether its
// connection took, and a port that was just registered, or is just going, can refuse it.
[[nodiscard]] bool JackLinked(jack_client_t* probe, const std::string& theirs, const std::string& clientName,
                              const char* ourEnd);

}  // namespace platform::rtmidi
