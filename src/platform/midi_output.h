// MIDI instruments to play on: the outputs there are, one of them opened, messages sent to it, and
// outputs that come and go while the program runs. The outputs' side of midi_input.h.
//
//   MidiOutput          the layer: list, open, send; RtMidi over the ALSA sequencer or a JACK server
//   OpenMidiOutput      the real one, on whichever of the two this machine has
//   ScriptedMidiOutput  the headless one: tests plug and unplug its outputs and read what was sent
//   PickMidiOutput      which output a name given by the user means
//   MidiOutputWatch     what changed in the list since it last looked, and whether the open output went
//
// Ports, Open and Close belong to one thread, the owner's. Send may be called from another, the
// sender's, while the owner lists; the owner opens and closes only while nothing is being sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi_input.h"

namespace platform {

struct MidiOutputPort {
    std::string name;    // as the backend lists it, unique among the outputs listed together
    std::string device;  // the name without the ALSA sequencer's address, as for an input
    // Something that sounds: not a through port that only hands messages on to other programs,
    // and not a port of this program's own (which would play the song back into itself).
    bool instrument = false;
};

class MidiOutput {
  public:
    virtual ~MidiOutput() = default;

    [[nodiscard]] virtual MidiBackend Backend() const = 0;
    // The outputs there are now, in the backend's order.
    [[nodiscard]] virtual std::vector<MidiOutputPort> Ports() = 0;
    // Opens the output listed as `name`, closing the one open before. Returns why it could not
    // (TargetOpen), or no failure.
    [[nodiscard]] virtual Failure Open(const std::string& name) = 0;
    // Closes the open output once what was sent has left: nothing sent before is lost.
    virtual void Close() = 0;
    // The name of the open output; "" when none is.
    [[nodiscard]] virtual const std::string& OpenName() const = 0;
    // Sends one whole channel message (2 or 3 bytes, as MakeMidiMessage takes them) at once.
    // False when none is open or the message is malformed; nothing is sent then.
    virtual bool Send(const uint8_t* bytes, size_t size) = 0;
};

// The real output, named `clientName` where other programs list it, on the same backend an input
// of the same name would choose (DORVIK_MIDI_API picks one as well). Never null: when neither is
// there its backend is None, it lists nothing, and `why` says what was missing.
[[nodiscard]] std::unique_ptr<MidiOutput> OpenMidiOutput(const std::string& clientName, Failure& why);

// How a backend's output name is judged, as DescribeMidiPort judges an input's.
[[nodiscard]] MidiOutputPort DescribeMidiOutputPort(const std::string& name, MidiBackend backend);

// The output `wanted` means among `ports`: the first instrument whose name contains it; failing
// that, the first output at all whose name does (the user asked for it by name). -1 for none.
[[nodiscard]] int PickMidiOutput(const std::vector<MidiOutputPort>& ports, const std::string& wanted);

// Whether input `input` and output `output` (names as listed) are one instrument: a digital piano
// both played and played on. Its keys then sound on it already, and sending them back would strike
// each twice. On ALSA one device is one sequencer client, so the client names are compared; on
// JACK the bridge's "(capture)" and "(playback)" halves of one device are. False when unsure:
// keys sent twice are heard, keys never sent are not.
[[nodiscard]] bool SameMidiInstrument(const std::string& input, const std::string& output,
                                      MidiBackend backend);

// What changed in the list of outputs since the last Poll; the first Poll reports every output as
// added. Poll it about twice a second, as the inputs are.
struct MidiOutputChanges {
    std::vector<MidiOutputPort> ports;  // listed now
    std::vector<std::string> added;     // names
    std::vector<std::string> removed;   // names
    bool openLost = false;              // the open output is no longer listed: it was unplugged
};

class MidiOutputWatch {
  public:
    [[nodiscard]] MidiOutputChanges Poll(MidiOutput& output);

  private:
    std::vector<std::string> known_;
};

// The headless output. Tests plug and unplug outputs and read back every message sent, as the
// instrument would have received it. Send may come from the sender's thread while the test reads.
class ScriptedMidiOutput final : public MidiOutput {
  public:
    struct Sent {
        std::string port;  // the output it went to
        uint8_t size = 0;
        uint8_t bytes[3] = {0, 0, 0};
    };

    std::string refuseOpen;  // when not empty, Open fails with this reason

    void Plug(const std::string& name);
    void Unplug(const std::string& name);
    // Every message sent so far, oldest first; TakeSent empties the record.
    [[nodiscard]] std::vector<Sent> SentSoFar() const;
    [[nodiscard]] std::vector<Sent> TakeSent();

    [[nodiscard]] MidiBackend Backend() const override { return MidiBackend::Scripted; }
    [[nodiscard]] std::vector<MidiOutputPort> Ports() override;
    [[nodiscard]] Failure Open(const std::string& name) override;
    void Close() override;
    [[nodiscard]] const std::string& OpenName() const override { return openName_; }
    bool Send(const uint8_t* bytes, size_t size) override;

  private:
    mutable std::mutex lock_;  // the ports and the record, shared with the sender's thread
    std::vector<MidiOutputPort> ports_;
    std::vector<Sent> sent_;
    std::string openName_;
};

}  // namespace platform
