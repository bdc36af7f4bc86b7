#include "platform/midi_jack_output.h"

#include <jack/midiport.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace platform::rtmidi {

namespace {

// Each message goes into the ring as its length, then its bytes, in one write, so that the
// callback never sees half of one.
using Length = uint32_t;
constexpr size_t kRingBytes = 16384;
constexpr size_t kLongestMessage = 256;

void Pause() {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

}  // namespace

std::unique_ptr<JackMidiOutput> JackMidiOutput::Open(const std::string& clientName, const std::string& target,
                                                     Failure& why) {
    const auto refused = [&](const std::string& reason) {
        why = Failure::Because(FailureKind::TargetOpen, "cannot open " + target + ": " + reason);
        return nullptr;
    };
    std::unique_ptr<JackMidiOutput> out(new JackMidiOutput);
    jack_status_t status{};
    out->client_ = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (out->client_ == nullptr) return refused("no JACK server running");
    out->ring_ = jack_ringbuffer_create(kRingBytes);
    out->port_ = jack_port_register(out->client_, "output", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (out->ring_ == nullptr || out->port_ == nullptr) return refused("JACK refused a port");
    if (jack_set_process_callback(out->client_, Process, out.get()) != 0 || jack_activate(out->client_) != 0)
        return refused("JACK refused to run the client");
    out->active_ = true;
    if (jack_connect(out->client_, jack_port_name(out->port_), target.c_str()) != 0)
        return refused("cannot connect to it");
    // The server takes a new connection into its graph at the start of a period, so a period
    // already under way still plays into nothing: the song's first chord, sent at once, would be
    // lost on a busy machine. Two whole periods later the connection carries what is sent.
    out->WaitForPeriods(2);
    why = Failure::None();
    return out;
}

JackMidiOutput::~JackMidiOutput() {
    if (client_ != nullptr) {
        // What was queued last (the releases, most often) leaves with the next period; the period
        // after hands it on to the instrument. A second is far more than a server that runs at
        // all needs.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (ring_ != nullptr && jack_ringbuffer_read_space(ring_) > 0 &&
               std::chrono::steady_clock::now() < deadline)
            Pause();
        if (active_) WaitForPeriods(2);
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    if (ring_ != nullptr) jack_ringbuffer_free(ring_);
}

void JackMidiOutput::WaitForPeriods(int periods) const {
    const uint64_t until = periods_.load(std::memory_order_acquire) + static_cast<uint64_t>(periods);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (periods_.load(std::memory_order_acquire) < until && std::chrono::steady_clock::now() < deadline)
        Pause();
}

bool JackMidiOutput::Send(const uint8_t* bytes, size_t size) {
    if (size == 0 || size > kLongestMessage) return false;
    char record[sizeof(Length) + kLongestMessage];
    const Length length = static_cast<Length>(size);
    std::memcpy(record, &length, sizeof length);
    std::memcpy(record + sizeof length, bytes, size);
    const size_t whole = sizeof length + size;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (jack_ringbuffer_write_space(ring_) < whole) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Pause();
    }
    return jack_ringbuffer_write(ring_, record, whole) == whole;
}

int JackMidiOutput::Process(jack_nframes_t frames, void* self) {
    auto* out = static_cast<JackMidiOutput*>(self);
    void* buffer = jack_port_get_buffer(out->port_, frames);
    jack_midi_clear_buffer(buffer);
    Length length = 0;
    while (jack_ringbuffer_peek(out->ring_, reinterpret_cast<char*>(&length), sizeof length) ==
               sizeof length &&
           jack_ringbuffer_read_space(out->ring_) >= sizeof length + length) {
        // A full period's buffer keeps the rest for the next period rather than losing it.
        jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, length);
        if (event == nullptr) break;
        jack_ringbuffer_read_advance(out->ring_, sizeof length);
        jack_ringbuffer_read(out->ring_, reinterpret_cast<char*>(event), length);
    }
    out->periods_.fetch_add(1, std::memory_order_release);
    return 0;
}

}  // namespace platform::rtmidi
