// The real MIDI output: RtMidi over the ALSA sequencer or a JACK server.
//
// As for the input, one RtMidi object only lists and another is the open output, so that the
// owner can walk the list while the sender's thread sends. On ALSA a message leaves the moment it
// is sent. On JACK the open output is a client of our own (midi_jack_output.h), whose messages wait
// in a ring for the next period (1.3 ms on a server of 64-frame periods at 48 kHz) and which
// closes only once they have left.
#include <atomic>

#include "platform/midi_jack_output.h"
#include "platform/midi_output.h"
#include "platform/midi_rtmidi.h"

namespace platform {

namespace {

// RtMidi reports through this instead of throwing. On the open output it may be called from the
// sender's thread, so it only counts.
void CountError(RtMidiError::Type /*type*/, const std::string& /*text*/, void* count) {
    static_cast<std::atomic<uint64_t>*>(count)->fetch_add(1, std::memory_order_relaxed);
}

// The owner's calls keep the text, to say why an open failed.
void KeepError(RtMidiError::Type /*type*/, const std::string& text, void* kept) {
    *static_cast<std::string*>(kept) = text;
}

class RtMidiOutput final : public MidiOutput {
  public:
    RtMidiOutput(MidiBackend backend, std::string clientName, std::unique_ptr<RtMidiOut> lister)
        : backend_(backend), clientName_(std::move(clientName)), lister_(std::move(lister)) {
        if (lister_) lister_->setErrorCallback(KeepError, &listerError_);
    }
    ~RtMidiOutput() override { Close(); }

    [[nodiscard]] MidiBackend Backend() const override { return backend_; }

    [[nodiscard]] std::vector<MidiOutputPort> Ports() override {
        std::vector<MidiOutputPort> ports;
        if (!lister_) return ports;
        for (const std::string& name : rtmidi::PortNames(*lister_))
            ports.push_back(DescribeMidiOutputPort(name, backend_));
        return ports;
    }

    [[nodiscard]] Failure Open(const std::string& name) override {
        Close();
        const auto refused = [&](const std::string& why) {
            return Failure::Because(FailureKind::TargetOpen, why);
        };
        if (!lister_) return refused("no MIDI system to open " + name + " on");
        if (backend_ == MidiBackend::Jack) {
            if (rtmidi::PortIndex(*lister_, name) == lister_->getPortCount())
                return refused("no MIDI output is named " + name);
            Failure why;
            jackOpen_ = rtmidi::JackMidiOutput::Open(clientName_, name, why);
            if (!jackOpen_) return why;
            openName_ = name;
            return Failure::None();
        }
        std::unique_ptr<RtMidiOut> out;
        try {
            out = std::make_unique<RtMidiOut>(rtmidi::ApiOf(backend_), clientName_);
        } catch (const RtMidiError& e) {
            return refused("cannot open " + name + ": " + e.getMessage());
        }
        std::string error;
        out->setErrorCallback(KeepError, &error);
        const unsigned index = rtmidi::PortIndex(*out, name);
        if (index == out->getPortCount()) return refused("no MIDI output is named " + name);
        out->openPort(index, "output");
        if (!error.empty() || !out->isPortOpen())
            return refused("cannot open " + name + ": " +
                           (error.empty() ? "the MIDI system refused" : error));
        out->setErrorCallback(CountError, &errors_);
        open_ = std::move(out);
        openName_ = name;
        return Failure::None();
    }

    void Close() override {
        // The JACK output waits for what it was sent to leave before it goes.
        jackOpen_.reset();
        open_.reset();
        openName_.clear();
    }

    [[nodiscard]] const std::string& OpenName() const override { return openName_; }

    bool Send(const uint8_t* bytes, size_t size) override {
        MidiMessage checked;
        if ((!open_ && !jackOpen_) || !MakeMidiMessage(0, bytes, size, checked)) return false;
        if (jackOpen_) return jackOpen_->Send(checked.bytes, checked.size);
        const uint64_t before = errors_.load(std::memory_order_relaxed);
        open_->sendMessage(checked.bytes, checked.size);
        return errors_.load(std::memory_order_relaxed) == before;
    }

  private:
    MidiBackend backend_;
    std::string clientName_;
    std::unique_ptr<RtMidiOut> lister_;
    std::string listerError_;
    std::atomic<uint64_t> errors_{0};
    std::unique_ptr<RtMidiOut> open_;  // on ALSA
    std::unique_ptr<rtmidi::JackMidiOutput> jackOpen_;
    std::string openName_;
};

}  // namespace

std::unique_ptr<MidiOutput> OpenMidiOutput(const std::string& clientName, Failure& why) {
    std::unique_ptr<RtMidiOut> lister;
    rtmidi::ChosenBackend chosen = rtmidi::ChooseBackend(clientName, [&](RtMidi::Api api) {
        try {
            lister = std::make_unique<RtMidiOut>(api, clientName);
            return Failure::None();
        } catch (const RtMidiError& e) {
            return Failure::Because(FailureKind::TargetOpen, e.getMessage());
        }
    });
    why = chosen.backend == MidiBackend::None ? Failure::Because(FailureKind::TargetOpen, chosen.why)
                                              : Failure::None();
    return std::make_unique<RtMidiOutput>(chosen.backend, clientName, std::move(lister));
}

}  // namespace platform
