// The song sent to a MIDI instrument as it plays: a MidiSequencer run against the steady clock on
// a thread of its own, sending through a platform MidiOutput.
//
// The thread sleeps until the next message is due (or a change comes) and wakes to send it, so a
// message leaves within the scheduler's wake-up time of its moment, however the window's frames
// fall. Every change (play, pause, seek, a mute...) is made under one lock, with the sequencer's
// answer sent at once from the caller's thread; the thread and the caller thus never send at the
// same time, and the output sees one stream of messages. The lock is held only to work out and
// send a few messages, never across a wait.
//
// The output is the caller's and must outlive the sender, or be taken away first with
// SetOutput(nullptr): the notes sounding on it are let go before it is.
//
// Given a clock of its own, the sender runs no thread: its owner calls Pump whenever that clock
// has moved, and every rule is then followed with scripted times (the window's tests do).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "midi/song_events.h"
#include "platform/clock.h"
#include "platform/midi_output.h"
#include "synth/midi_sequencer.h"

class MidiSender {
  public:
    // Seconds on the clock the sender runs on.
    using Clock = std::function<double()>;

    // `events` must outlive the sender. The song starts stopped; the thread starts at once, unless
    // `clock` is given: then nothing is sent but from the caller's own calls and Pump.
    MidiSender(const SongEvents& events, platform::MidiOutput* output, Clock clock = nullptr);
    // Lets every note go on the output and ends the thread.
    ~MidiSender();
    MidiSender(const MidiSender&) = delete;
    MidiSender& operator=(const MidiSender&) = delete;

    void Play();
    void Pause();
    void Stop();
    void Seek(double seconds);
    void Wait(bool waiting);
    void Shift(double seconds);
    void SetSpeed(double speed);
    void SetLatency(double seconds);
    void SetLoop(double start, double end);
    void SetMutes(const PartMutes& mutes);
    void SetTransposition(int semitones);
    void SetMetronome(bool on);
    void SetPassesCountedIn(bool on);
    // A bar of `clicks` before the song plays from `seconds` at `start`, on the sender's clock
    // (see MidiSequencer::CountIn).
    void CountIn(double seconds, const std::vector<Beat>& clicks, double start);
    // Lets every note go on the output now; the song plays on if it was playing.
    void ReleaseAll();
    // Lets every note go on the output there was, then sends to `output` (null: to none) from the
    // song's position on. The old output may be closed once this returns.
    void SetOutput(platform::MidiOutput* output);
    // One message of the player's own (a key played along), sent now in between the song's, so
    // that the output still hears one stream. False when the output refused it.
    bool SendNow(const uint8_t* bytes, size_t size);
    // Without a thread: sends what is due on the clock's now.
    void Pump();

    [[nodiscard]] double Position() const;
    [[nodiscard]] bool Playing() const;
    [[nodiscard]] bool Finished() const;
    // Messages the output refused since the sender started (an output closed under it, a device
    // gone): the caller decides whether the device went away.
    [[nodiscard]] uint64_t Refused() const;

  private:
    // Runs `change` on the sequencer under the lock at the steady clock's now, sends what it
    // answers, and wakes the thread, whose next message may now be due sooner.
    void Change(const std::function<void(MidiSequencer&, double, MidiSequencer::Out&)>& change);
    void SendOut();  // under the lock
    void Run();
    [[nodiscard]] double Now() const { return clock_ ? clock_() : platform::SteadySeconds(); }

    mutable std::mutex lock_;
    std::condition_variable wake_;
    Clock clock_;
    MidiSequencer sequencer_;
    MidiSequencer::Out out_;
    platform::MidiOutput* output_;
    uint64_t refused_ = 0;
    bool quit_ = false;
    std::thread thread_;  // last: starts once everything it reads is made; none with a clock given
};
