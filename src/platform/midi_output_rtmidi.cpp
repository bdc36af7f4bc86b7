// The real MIDI output: RtMidi over the ALSA sequencer or a JACK server.
//
// As for the input, one RtMidi object only lists and another is the open output, so that the
// owner can walk the list while the sender's thread sends. On ALSA a message leaves the moment it
// is sent; on JACK it waits in RtMidi's ring for the next period (1.3 ms on a server of 64-frame
// periods at 48 kHz), which is why closing waits a few periods first.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/midi_output.h"
#include "platform/midi_rtmidi.h"

namespace platform {

namespace {

using rtmidi::JackClient;

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
    RtMidiOutput(MidiBackend backend, std::string clientName, std::unique_ptr<RtMidiOut> lister,
                 JackClient jack = nullptr)
        : backend_(backend),
          clientName_(std::move(clientName)),
          lister_(std::move(lister)),
          jack_(std::move(jack)) {
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
        if (jack_ && !rtmidi::JackLinked(jack_.get(), name, clientName_, ":output"))
            return refused("cannot connect to " + name);
        out->setErrorCallback(CountError, &errors_);
        open_ = std::move(out);
        openName_ = name;
        sent_ = false;
        return Failure::None();
    }

    void Close() override {
        // On JACK what was sent last (the releases, most often) still waits for a period to carry
        // it; a dozen periods of the smallest kind and a few of the largest are plenty.
        if (open_ && sent_ && backend_ == MidiBackend::Jack) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        open_.reset();
        openName_.clear();
    }

    [[nodiscard]] const std::string& OpenName() const override { return openName_; }

    bool Send(const uint8_t* bytes, size_t size) override {
        MidiMessage checked;
        if (!open_ || !MakeMidiMessage(0, bytes, size, checked)) return false;
        const uint64_t before = errors_.load(std::memory_order_relaxed);
        open_->sendMessage(checked.bytes, checked.size);
        sent_ = true;
        return errors_.load(std::memory_order_relaxed) == before;
    }

  private:
    MidiBackend backend_;
    std::string clientName_;
    std::unique_ptr<RtMidiOut> lister_;
    std::string listerError_;
    JackClient jack_;  // on JACK, to see that a connection took
    std::atomic<uint64_t> errors_{0};
    std::unique_ptr<RtMidiOut> open_;
    std::string openName_;
    bool sent_ = false;  // anything sent since the output opened (only the sending thread writes it)
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
    return std::make_unique<RtMidiOutput>(chosen.backend, clientName, std::move(lister),
                                          std::move(chosen.probe));
}

}  // namespace platform
