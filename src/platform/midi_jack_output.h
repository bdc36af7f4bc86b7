// One MIDI output port on a JACK server, from a client of our own. Only midi_output_rtmidi.cpp
// includes this.
//
// RtMidi's own JACK output frees the ring its process callback reads before it closes its client,
// so a callback still in flight at that moment reads freed memory: a rare crash as the program
// ends. Here closing first waits for what was sent to leave, then deactivates the client (after
// which the callback never runs again), and only then frees what the callback uses.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/failure.h"

namespace platform::rtmidi {

class JackMidiOutput {
  public:
    // A client named `clientName` with one port, "output", linked to the port `target`.
    [[nodiscard]] static std::unique_ptr<JackMidiOutput> Open(const std::string& clientName,
                                                              const std::string& target, Failure& why);
    ~JackMidiOutput();
    JackMidiOutput(const JackMidiOutput&) = delete;
    JackMidiOutput& operator=(const JackMidiOutput&) = delete;

    // Queues one message for the next period. From one thread at a time; false when the queue
    // stayed full for longer than a busy server could explain.
    bool Send(const uint8_t* bytes, size_t size);

  private:
    JackMidiOutput() = default;
    static int Process(jack_nframes_t frames, void* self);
    void WaitForPeriods(int periods) const;

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    bool active_ = false;
    std::atomic<uint64_t> periods_{0};  // process callbacks run so far
};

}  // namespace platform::rtmidi
