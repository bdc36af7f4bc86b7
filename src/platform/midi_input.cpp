// What every form of the MIDI input shares: judging port names, picking one, following the list,
// and the scripted input. The RtMidi form is in midi_input_rtmidi.cpp.
#include "platform/midi_input.h"

#include <algorithm>
#include <cctype>

namespace platform {

bool ContainsIgnoringCase(const std::string& text, const std::string& part) {
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

namespace {

// The ALSA sequencer's address RtMidi appends to a name: " 24:0" (client and port numbers).
size_t AlsaAddressStart(const std::string& name) {
    size_t i = name.size();
    const auto digitsBefore = [&](size_t end) {
        size_t start = end;
        while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1]))) --start;
        return start;
    };
    const size_t port = digitsBefore(i);
    if (port == i || port == 0 || name[port - 1] != ':') return std::string::npos;
    const size_t client = digitsBefore(port - 1);
    if (client == port - 1 || client == 0 || name[client - 1] != ' ') return std::string::npos;
    return client - 1;
}

}  // namespace

bool MakeMidiMessage(double seconds, const uint8_t* bytes, size_t size, MidiMessage& out) {
    const size_t data = size > 0 ? ChannelDataBytes(bytes[0]) : 0;
    if (data == 0 || size != data + 1) return false;
    for (size_t i = 1; i < size; ++i) {
        if (bytes[i] >= 0x80) return false;
    }
    out.seconds = seconds;
    out.size = static_cast<uint8_t>(size);
    for (size_t i = 0; i < 3; ++i) out.bytes[i] = i < size ? bytes[i] : 0;
    return true;
}

const char* MidiBackendName(MidiBackend backend) {
    switch (backend) {
        case MidiBackend::Alsa:
            return "ALSA";
        case MidiBackend::Jack:
            return "JACK";
        case MidiBackend::Scripted:
            return "scripted";
        case MidiBackend::None:
            break;
    }
    return "none";
}

MidiInputPort DescribeMidiPort(const std::string& name, MidiBackend backend) {
    MidiInputPort port;
    port.name = name;
    const size_t address = backend == MidiBackend::Jack ? std::string::npos : AlsaAddressStart(name);
    port.device = address == std::string::npos ? name : name.substr(0, address);
    const std::string client = name.substr(0, name.find(':'));
    // The ALSA sequencer's "Midi Through" client echoes whatever other programs send it, and
    // bridges to JACK keep that name in theirs. Our own clients all begin with the program's name.
    const bool through = ContainsIgnoringCase(name, "midi through");
    const bool ours = ContainsIgnoringCase(client.substr(0, 6), "dorvik");
    port.keyboard = !through && !ours;
    return port;
}

int PickMidiInput(const std::vector<MidiInputPort>& ports, const std::string& wanted) {
    for (size_t i = 0; i < ports.size(); ++i) {
        const bool fits =
            wanted.empty() ? ports[i].keyboard : ports[i].name.find(wanted) != std::string::npos;
        if (fits) return static_cast<int>(i);
    }
    return -1;
}

MidiInputChanges MidiInputWatch::Poll(MidiInput& input) {
    MidiInputChanges changes;
    changes.ports = input.Ports();
    CompareMidiPorts(changes, input.OpenName(), known_);
    return changes;
}

void ScriptedMidiInput::Send(const MidiMessage& message) {
    if (openName_.empty()) return;
    MidiMessage checked;
    if (!MakeMidiMessage(message.seconds, message.bytes, message.size, checked)) return;
    if (thru_ != nullptr) thru_->Pass(checked);
    if (queue_.size() >= kMidiQueueMessages) {
        ++dropped_;
        return;
    }
    queue_.push_back(checked);
}

void ScriptedMidiInput::Unplug(const std::string& name) {
    std::erase_if(ports, [&](const MidiInputPort& p) { return p.name == name; });
}

Failure ScriptedMidiInput::Open(const std::string& name) {
    opened.push_back(name);
    Close();
    if (!refuseOpen.empty()) return Failure::Because(FailureKind::SourceOpen, refuseOpen);
    const bool listed =
        std::any_of(ports.begin(), ports.end(), [&](const MidiInputPort& p) { return p.name == name; });
    if (!listed) return Failure::Because(FailureKind::SourceOpen, "no MIDI input is named " + name);
    openName_ = name;
    queue_.clear();
    dropped_ = 0;
    return Failure::None();
}

size_t ScriptedMidiInput::Read(std::vector<MidiMessage>& out) {
    const size_t count = queue_.size();
    out.insert(out.end(), queue_.begin(), queue_.end());
    queue_.clear();
    return count;
}

}  // namespace platform
