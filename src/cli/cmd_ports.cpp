// dorvik-midi ports: the MIDI inputs there are, one name a line, as `record --port` matches them,
// then the outputs, marked, as `play --midi-out` matches them.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "platform/midi_input.h"
#include "platform/midi_output.h"

namespace cli {

int RunPorts(int argc, char** argv) {
    if (argc > 0) return UsageError(std::string("ports takes no arguments (") + argv[0] + ")");
    Failure why;
    const std::unique_ptr<platform::MidiInput> input = platform::OpenMidiInput(kMidiClientName, why);
    if (input->Backend() == platform::MidiBackend::None) {
        std::fprintf(stderr, "dorvik-midi: cannot list MIDI inputs: %s\n", why.text.c_str());
        return 1;
    }
    const std::vector<platform::MidiInputPort> ports = input->Ports();
    const std::unique_ptr<platform::MidiOutput> output = platform::OpenMidiOutput(kMidiClientName, why);
    const std::vector<platform::MidiOutputPort> outputs = output->Ports();
    if (ports.empty()) {
        std::fprintf(stderr, "dorvik-midi: no MIDI inputs (%s)\n",
                     platform::MidiBackendName(input->Backend()));
    }
    // Ports that only pass other programs' messages on are listed too, marked, since --port can
    // still name them.
    for (const platform::MidiInputPort& port : ports) {
        std::printf("%s%s\n", port.name.c_str(), port.keyboard ? "" : "  (not a keyboard)");
    }
    // Outputs come after every input, each marked, so that a script reading the inputs' names
    // line by line can stop at the first marked "(output" and a person sees which is which.
    for (const platform::MidiOutputPort& port : outputs) {
        std::printf("%s  (output%s)\n", port.name.c_str(), port.instrument ? "" : ", not an instrument");
    }
    return 0;
}

}  // namespace cli
