// The real MIDI output: RtMidi over the ALSA sequencer or a JACK server.
//
// As for the input, one RtMidi object only lists and another is the open output, so that the
// owner can walk the list while the sender's thread sends. On ALSA a message leaves the moment it
// is sent; on JACK it waits in RtMidi's ring for the next period (1.3 ms on a server of 64-frame
// periods at 48 kHz), which is why closing waits a few periods first.
#include <RtMidi.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/midi_output.h"

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

void Silent(const char* /*text*/) {}

struct JackClientClose {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using JackClient = std::unique_ptr<jack_client_t, JackClientClose>;

JackClient JackProbe(const std::string& clientName) {
    jack_set_error_function(Silent);
    jack_set_info_function(Silent);
    jack_status_t status{};
    return JackClient(jack_client_open((clientName + " watch").c_str(), JackNoStartServer, &status));
}

// Whether `target` is fed by an output port of ours: RtMidi does not say whether its connection
// took, and a port that was just registered, or is just going, can refuse it.
bool WeFeed(jack_client_t* probe, const std::string& target, const std::string& clientName) {
    jack_port_t* port = jack_port_by_name(probe, target.c_str());
    if (port == nullptr) return false;
    const char** links = jack_port_get_all_connections(probe, port);
    bool ours = false;
    for (size_t i = 0; links != nullptr && links[i] != nullptr; ++i) {
        const std::string link = links[i];
        ours = ours || (link.rfind(clientName, 0) == 0 && link.ends_with(":output"));
    }
    jack_free(links);
    return ours;
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
        const unsigned count = lister_->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            const std::string name = lister_->getPortName(i);
            if (!name.empty()) ports.push_back(DescribeMidiOutputPort(name, backend_));
        }
        return ports;
    }

    [[nodiscard]] std::string Open(const std::string& name) override {
        Close();
        if (!lister_) return "no MIDI system to open " + name + " on";
        std::unique_ptr<RtMidiOut> out;
        try {
            out = std::make_unique<RtMidiOut>(Api(), clientName_);
        } catch (const RtMidiError& e) {
            return "cannot open " + name + ": " + e.getMessage();
        }
        std::string error;
        out->setErrorCallback(KeepError, &error);
        const unsigned count = out->getPortCount();
        unsigned index = count;
        for (unsigned i = 0; i < count && index == count; ++i) {
            if (out->getPortName(i) == name) index = i;
        }
        if (index == count) return "no MIDI output is named " + name;
        out->openPort(index, "output");
        if (!error.empty() || !out->isPortOpen()) {
            return "cannot open " + name + ": " + (error.empty() ? "the MIDI system refused" : error);
        }
        if (jack_ && !Connected(name)) return "cannot connect to " + name;
        out->setErrorCallback(CountError, &errors_);
        open_ = std::move(out);
        openName_ = name;
        sent_ = false;
        return "";
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
    bool Connected(const std::string& target) const {
        for (int i = 0; i < 100; ++i) {
            if (WeFeed(jack_.get(), target, clientName_)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    RtMidi::Api Api() const { return backend_ == MidiBackend::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK; }

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

std::unique_ptr<RtMidiOut> MakeLister(RtMidi::Api api, const std::string& clientName, std::string& why) {
    try {
        return std::make_unique<RtMidiOut>(api, clientName);
    } catch (const RtMidiError& e) {
        why = e.getMessage();
        return nullptr;
    }
}

}  // namespace

std::unique_ptr<MidiOutput> OpenMidiOutput(const std::string& clientName, std::string& why) {
    why.clear();
    const char* forced = std::getenv("DORVIK_MIDI_API");
    const std::string choice = forced != nullptr ? forced : "";
    if (!choice.empty() && choice != "alsa" && choice != "jack") {
        why = "DORVIK_MIDI_API is \"" + choice + "\"; it must be alsa or jack";
        return std::make_unique<RtMidiOutput>(MidiBackend::None, clientName, nullptr);
    }
    std::string alsaWhy;
    if (choice.empty() || choice == "alsa") {
        if (::access("/dev/snd/seq", R_OK | W_OK) == 0) {
            if (auto lister = MakeLister(RtMidi::LINUX_ALSA, clientName, alsaWhy)) {
                return std::make_unique<RtMidiOutput>(MidiBackend::Alsa, clientName, std::move(lister));
            }
        } else {
            alsaWhy = "no ALSA sequencer (/dev/snd/seq)";
        }
    }
    std::string jackWhy;
    if (choice.empty() || choice == "jack") {
        if (JackClient probe = JackProbe(clientName)) {
            if (auto lister = MakeLister(RtMidi::UNIX_JACK, clientName, jackWhy)) {
                return std::make_unique<RtMidiOutput>(MidiBackend::Jack, clientName, std::move(lister),
                                                      std::move(probe));
            }
        } else {
            jackWhy = "no JACK server running";
        }
    }
    why = alsaWhy.empty() ? jackWhy : jackWhy.empty() ? alsaWhy : alsaWhy + " and " + jackWhy;
    return std::make_unique<RtMidiOutput>(MidiBackend::None, clientName, nullptr);
}

}  // namespace platform
