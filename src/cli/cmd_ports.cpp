// dorvik-midi ports: the MIDI inputs there are, one name a line, as `record --port` matches them.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "platform/midi_input.h"

namespace cli {

int RunPorts(int argc, char** argv) {
    if (argc > 0) return UsageError(std::string("ports takes no arguments (") + argv[0] + ")");
    std::string why;
    const std::unique_ptr<platform::MidiInput> input = platform::OpenMidiInput(kMidiClientName, why);
    if (input->Backend() == platform::MidiBackend::None) {
        std::fprintf(stderr, "dorvik-midi: cannot list MIDI inputs: %s\n", why.c_str());
        return 1;
    }
    const std::vector<platform::MidiInputPort> ports = input->Ports();
    if (ports.empty()) {
        std::fprintf(stderr, "dorvik-midi: no MIDI inputs (%s)\n",
                     platform::MidiBackendName(input->Backend()));
        return 0;
    }
    // Ports that only pass other programs' messages on are listed too, marked, since --port can
    // still name them.
    for (const platform::MidiInputPort& port : ports) {
        std::printf("%s%s\n", port.name.c_str(), port.keyboard ? "" : "  (not a keyboard)");
    }
    return 0;
}

}  // namespace cli
