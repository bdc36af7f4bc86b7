// live_latency_probe: the listening end of bench/live_latency.sh. It takes keys over JACK MIDI and
// notes the moment each one's sound first reaches a sound buffer, on the monotonic clock that the
// sender stamps its events with.
//
//   live_latency_probe keys SOUNDFONT   the player's live keys: RtMidi input "probe:in" drives a
//                                       LiveSynth mixed into a playing song ring on the sound layer
//                                       (period kLiveDeviceFrames); the moment is when the device
//                                       callback that first carries the key's sound returns
//   live_latency_probe capture          a JACK client with an audio input "capture:in"; the moment
//                                       is the JACK cycle whose input first carries the sound
//
// A key's sound starts in the buffer whose peak passes kThreshold and is over four times the peak
// of the buffer before (the sender silences every key between presses). Prints one line per onset,
// "onset NANOSECONDS", and at the end the CPU time spent mixing, until its standard input closes.
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <time.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "synth/live_synth.h"

namespace {

constexpr int kThreshold = 200;  // of 32768: about -44 dBFS
constexpr size_t kMaxOnsets = 4096;

int64_t MonotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Onsets found on the audio thread, read once it has stopped.
struct Onsets {
    int lastPeak = 0;
    std::atomic<size_t> count{0};
    int64_t at[kMaxOnsets] = {};

    void Buffer(int peak, int64_t now) {
        // A struck key jumps; the tail of the one before, silenced but for its reverb, only dies.
        if (peak > kThreshold && peak > 4 * lastPeak && count.load() < kMaxOnsets) {
            at[count.load()] = now;
            count.fetch_add(1);
        }
        lastPeak = peak;
    }
    void Print() const {
        for (size_t i = 0; i < count.load(); ++i) std::printf("onset %lld\n", static_cast<long long>(at[i]));
    }
};

// Mixes the keys and looks at what they added.
class ProbeMixer final : public platform::LiveMixer {
  public:
    explicit ProbeMixer(LiveSynth& synth) : synth_(synth), before_(8192 * 2) {}
    void Mix(int16_t* stereo, uint32_t frames, uint32_t rate) override {
        const size_t n = std::min<size_t>(size_t(frames) * 2, before_.size());
        std::memcpy(before_.data(), stereo, n * 2);
        const int64_t cpu = ThreadCpuNs();
        synth_.Mix(stereo, frames, rate);
        mixCpuNs += ThreadCpuNs() - cpu;
        mixedFrames += frames;
        int peak = 0;
        for (size_t i = 0; i < n; ++i) peak = std::max(peak, std::abs(int(stereo[i]) - int(before_[i])));
        onsets.Buffer(peak, MonotonicNs());
    }
    Onsets onsets;
    int64_t mixCpuNs = 0;
    uint64_t mixedFrames = 0;

  private:
    LiveSynth& synth_;
    std::vector<int16_t> before_;
};

// The moments the keys were handed to the live synthesiser, read once the input has closed.
struct Received {
    LiveSynth* synth = nullptr;
    platform::MidiThru* thru = nullptr;
    size_t count = 0;
    int64_t at[kMaxOnsets] = {};
};

// The player's own path from the input's thread to the synthesiser: the message as the MIDI layer
// makes it, handed over as the window's input hands it.
void OnMidi(double, std::vector<unsigned char>* message, void* context) {
    auto* received = static_cast<Received*>(context);
    platform::MidiMessage m;
    if (!platform::MakeMidiMessage(0.0, message->data(), message->size(), m)) return;
    const int status = m.bytes[0] & 0xF0;
    if (status == 0x90 && received->count < kMaxOnsets) received->at[received->count++] = MonotonicNs();
    received->thru->Pass(m);
    if (status == 0xB0 && (m.bytes[1] == 120 || m.bytes[1] == 123)) received->synth->AllOff();
}

int RunKeys(const char* soundFont) {
    LiveSynth synth;
    if (const Failure f = synth.LoadSoundFont(soundFont); !f.Ok()) {
        std::fprintf(stderr, "live_latency_probe: %s\n", f.text.c_str());
        return 1;
    }
    platform::SoundOutput& output = platform::SdlSoundOutput();
    output.SetDevicePeriod(platform::kLiveDeviceFrames);
    // The song: a quiet tone playing round the ring, which the keys are mixed into.
    const platform::SoundFormat format{44100, 2, 16, false, 4};
    std::unique_ptr<platform::SoundRing> ring = output.CreateRing(format, 44100 * 4);
    platform::RingRegions r;
    if (!ring || !ring->Lock(0, 0, r, true)) return 1;
    for (uint32_t i = 0; i < r.firstBytes / 2; ++i) {
        const auto s = int16_t(1000 * std::sin(2 * M_PI * 220 * double(i / 2) / 44100));
        std::memcpy(r.first + i * 2, &s, 2);
    }
    ring->Unlock(r);
    if (!ring->Play()) return 1;
    ProbeMixer mixer(synth);
    output.AttachLiveMixer(&mixer);

    auto received = std::make_unique<Received>();
    received->synth = &synth;
    LiveSynthThru thru(synth);
    received->thru = &thru;
    RtMidiIn in(RtMidi::UNIX_JACK, "probe");
    in.setCallback(&OnMidi, received.get());
    in.openVirtualPort("in");
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    in.closePort();
    output.AttachLiveMixer(nullptr);
    ring->Stop();
    mixer.onsets.Print();
    for (size_t i = 0; i < received->count; ++i)
        std::printf("received %lld\n", static_cast<long long>(received->at[i]));
    std::printf("mixcpu %.3f\n",
                mixer.mixedFrames ? double(mixer.mixCpuNs) / 1e9 / (mixer.mixedFrames / 44100.0) : 0.0);
    return 0;
}

struct Capture {
    jack_port_t* port = nullptr;
    Onsets onsets;
};

int Process(jack_nframes_t frames, void* context) {
    auto* c = static_cast<Capture*>(context);
    const auto* in = static_cast<const float*>(jack_port_get_buffer(c->port, frames));
    float peak = 0;
    for (jack_nframes_t i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(in[i]));
    c->onsets.Buffer(int(peak * 32768), MonotonicNs());
    return 0;
}

int RunCapture() {
    jack_client_t* client = jack_client_open("capture", JackNoStartServer, nullptr);
    if (client == nullptr) return 1;
    auto capture = std::make_unique<Capture>();
    capture->port = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client, &Process, capture.get());
    if (capture->port == nullptr || jack_activate(client) != 0) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    jack_deactivate(client);
    jack_client_close(client);
    capture->onsets.Print();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "keys" && argc == 3) return RunKeys(argv[2]);
    if (mode == "capture" && argc == 2) return RunCapture();
    std::fprintf(stderr, "usage: live_latency_probe keys SOUNDFONT | capture\n");
    return 2;
}
