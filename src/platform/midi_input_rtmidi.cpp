// The real MIDI input: RtMidi over the ALSA sequencer or a JACK server.
//
// Two RtMidi objects are kept: one only lists, the other is the open input with the backend's
// thread behind it. Listing through the open one would walk the sequencer from the owner's thread
// while the backend's thread reads events from the same handle. On JACK a third, bare client of
// our own checks that a connection RtMidi made really took, which RtMidi does not report.
//
// A message is stamped the moment RtMidi hands it over, on the backend's thread: on ALSA that is
// as it arrives; on JACK it is the start of the period that delivers it, so a JACK server running
// small periods (64 frames at 48 kHz: 1.3 ms) times keys finely.
#include <RtMidi.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/midi_input.h"

namespace platform {

namespace {

// The queue between the backend's thread (the one writer) and the owner's (the one reader). No
// lock: the JACK thread runs the audio period and must never wait.
class MessageQueue {
  public:
    bool Push(const MidiMessage& message) {
        const uint64_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) >= kMidiQueueMessages) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        slots_[tail % kMidiQueueMessages] = message;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    size_t TakeAll(std::vector<MidiMessage>& out) {
        const uint64_t head = head_.load(std::memory_order_relaxed);
        const uint64_t tail = tail_.load(std::memory_order_acquire);
        for (uint64_t i = head; i < tail; ++i) out.push_back(slots_[i % kMidiQueueMessages]);
        head_.store(tail, std::memory_order_release);
        return static_cast<size_t>(tail - head);
    }

    [[nodiscard]] uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

    void SetThru(MidiThru* thru) { thru_.store(thru, std::memory_order_release); }
    void PassThru(const MidiMessage& message) const {
        if (MidiThru* thru = thru_.load(std::memory_order_acquire)) thru->Pass(message);
    }

    // Only while no writer is attached.
    void Reset() {
        head_.store(0);
        tail_.store(0);
        dropped_.store(0);
    }

  private:
    MidiMessage slots_[kMidiQueueMessages];
    std::atomic<uint64_t> head_{0};
    std::atomic<uint64_t> tail_{0};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<MidiThru*> thru_{nullptr};
};

// RtMidi's delivery, on the backend's thread. The time is read first, before any other work.
void OnMessage(double /*delta*/, std::vector<unsigned char>* bytes, void* queue) {
    const double now = SteadySeconds();
    MidiMessage message;
    if (bytes == nullptr || !MakeMidiMessage(now, bytes->data(), bytes->size(), message)) return;
    auto* messages = static_cast<MessageQueue*>(queue);
    messages->PassThru(message);
    messages->Push(message);
}

// RtMidi reports through this instead of printing and throwing; the text is kept for the caller.
// Only the owner's calls into RtMidi report, never the backend's thread.
void OnError(RtMidiError::Type /*type*/, const std::string& text, void* kept) {
    *static_cast<std::string*>(kept) = text;
}

// JACK's library prints every failed connection attempt; whoever opens the input says what failed
// in its own words instead.
void Silent(const char* /*text*/) {}

struct JackClientClose {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using JackClient = std::unique_ptr<jack_client_t, JackClientClose>;

// A client of our own on the running server, or null when none runs. RtMidi is asked to use JACK
// only when one does: it would print its own complaint otherwise.
JackClient JackProbe(const std::string& clientName) {
    jack_set_error_function(Silent);
    jack_set_info_function(Silent);
    jack_status_t status{};
    return JackClient(jack_client_open((clientName + " watch").c_str(), JackNoStartServer, &status));
}

// Whether `source` feeds an input port of ours. RtMidi does not say whether its connection took:
// a port that was just registered, or is just going, can refuse it.
bool FeedsUs(jack_client_t* probe, const std::string& source, const std::string& clientName) {
    jack_port_t* port = jack_port_by_name(probe, source.c_str());
    if (port == nullptr) return false;
    const char** links = jack_port_get_all_connections(probe, port);
    bool ours = false;
    for (size_t i = 0; links != nullptr && links[i] != nullptr; ++i) {
        const std::string link = links[i];
        ours = ours || (link.rfind(clientName, 0) == 0 && link.ends_with(":input"));
    }
    jack_free(links);
    return ours;
}

bool AlsaSequencerPresent() {
    return ::access("/dev/snd/seq", R_OK | W_OK) == 0;
}

class RtMidiInput final : public MidiInput {
  public:
    RtMidiInput(MidiBackend backend, std::string clientName, std::unique_ptr<RtMidiIn> lister,
                JackClient jack = nullptr)
        : backend_(backend),
          clientName_(std::move(clientName)),
          lister_(std::move(lister)),
          jack_(std::move(jack)),
          queue_(std::make_unique<MessageQueue>()) {
        if (lister_) lister_->setErrorCallback(OnError, &listerError_);
        // The server tells its clients when it stops; RtMidi's own clients are not asked, and a
        // call into them once it has gone may wait for a server that never answers.
        if (jack_) jack_on_shutdown(jack_.get(), OnServerGone, &serverGone_);
    }
    ~RtMidiInput() override { Close(); }

    [[nodiscard]] MidiBackend Backend() const override { return backend_; }

    [[nodiscard]] std::vector<MidiInputPort> Ports() override {
        std::vector<MidiInputPort> ports;
        if (!lister_ || serverGone_.load()) return ports;
        // A port that goes between the count and the name comes back as "" and is left out.
        const unsigned count = lister_->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            const std::string name = lister_->getPortName(i);
            if (!name.empty()) ports.push_back(DescribeMidiPort(name, backend_));
        }
        return ports;
    }

    [[nodiscard]] std::string Open(const std::string& name) override {
        Close();
        if (!lister_) return "no MIDI system to open " + name + " on";
        if (serverGone_.load()) return "cannot open " + name + ": " + SystemLost();
        std::unique_ptr<RtMidiIn> in;
        try {
            in = std::make_unique<RtMidiIn>(Api(), clientName_);
        } catch (const RtMidiError& e) {
            return "cannot open " + name + ": " + e.getMessage();
        }
        std::string error;
        in->setErrorCallback(OnError, &error);
        // The index is looked up on the object that opens it, so that both see the same list.
        const unsigned count = in->getPortCount();
        unsigned index = count;
        for (unsigned i = 0; i < count && index == count; ++i) {
            if (in->getPortName(i) == name) index = i;
        }
        if (index == count) return "no MIDI input is named " + name;
        in->ignoreTypes(true, true, true);
        queue_->Reset();
        // The callback is set before the port opens, so no message waits in RtMidi's own queue.
        in->setCallback(OnMessage, queue_.get());
        in->openPort(index, "input");
        if (!error.empty() || !in->isPortOpen()) {
            return "cannot open " + name + ": " + (error.empty() ? "the MIDI system refused" : error);
        }
        if (jack_ && !Connected(name)) return "cannot connect to " + name;
        in->setErrorCallback(nullptr, nullptr);
        open_ = std::move(in);
        openName_ = name;
        return "";
    }

    void Close() override {
        // Joins the backend's thread (or leaves the JACK graph) before the queue is touched again.
        open_.reset();
        openName_.clear();
    }

    [[nodiscard]] const std::string& OpenName() const override { return openName_; }
    size_t Read(std::vector<MidiMessage>& out) override { return queue_->TakeAll(out); }
    [[nodiscard]] uint64_t Dropped() const override { return queue_->Dropped(); }
    void SetThru(MidiThru* thru) override { queue_->SetThru(thru); }
    [[nodiscard]] std::string SystemLost() const override {
        return serverGone_.load() ? "the JACK server stopped" : std::string();
    }

  private:
    static void OnServerGone(void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); }

    // A new connection shows in the graph a period or two after it is made; a second is plenty on
    // the busiest machine.
    bool Connected(const std::string& source) const {
        for (int i = 0; i < 100; ++i) {
            if (FeedsUs(jack_.get(), source, clientName_)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    RtMidi::Api Api() const { return backend_ == MidiBackend::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK; }

    MidiBackend backend_;
    std::string clientName_;
    std::unique_ptr<RtMidiIn> lister_;
    std::string listerError_;
    std::atomic<bool> serverGone_{false};  // set on JACK's own thread when the server stops
    JackClient jack_;                      // on JACK, to see that a connection took
    std::unique_ptr<MessageQueue> queue_;  // outlives open_, whose thread writes into it
    std::unique_ptr<RtMidiIn> open_;
    std::string openName_;
};

std::unique_ptr<RtMidiIn> MakeLister(RtMidi::Api api, const std::string& clientName, std::string& why) {
    try {
        return std::make_unique<RtMidiIn>(api, clientName);
    } catch (const RtMidiError& e) {
        why = e.getMessage();
        return nullptr;
    }
}

}  // namespace

std::unique_ptr<MidiInput> OpenMidiInput(const std::string& clientName, std::string& why) {
    why.clear();
    const char* forced = std::getenv("DORVIK_MIDI_API");
    const std::string choice = forced != nullptr ? forced : "";
    if (!choice.empty() && choice != "alsa" && choice != "jack") {
        why = "DORVIK_MIDI_API is \"" + choice + "\"; it must be alsa or jack";
        return std::make_unique<RtMidiInput>(MidiBackend::None, clientName, nullptr);
    }
    const bool tryAlsa = choice.empty() || choice == "alsa";
    const bool tryJack = choice.empty() || choice == "jack";
    std::string alsaWhy;
    if (tryAlsa) {
        if (AlsaSequencerPresent()) {
            if (auto lister = MakeLister(RtMidi::LINUX_ALSA, clientName, alsaWhy)) {
                return std::make_unique<RtMidiInput>(MidiBackend::Alsa, clientName, std::move(lister));
            }
        } else {
            alsaWhy = "no ALSA sequencer (/dev/snd/seq)";
        }
    }
    std::string jackWhy;
    if (tryJack) {
        if (JackClient probe = JackProbe(clientName)) {
            if (auto lister = MakeLister(RtMidi::UNIX_JACK, clientName, jackWhy)) {
                return std::make_unique<RtMidiInput>(MidiBackend::Jack, clientName, std::move(lister),
                                                     std::move(probe));
            }
        } else {
            jackWhy = "no JACK server running";
        }
    }
    why = alsaWhy.empty() ? jackWhy : jackWhy.empty() ? alsaWhy : alsaWhy + " and " + jackWhy;
    return std::make_unique<RtMidiInput>(MidiBackend::None, clientName, nullptr);
}

}  // namespace platform
