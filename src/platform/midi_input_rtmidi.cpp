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
#include <atomic>
#include <cstring>

#include "platform/clock.h"
#include "platform/midi_input.h"
#include "platform/midi_rtmidi.h"

namespace platform {

namespace {

using rtmidi::JackClient;

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
        for (const std::string& name : rtmidi::PortNames(*lister_))
            ports.push_back(DescribeMidiPort(name, backend_));
        return ports;
    }

    [[nodiscard]] Failure Open(const std::string& name) override {
        Close();
        const auto refused = [&](const std::string& why) {
            return Failure::Because(FailureKind::SourceOpen, "cannot open " + name + ": " + why);
        };
        if (!lister_)
            return Failure::Because(FailureKind::SourceOpen, "no MIDI system to open " + name + " on");
        if (serverGone_.load()) return refused(SystemLost());
        std::unique_ptr<RtMidiIn> in;
        try {
            in = std::make_unique<RtMidiIn>(rtmidi::ApiOf(backend_), clientName_);
        } catch (const RtMidiError& e) {
            return refused(e.getMessage());
        }
        std::string error;
        in->setErrorCallback(OnError, &error);
        // The index is looked up on the object that opens it, so that both see the same list.
        const unsigned index = rtmidi::PortIndex(*in, name);
        if (index == in->getPortCount())
            return Failure::Because(FailureKind::SourceOpen, "no MIDI input is named " + name);
        in->ignoreTypes(true, true, true);
        queue_->Reset();
        // The callback is set before the port opens, so no message waits in RtMidi's own queue.
        in->setCallback(OnMessage, queue_.get());
        in->openPort(index, "input");
        if (!error.empty() || !in->isPortOpen())
            return refused(error.empty() ? "the MIDI system refused" : error);
        if (jack_ && !rtmidi::JackLinked(jack_.get(), name, clientName_, ":input"))
            return Failure::Because(FailureKind::SourceOpen, "cannot connect to " + name);
        in->setErrorCallback(nullptr, nullptr);
        open_ = std::move(in);
        openName_ = name;
        return Failure::None();
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

}  // namespace

std::unique_ptr<MidiInput> OpenMidiInput(const std::string& clientName, Failure& why) {
    std::unique_ptr<RtMidiIn> lister;
    rtmidi::ChosenBackend chosen = rtmidi::ChooseBackend(clientName, [&](RtMidi::Api api) {
        try {
            lister = std::make_unique<RtMidiIn>(api, clientName);
            return Failure::None();
        } catch (const RtMidiError& e) {
            return Failure::Because(FailureKind::SourceOpen, e.getMessage());
        }
    });
    why = chosen.backend == MidiBackend::None ? Failure::Because(FailureKind::SourceOpen, chosen.why)
                                              : Failure::None();
    return std::make_unique<RtMidiInput>(chosen.backend, clientName, std::move(lister),
                                         std::move(chosen.probe));
}

}  // namespace platform
