// MIDI keyboards: the inputs there are, one of them opened, its messages with the moment each
// arrived, and inputs that come and go while the program runs.
//
//   MidiInput          the layer: list, open, read; RtMidi over the ALSA sequencer or a JACK server
//   OpenMidiInput      the real one, on whichever of the two this machine has
//   ScriptedMidiInput  the headless one: tests set its inputs and send its messages by hand
//   PickMidiInput      which input to open: the first keyboard, or the first whose name matches
//   MidiInputWatch     what changed in the list since it last looked, and whether the open input went
//
// Everything here is called from one thread, the one that owns the input. Messages arrive on the
// backend's own thread and wait in a queue until Read takes them; nothing is ever called back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/failure.h"

namespace platform {

// One channel message from the open input: a note on or off, a controller (the sustain pedal), a
// program change, pressure or pitch bend. System messages (clock, active sensing, system
// exclusive) never reach the reader: nothing in the program plays or keeps them.
struct MidiMessage {
    double seconds = 0;  // when it arrived, on the steady clock (SteadyCounterNow in seconds)
    uint8_t size = 0;    // 2 or 3
    uint8_t bytes[3] = {0, 0, 0};
};

// The data bytes that follow a channel message's status byte: one after a program change or
// channel pressure, two after every other; 0 for a byte that starts no channel message (a data
// byte, a system message).
[[nodiscard]] constexpr size_t ChannelDataBytes(uint8_t status) {
    if (status < 0x80 || status >= 0xF0) return 0;
    const uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

// A key's change in a channel message: which key went down or up. A note-on at velocity 0 lets
// its key go, as keyboards send it.
struct KeyChange {
    bool isKey = false;  // a note-on or a note-off; the rest is set only then
    int key = 0;
    bool down = false;
};
[[nodiscard]] constexpr KeyChange KeyChangeOf(const MidiMessage& message) {
    const uint8_t kind = message.bytes[0] & 0xF0;
    if (message.size < 3 || (kind != 0x80 && kind != 0x90)) return {};
    return {true, message.bytes[1], kind == 0x90 && message.bytes[2] > 0};
}

struct MidiInputPort {
    std::string name;  // as the backend lists it, unique among the inputs listed together
    // The name without the ALSA sequencer's address ("Keystation:Keystation MIDI 1" for
    // "Keystation:Keystation MIDI 1 24:0"): the address changes with the order devices are
    // plugged in, so a choice is remembered by this. The same as `name` on JACK.
    std::string device;
    // Something a person plays on: not a through port that only echoes other programs, and not a
    // port of this program's own.
    bool keyboard = false;
};

enum class MidiBackend { None, Alsa, Jack, Scripted };

// What the backend's thread hands each message to the moment it arrives, besides queueing it for
// Read: the player's live synthesiser, so that a key sounds without waiting for the next frame to
// read it. Called on the backend's thread (the JACK period's, on JACK): it must not block.
class MidiThru {
  public:
    virtual ~MidiThru() = default;
    virtual void Pass(const MidiMessage& message) = 0;
};

class MidiInput {
  public:
    virtual ~MidiInput() = default;

    [[nodiscard]] virtual MidiBackend Backend() const = 0;
    // The inputs there are now, in the backend's order.
    [[nodiscard]] virtual std::vector<MidiInputPort> Ports() = 0;
    // Opens the input listed as `name` and starts queueing its messages, closing the one open
    // before. Returns why it could not (SourceOpen), or no failure.
    [[nodiscard]] virtual Failure Open(const std::string& name) = 0;
    virtual void Close() = 0;
    // The name of the open input; "" when none is.
    [[nodiscard]] virtual const std::string& OpenName() const = 0;
    // Appends the messages that arrived since the last call to `out`, oldest first, and returns how
    // many. Call it often (every frame): the queue holds kMidiQueueMessages.
    virtual size_t Read(std::vector<MidiMessage>& out) = 0;
    // Messages lost to a full queue since the input was opened.
    [[nodiscard]] virtual uint64_t Dropped() const = 0;
    // Hands every message to `thru` as well from now on; null for none. What it points at must
    // outlive the input (or be replaced first): a message may be on its way to it until then.
    virtual void SetThru(MidiThru* thru) = 0;
    // Why the MIDI system itself has gone (a JACK server that stopped), after which nothing is
    // listed or read again; "" while it runs.
    [[nodiscard]] virtual std::string SystemLost() const { return {}; }
};

// What the queue between the backend's thread and the reader holds: a few seconds of the densest
// playing, read every frame, never fill it.
inline constexpr size_t kMidiQueueMessages = 4096;

// The real input, named `clientName` where other programs list it. The backend is the ALSA
// sequencer where the machine has one, otherwise a running JACK server; DORVIK_MIDI_API=alsa or
// jack picks one. Never null: when neither is there its backend is None, it lists nothing, and
// `why` says what was missing.
[[nodiscard]] std::unique_ptr<MidiInput> OpenMidiInput(const std::string& clientName, Failure& why);

// A channel message of `size` bytes as the layer delivers it: false for system messages and for
// anything malformed (a data byte with its top bit set, a length that does not fit the status).
// Running status never reaches here: every backend hands over whole messages.
[[nodiscard]] bool MakeMidiMessage(double seconds, const uint8_t* bytes, size_t size, MidiMessage& out);

// The backend's name as users know it: "ALSA", "JACK".
[[nodiscard]] const char* MidiBackendName(MidiBackend backend);

// Whether `text` holds `part`, in any case: names as the user types them.
[[nodiscard]] bool ContainsIgnoringCase(const std::string& text, const std::string& part);

// The input to open among `ports`: with `wanted` empty, the first keyboard; otherwise the first
// whose name contains `wanted` (keyboard or not: the user asked for it). -1 when there is none.
[[nodiscard]] int PickMidiInput(const std::vector<MidiInputPort>& ports, const std::string& wanted);

// How a backend's name is judged: through ports and this program's own are no keyboards, and the
// ALSA address comes off for the device name. Exposed for the scripted input and for tests.
[[nodiscard]] MidiInputPort DescribeMidiPort(const std::string& name, MidiBackend backend);

// What changed in the list of inputs since the last Poll. The first Poll reports every input as
// added.
struct MidiInputChanges {
    std::vector<MidiInputPort> ports;  // listed now
    std::vector<std::string> added;    // names
    std::vector<std::string> removed;  // names
    bool openLost = false;             // the open input is no longer listed: it was unplugged
};

// What a watch does on each Poll, for inputs and outputs alike: fills `changes.added`, `removed`
// and `openLost` from `changes.ports` against the names listed last time (`known`), which become
// the names listed now.
template <class Changes>
void CompareMidiPorts(Changes& changes, const std::string& openName, std::vector<std::string>& known) {
    std::vector<std::string> now;
    now.reserve(changes.ports.size());
    for (const auto& p : changes.ports) now.push_back(p.name);
    const auto listed = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    for (const std::string& name : now) {
        if (!listed(known, name)) changes.added.push_back(name);
    }
    for (const std::string& name : known) {
        if (!listed(now, name)) changes.removed.push_back(name);
    }
    changes.openLost = !openName.empty() && !listed(now, openName);
    known = std::move(now);
}

// Follows the list of inputs. Poll it every half second or so: a list costs the backend a walk
// over its clients, too much for every frame and little enough for twice a second.
class MidiInputWatch {
  public:
    [[nodiscard]] MidiInputChanges Poll(MidiInput& input);

  private:
    std::vector<std::string> known_;
};

// The headless input. Tests set `ports` to plug and unplug devices and Send messages as the open
// input; the messages wait for Read as the real ones do.
class ScriptedMidiInput final : public MidiInput {
  public:
    std::vector<MidiInputPort> ports;
    std::string refuseOpen;           // when not empty, Open fails with this reason
    std::vector<std::string> opened;  // every name Open was asked for, in order

    // Queues `message` as if the open input had sent it; nothing happens when none is open.
    void Send(const MidiMessage& message);
    // Adds an input named `name`, judged as a real backend would judge it.
    void Plug(const std::string& name) { ports.push_back(DescribeMidiPort(name, MidiBackend::Scripted)); }
    void Unplug(const std::string& name);

    [[nodiscard]] MidiBackend Backend() const override { return MidiBackend::Scripted; }
    [[nodiscard]] std::vector<MidiInputPort> Ports() override { return ports; }
    [[nodiscard]] Failure Open(const std::string& name) override;
    void Close() override { openName_.clear(); }
    [[nodiscard]] const std::string& OpenName() const override { return openName_; }
    size_t Read(std::vector<MidiMessage>& out) override;
    [[nodiscard]] uint64_t Dropped() const override { return dropped_; }
    void SetThru(MidiThru* thru) override { thru_ = thru; }

  private:
    MidiThru* thru_ = nullptr;
    std::string openName_;
    std::vector<MidiMessage> queue_;
    uint64_t dropped_ = 0;
};

}  // namespace platform
