// What every form of the MIDI output shares: judging port names, picking one, following the list,
// and the scripted output. The RtMidi form is in midi_output_rtmidi.cpp.
#include "platform/midi_output.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace platform {

MidiOutputPort DescribeMidiOutputPort(const std::string& name, MidiBackend backend) {
    const MidiInputPort judged = DescribeMidiPort(name, backend);
    return {judged.name, judged.device, judged.keyboard};
}

int PickMidiOutput(const std::vector<MidiOutputPort>& ports, const std::string& wanted) {
    int any = -1;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (!ContainsIgnoringCase(ports[i].name, wanted)) continue;
        if (ports[i].instrument) return static_cast<int>(i);
        if (any < 0) any = static_cast<int>(i);
    }
    return any;
}

bool SameMidiInstrument(const std::string& input, const std::string& output, MidiBackend backend) {
    if (input.empty() || output.empty()) return false;
    if (backend != MidiBackend::Jack) {
        const size_t in = input.find(':');
        const size_t out = output.find(':');
        if (in == std::string::npos || out == std::string::npos) return false;
        // Our own ports and the through client are never an instrument, whatever their names.
        return DescribeMidiPort(input, backend).keyboard && input.compare(0, in, output, 0, out) == 0 &&
               in == out;
    }
    const auto half = [](std::string name, const char* side) {
        const size_t at = name.find(side);
        if (at == std::string::npos) return std::string();
        return name.erase(at, std::string(side).size());
    };
    const std::string in = half(input, "(capture)");
    return !in.empty() && in == half(output, "(playback)");
}

MidiOutputChanges MidiOutputWatch::Poll(MidiOutput& output) {
    MidiOutputChanges changes;
    changes.ports = output.Ports();
    CompareMidiPorts(changes, output.OpenName(), known_);
    return changes;
}

void ScriptedMidiOutput::Plug(const std::string& name) {
    const std::lock_guard<std::mutex> hold(lock_);
    ports_.push_back(DescribeMidiOutputPort(name, MidiBackend::Scripted));
}

void ScriptedMidiOutput::Unplug(const std::string& name) {
    const std::lock_guard<std::mutex> hold(lock_);
    std::erase_if(ports_, [&](const MidiOutputPort& p) { return p.name == name; });
}

std::vector<MidiOutputPort> ScriptedMidiOutput::Ports() {
    const std::lock_guard<std::mutex> hold(lock_);
    return ports_;
}

std::vector<ScriptedMidiOutput::Sent> ScriptedMidiOutput::SentSoFar() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return sent_;
}

std::vector<ScriptedMidiOutput::Sent> ScriptedMidiOutput::TakeSent() {
    const std::lock_guard<std::mutex> hold(lock_);
    return std::exchange(sent_, {});
}

Failure ScriptedMidiOutput::Open(const std::string& name) {
    Close();
    if (!refuseOpen.empty()) return Failure::Because(FailureKind::TargetOpen, refuseOpen);
    const std::lock_guard<std::mutex> hold(lock_);
    const bool listed =
        std::any_of(ports_.begin(), ports_.end(), [&](const MidiOutputPort& p) { return p.name == name; });
    if (!listed) return Failure::Because(FailureKind::TargetOpen, "no MIDI output is named " + name);
    openName_ = name;
    return Failure::None();
}

void ScriptedMidiOutput::Close() {
    const std::lock_guard<std::mutex> hold(lock_);
    openName_.clear();
}

bool ScriptedMidiOutput::Send(const uint8_t* bytes, size_t size) {
    MidiMessage checked;
    if (!MakeMidiMessage(0, bytes, size, checked)) return false;
    const std::lock_guard<std::mutex> hold(lock_);
    // A device that went away takes nothing, as a real one would not, though the port stays open.
    const bool listed = std::any_of(ports_.begin(), ports_.end(),
                                    [&](const MidiOutputPort& p) { return p.name == openName_; });
    if (openName_.empty() || !listed) return false;
    Sent sent;
    sent.port = openName_;
    sent.size = checked.size;
    std::copy(checked.bytes, checked.bytes + 3, sent.bytes);
    sent_.push_back(sent);
    return true;
}

}  // namespace platform
