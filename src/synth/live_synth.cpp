#include "synth/live_synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>

#include "audio/volume.h"
#include "synth/soundfont_load.h"

namespace live_detail {

struct Engine {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    ~Engine() {
        if (synth != nullptr) delete_fluid_synth(synth);
        if (settings != nullptr) delete_fluid_settings(settings);
    }
};

EventQueue::EventQueue() {
    for (uint32_t i = 0; i < kCapacity; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
}

bool EventQueue::Push(const Event& event) {
    uint32_t pos = head_.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells_[pos % kCapacity];
        const uint32_t seq = cell.sequence.load(std::memory_order_acquire);
        const auto lead = static_cast<int32_t>(seq - pos);
        if (lead == 0) {
            // The cell is free for this position; claim the position, or learn who did.
            if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                cell.event = event;
                cell.sequence.store(pos + 1, std::memory_order_release);
                return true;
            }
        } else if (lead < 0) {
            return false;  // the reader has not yet taken the cell a lap ago: full
        } else {
            pos = head_.load(std::memory_order_relaxed);
        }
    }
}

bool EventQueue::Pop(Event& event) {
    // One reader: no other thread moves tail_.
    const uint32_t pos = tail_.load(std::memory_order_relaxed);
    Cell& cell = cells_[pos % kCapacity];
    if (cell.sequence.load(std::memory_order_acquire) != pos + 1) return false;
    event = cell.event;
    cell.sequence.store(pos + kCapacity, std::memory_order_release);
    tail_.store(pos + 1, std::memory_order_relaxed);
    return true;
}

}  // namespace live_detail

using live_detail::Engine;
using live_detail::Event;
using live_detail::EventKind;

namespace {

// The keys play on the first channel; the song's parts are never on this synthesiser.
constexpr int kChannel = 0;

// Events applied per period at most; the rest wait for the next. FluidSynth queues each key's
// voices for its next render in a queue of its own, and a flood of keys in one period overflows
// it, leaving voices held that never sound. Ten fingers and a pedal come nowhere near this.
constexpr int kMaxEventsPerPeriod = 32;

}  // namespace

LiveSynth::LiveSynth(uint32_t sampleRate)
    : sampleRate_(sampleRate), block_(std::make_unique<float[]>(size_t(kMaxBlock) * 2)) {}

LiveSynth::~LiveSynth() {
    delete current_;
    delete next_.exchange(nullptr);
    delete retired_.exchange(nullptr);
}

Failure LiveSynth::LoadSoundFont(const std::string& path) {
    CollectRetired();
    const auto refused = [&path](const char* reason) { return SoundFontRefused(path, reason); };
    auto engine = std::make_unique<Engine>();
    engine->settings = new_fluid_settings();
    if (engine->settings == nullptr) return refused("FluidSynth could not be set up");
    fluid_settings_setnum(engine->settings, "synth.sample-rate", double(sampleRate_));
    // The same fixed gain as the song's render, so that a key and the song's notes start alike.
    fluid_settings_setnum(engine->settings, "synth.gain", 0.5);
    fluid_settings_setint(engine->settings, "synth.lock-memory", 0);
    // Only the sound thread ever calls into this synthesiser once it is handed over, so
    // FluidSynth's own API lock would only cost time there.
    fluid_settings_setint(engine->settings, "synth.threadsafe-api", 0);
    engine->synth = new_fluid_synth(engine->settings);
    if (engine->synth == nullptr) return refused("FluidSynth could not create a synthesiser");
    if (Failure loaded = LoadSoundFontInto(engine->synth, path); !loaded.Ok()) return loaded;
    // A SoundFont loaded before and never taken up by the sound thread is dropped unheard.
    delete next_.exchange(engine.release(), std::memory_order_acq_rel);
    loaded_.store(true);
    return Failure::None();
}

void LiveSynth::CollectRetired() {
    delete retired_.exchange(nullptr, std::memory_order_acq_rel);
}

void LiveSynth::SetInstrument(int bank, int program) {
    const int b = std::clamp(bank, 0, 16383);
    Push({EventKind::Instrument, uint8_t(std::clamp(program, 0, 127)), uint8_t(b & 0x7F), uint8_t(b >> 7)});
}

void LiveSynth::SetVolume(float percent) {
    gain_.store(VolumeGain(percent), std::memory_order_relaxed);
}

bool LiveSynth::NoteOn(int key, int velocity) {
    if (key < 0 || key > 127) return false;
    if (velocity <= 0) return NoteOff(key);
    return Push({EventKind::NoteOn, uint8_t(key), uint8_t(std::min(velocity, 127)), 0});
}

bool LiveSynth::NoteOff(int key) {
    if (key < 0 || key > 127) return false;
    if (Push({EventKind::NoteOff, uint8_t(key), 0, 0})) return true;
    // A lost release would leave the key sounding until the next AllOff.
    panic_.store(true, std::memory_order_release);
    return false;
}

bool LiveSynth::AllOff() {
    if (Push({EventKind::AllOff, 0, 0, 0})) return true;
    panic_.store(true, std::memory_order_release);
    return false;
}

bool LiveSynth::Push(const Event& event) {
    return queue_.Push(event);
}

void LiveSynth::TakeNewEngine() {
    // The engine replaced goes back only once the loading thread has taken the one before, so
    // that nothing is ever deleted here.
    if (retired_.load(std::memory_order_acquire) != nullptr) return;
    Engine* fresh = next_.exchange(nullptr, std::memory_order_acq_rel);
    if (fresh == nullptr) return;
    retired_.store(current_, std::memory_order_release);
    current_ = fresh;
    fluid_synth_bank_select(current_->synth, kChannel, bank_);
    fluid_synth_program_change(current_->synth, kChannel, program_);
}

void LiveSynth::Apply(const Event& event) {
    fluid_synth_t* synth = current_ != nullptr ? current_->synth : nullptr;
    switch (event.kind) {
        case EventKind::NoteOn:
            if (synth != nullptr) fluid_synth_noteon(synth, kChannel, event.key, event.velocity);
            break;
        case EventKind::NoteOff:
            if (synth != nullptr) fluid_synth_noteoff(synth, kChannel, event.key);
            break;
        case EventKind::AllOff:
            if (synth != nullptr) fluid_synth_all_sounds_off(synth, kChannel);
            break;
        case EventKind::Instrument:
            bank_ = event.velocity | event.bankHigh << 7;
            program_ = event.key;
            if (synth != nullptr) {
                fluid_synth_bank_select(synth, kChannel, bank_);
                fluid_synth_program_change(synth, kChannel, program_);
            }
            break;
    }
}

void LiveSynth::Mix(int16_t* stereo, uint32_t frames, uint32_t rate) {
    TakeNewEngine();
    Event event;
    for (int n = 0; n < kMaxEventsPerPeriod && queue_.Pop(event); ++n) Apply(event);
    if (panic_.exchange(false, std::memory_order_acq_rel)) Apply({EventKind::AllOff, 0, 0, 0});
    if (current_ == nullptr || rate != sampleRate_ || stereo == nullptr) return;

    const float scale = gain_.load(std::memory_order_relaxed) * 32768.0f;
    float* block = block_.get();
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(frames - done, kMaxBlock);
        // Rendered even at zero volume, so that keys held meanwhile are where they should be
        // when the volume comes back.
        fluid_synth_write_float(current_->synth, int(n), block, 0, 2, block, 1, 2);
        int16_t* out = stereo + size_t(done) * 2;
        for (uint32_t i = 0; i < n * 2; ++i) {
            const long sum = long(out[i]) + std::lrint(block[i] * scale);
            out[i] = int16_t(std::clamp<long>(sum, -32768, 32767));
        }
        done += n;
    }
}
