// LiveSynth: the player's own keys, synthesised as they are played and mixed into the sound
// device's output beside the song.
//
// The song is rendered ahead and streamed through a two-second ring; a key pressed now cannot wait
// for that. The live synthesiser is a FluidSynth synthesiser of its own, driven by key events and
// rendered one device period at a time on the sound device's thread (it is a platform::LiveMixer,
// attached to the sound output), so that a key sounds in the next period the device asks for.
//
// Threads:
// - Any thread (the MIDI input's, the window's) calls NoteOn, NoteOff, AllOff, SetInstrument and
//   SetVolume. Events go through a bounded lock-free queue; a full queue drops a key press (and
//   silences every key if it was a release, so that no note hangs) and never waits.
// - The sound device's thread calls Mix. It takes no lock and allocates nothing: it applies the
//   queued events, renders and adds.
// - One thread at a time (the window's) calls LoadSoundFont. The new synthesiser is built there,
//   SoundFont and all, and handed over through an atomic pointer; the sound thread swaps it in at
//   the start of a period, and the one it replaces comes back the same way to be deleted on the
//   loading thread, never on the sound thread: in the next LoadSoundFont, or in CollectRetired,
//   which the loading thread calls now and then (once a frame) so that the old SoundFont's samples
//   do not stay in memory until then.
//
// Timing: every event is applied at the start of the next period rendered, whatever its
// timestamp. An event is late by the time it is seen; placing it at an offset within the period
// would only add to that. A key is therefore heard in the first period rendered after it
// arrives: at most one period late at the device's buffer (5.8 ms at 256 frames and 44.1 kHz),
// half that on average, plus whatever the device itself holds.
//
// Sizes: the device period for keys is platform::kLiveDeviceFrames (256 frames, a 1 KiB buffer of
// 16-bit stereo), rendered in one FluidSynth call; the queue holds EventQueue::kCapacity events,
// of which at most 32 are applied in one period.
#pragma once

#include <fluidsynth/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/failure.h"
#include "core/sample_rate.h"
#include "platform/midi_input.h"
#include "platform/sound.h"

namespace live_detail {

enum class EventKind : uint8_t { NoteOn, NoteOff, AllOff, Instrument };

struct Event {
    EventKind kind = EventKind::AllOff;
    uint8_t key = 0;       // or the program, for Instrument
    uint8_t velocity = 0;  // or the bank's low 7 bits, for Instrument
    uint8_t bankHigh = 0;  // the bank's bits above those, for Instrument
};

// A bounded queue for many producers and one consumer that never blocks either side: each cell
// carries a sequence number saying whose turn it is (the well-known bounded queue of sequenced
// cells). Capacity is a power of two.
class EventQueue {
  public:
    static constexpr uint32_t kCapacity = 1024;

    EventQueue();
    [[nodiscard]] bool Push(const Event& event);  // false when full
    [[nodiscard]] bool Pop(Event& event);         // false when empty

  private:
    struct Cell {
        std::atomic<uint32_t> sequence{0};
        Event event;
    };
    Cell cells_[kCapacity];
    alignas(64) std::atomic<uint32_t> head_{0};  // next cell to write
    alignas(64) std::atomic<uint32_t> tail_{0};  // next cell to read
};

struct Engine;  // one synthesiser with its SoundFont loaded

}  // namespace live_detail

class LiveSynth final : public platform::LiveMixer {
  public:
    // The frames rendered at most per FluidSynth call; a longer period is rendered in pieces.
    static constexpr uint32_t kMaxBlock = 1024;

    // A synthesiser for `sampleRate`; it mixes nothing into a device of another rate. It sounds
    // once a SoundFont is loaded.
    explicit LiveSynth(uint32_t sampleRate = kSampleRate);
    // The mixer must have been detached from every sound output first.
    ~LiveSynth() override;
    LiveSynth(const LiveSynth&) = delete;
    LiveSynth& operator=(const LiveSynth&) = delete;

    // Loads the SoundFont into a new synthesiser on the caller's thread (a large one takes a
    // second or more) and hands it to the sound thread, which swaps it in at its next period:
    // keys still sounding are cut. On a failure the SoundFont loaded before stays.
    [[nodiscard]] Failure LoadSoundFont(const std::string& path);
    [[nodiscard]] bool Loaded() const { return loaded_.load(); }
    // Deletes the synthesiser that a load replaced, once the sound thread has let it go. On the
    // loading thread only.
    void CollectRetired();

    // The instrument the keys play: a bank and a General MIDI program (0..127), as the chosen
    // part plays. Kept across SoundFont loads.
    void SetInstrument(int bank, int program);
    // The keys' own volume, 0..100 %, on the same curve as the song's volume control.
    void SetVolume(float percent);

    // A key pressed (velocity 1..127; 0 counts as a release) or released, 0..127. False when
    // the queue was full and the event was dropped.
    bool NoteOn(int key, int velocity);
    bool NoteOff(int key);
    // Silences every key at once (the input closed, playback stopped, the chosen part changed).
    bool AllOff();

    // The sound thread: renders `frames` frames and adds them, clamped, into `stereo`.
    void Mix(int16_t* stereo, uint32_t frames, uint32_t rate) override;

  private:
    bool Push(const live_detail::Event& event);
    void Apply(const live_detail::Event& event);  // sound thread
    void TakeNewEngine();                         // sound thread

    const uint32_t sampleRate_;
    live_detail::EventQueue queue_;
    std::atomic<float> gain_{1.0f};
    std::atomic<bool> loaded_{false};
    // A release could not be queued: the sound thread silences every key.
    std::atomic<bool> panic_{false};
    // The hand-over between the loading thread and the sound thread (see the header's top).
    std::atomic<live_detail::Engine*> next_{nullptr};
    std::atomic<live_detail::Engine*> retired_{nullptr};
    // The sound thread's own.
    live_detail::Engine* current_ = nullptr;
    int bank_ = 0;
    int program_ = 0;
    std::unique_ptr<float[]> block_;  // kMaxBlock interleaved stereo frames
};

// A MIDI keyboard's keys straight from its input's thread into a live synthesiser, with their own
// velocities: a key sounds within the sound device's period, whatever else the program is doing.
// Whoever reads the same keys from the input's queue (for lights, waiting, scoring) does not sound
// them again.
class LiveSynthThru final : public platform::MidiThru {
  public:
    explicit LiveSynthThru(LiveSynth& synth) : synth_(synth) {}
    void Pass(const platform::MidiMessage& message) override {
        const platform::KeyChange change = platform::KeyChangeOf(message);
        if (!change.isKey) return;
        if (change.down) {
            (void)synth_.NoteOn(change.key, message.bytes[2]);
        } else {
            (void)synth_.NoteOff(change.key);
        }
    }

  private:
    LiveSynth& synth_;
};
