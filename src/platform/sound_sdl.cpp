// The sound device behind SoundOutput: one SDL audio device per ring, whose callback pulls the
// ring's bytes at its read position.
#include <SDL.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/sound.h"

namespace platform {

namespace {
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

namespace {

bool SdlFormatOf(const SoundFormat& f, SDL_AudioFormat& out) {
    if (f.isFloat) {
        if (f.bitsPerSample != 32) return false;
        out = AUDIO_F32LSB;
        return true;
    }
    switch (f.bitsPerSample) {
        case 8:
            out = AUDIO_U8;
            return true;
        case 16:
            out = AUDIO_S16LSB;
            return true;
        case 32:
            out = AUDIO_S32LSB;
            return true;
        default:
            return false;
    }
}

class SdlOutput;

// A ring and the device that plays it. A ring of 16-bit stereo may also host the output's live
// mixer: its callback then adds the live sound to what it has just pulled.
class SdlRing final : public MemorySoundRing {
  public:
    SdlRing(SdlOutput& output, uint32_t bytes, uint8_t silence, uint32_t latencyBytes, bool mixable)
        : MemorySoundRing(bytes, silence, latencyBytes), output_(output), mixable_(mixable) {}
    ~SdlRing() override;

    bool OpenDevice(const SDL_AudioSpec& wanted) {
        SDL_AudioSpec spec = wanted;
        spec.callback = &SdlRing::Feed;
        spec.userdata = this;
        rate_ = uint32_t(wanted.freq);
        // No changes allowed: SDL converts to whatever the hardware takes, so the ring's bytes go
        // out exactly as the file has them, and the callback is handed exactly `samples` frames.
        device_ = SDL_OpenAudioDevice(nullptr, 0, &spec, nullptr, 0);
        if (device_ == 0) return false;
        SDL_PauseAudioDevice(device_, 0);  // a stopped ring plays silence
        return true;
    }

    [[nodiscard]] bool Mixable() const { return mixable_; }
    // Waits for a callback in progress and holds the next one off until UnlockDevice.
    void LockDevice() { SDL_LockAudioDevice(device_); }
    void UnlockDevice() { SDL_UnlockAudioDevice(device_); }

  private:
    static void SDLCALL Feed(void* self, Uint8* stream, int len);

    SdlOutput& output_;
    const bool mixable_;
    uint32_t rate_ = 0;
    SDL_AudioDeviceID device_ = 0;
};

class SdlOutput final : public SoundOutput {
  public:
    ~SdlOutput() override {
        // At exit: the live-only device closes with nothing attached, so that its going opens no
        // other.
        std::unique_ptr<SdlRing> last;
        std::lock_guard<std::mutex> hold(mutex_);
        mixer_.store(nullptr);
        last = std::move(liveOnly_);
    }

    std::unique_ptr<SoundRing> CreateRing(const SoundFormat& format, uint32_t bytes) override {
        std::unique_ptr<SdlRing> ring;
        std::unique_ptr<SdlRing> retired;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            ring = OpenRing(format, bytes);
            if (ring) {
                rings_.push_back(ring.get());
                retired = Rehost();
            }
        }
        return ring;  // `retired`, a live-only device no longer needed, closes here, unlocked
    }

    void AttachLiveMixer(LiveMixer* mixer, uint32_t liveRate) override {
        std::unique_ptr<SdlRing> stale, retired;
        std::lock_guard<std::mutex> hold(mutex_);
        if (liveOnly_ && liveRate != liveRate_) {
            // The live-only device plays at the rate it was opened with; another opens for the new.
            if (host_.load() == liveOnly_.get()) SwitchHost(nullptr);
            rings_.erase(std::remove(rings_.begin(), rings_.end(), liveOnly_.get()), rings_.end());
            stale = std::move(liveOnly_);
        }
        liveRate_ = liveRate;
        if (SdlRing* host = host_.load()) {
            // The host's callback is either done with the old mixer or not yet begun.
            host->LockDevice();
            mixer_.store(mixer);
            host->UnlockDevice();
        } else {
            mixer_.store(mixer);
        }
        retired = Rehost();
    }

    void SetDevicePeriod(uint32_t frames) override {
        std::lock_guard<std::mutex> hold(mutex_);
        periodFrames_ = std::clamp<uint32_t>(frames, 64, 8192);
    }

    // From a ring's destructor, before its device closes: it stops hosting and is forgotten.
    void Forget(SdlRing* ring) {
        std::unique_ptr<SdlRing> retired;
        std::lock_guard<std::mutex> hold(mutex_);
        rings_.erase(std::remove(rings_.begin(), rings_.end(), ring), rings_.end());
        if (ring == liveOnly_.get()) (void)liveOnly_.release();  // being destroyed by its owner
        retired = Rehost();
    }

    // The device callback: the live mixer, when this ring hosts it. Runs under the device's own
    // lock, which Rehost and AttachLiveMixer take before changing either pointer.
    void MixLive(SdlRing* ring, Uint8* stream, int len, uint32_t rate) {
        if (host_.load(std::memory_order_acquire) != ring) return;
        if (LiveMixer* mixer = mixer_.load(std::memory_order_acquire)) {
            AskForRealTime();
            mixer->Mix(reinterpret_cast<int16_t*>(stream), uint32_t(len) / 4, rate);
        }
    }

  private:
    // A key's sound waits for this thread's next period; on a busy machine a thread of ordinary
    // priority can be woken many periods late. The device thread that mixes keys asks once for
    // real-time scheduling, low among real-time threads (a sound server's own run higher); where
    // the system refuses, as it does for users without a real-time allowance, it stays as it was.
    static void AskForRealTime() {
        thread_local bool asked = false;
        if (asked) return;
        asked = true;
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
        (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    }

    // With mutex_ held: a ring playing `format` on a device of its own, or null.
    std::unique_ptr<SdlRing> OpenRing(const SoundFormat& format, uint32_t bytes) {
        SDL_AudioFormat sdlFormat = 0;
        if (bytes == 0 || format.samplesPerSec == 0 || format.samplesPerSec > INT32_MAX ||
            format.channels == 0 || format.channels > 255 ||
            format.blockAlign != format.channels * (format.bitsPerSample / 8) ||
            !SdlFormatOf(format, sdlFormat)) {
            return nullptr;
        }
        SDL_AudioSpec wanted{};
        wanted.freq = int(format.samplesPerSec);
        wanted.format = sdlFormat;
        wanted.channels = Uint8(format.channels);
        wanted.samples = Uint16(periodFrames_);
        const uint8_t silence = sdlFormat == AUDIO_U8 ? 0x80 : 0;
        const bool mixable = sdlFormat == AUDIO_S16LSB && format.channels == 2;
        const uint32_t latency = periodFrames_ * format.blockAlign;

        if (!started_) {
            started_ = true;
            QuietenAlsa();
            if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0 && !UseSilentDevice()) return nullptr;
        }
        auto ring = std::make_unique<SdlRing>(*this, bytes, silence, latency, mixable);
        if (ring->OpenDevice(wanted)) return ring;
        if (silent_ || !UseSilentDevice()) return nullptr;
        ring = std::make_unique<SdlRing>(*this, bytes, silence, latency, mixable);
        if (ring->OpenDevice(wanted)) return ring;
        return nullptr;
    }

    // With mutex_ held: hands the live mixer to the newest song ring that can take it, or to a
    // device of its own while there is none. Returns the live-only device when it is no longer
    // wanted, for the caller to close once mutex_ is released (closing it calls Forget).
    std::unique_ptr<SdlRing> Rehost() {
        SdlRing* want = nullptr;
        for (auto it = rings_.rbegin(); it != rings_.rend() && want == nullptr; ++it) {
            if ((*it)->Mixable() && *it != liveOnly_.get()) want = *it;
        }
        if (want == nullptr && mixer_.load() != nullptr) {
            if (!liveOnly_) {
                const SoundFormat live{liveRate_, 2, 16, false, 4};
                // Never played: the ring's silence is what the live sound is mixed into.
                liveOnly_ = OpenRing(live, live.blockAlign * periodFrames_);
                if (liveOnly_) rings_.push_back(liveOnly_.get());
            }
            want = liveOnly_.get();
        }
        if (want != host_.load()) SwitchHost(want);
        if (want != liveOnly_.get()) return std::move(liveOnly_);
        return nullptr;
    }

    // With mutex_ held. The old host finishes the period it is mixing before the new one may start.
    void SwitchHost(SdlRing* to) {
        SdlRing* host = host_.load();
        if (host != nullptr) host->LockDevice();
        host_.store(to, std::memory_order_release);
        if (host != nullptr) host->UnlockDevice();
    }

    // The ALSA library writes its own lines to standard error for every device it cannot open, a
    // dozen on a machine without a sound card; our one-line notice says what matters. Its handler
    // is set through the library SDL itself loads, so that nothing links against ALSA.
    static void QuietenAlsa() {
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using SetHandler = int (*)(Handler);
        void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_NODELETE);
        if (alsa == nullptr) return;
        if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) {
            set(&IgnoreAlsaMessage);
        }
        dlclose(alsa);
    }

    // Moves to SDL's dummy driver, which consumes sound in real time and plays none: the song
    // still runs and the notes still fall on a machine without a sound card or server.
    bool UseSilentDevice() {
        silent_ = true;
        std::fprintf(stderr, "%s: no sound device was found; playing without sound\n",
                     program_invocation_short_name);
        if (SDL_WasInit(SDL_INIT_AUDIO) != 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
        return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }

    std::mutex mutex_;  // everything below but the two atomics, which the callbacks read
    bool started_ = false;
    bool silent_ = false;
    // Frames the device asks for at a time. The default is small enough that the play cursor moves
    // in steps shorter than a drawn frame, large enough not to starve under load.
    uint32_t periodFrames_ = kDefaultDeviceFrames;
    uint32_t liveRate_ = kSampleRate;
    std::vector<SdlRing*> rings_;        // every open ring, oldest first
    std::unique_ptr<SdlRing> liveOnly_;  // the device of the live sound while no song ring can be
    std::atomic<LiveMixer*> mixer_{nullptr};
    std::atomic<SdlRing*> host_{nullptr};  // the one ring whose callback calls the mixer
};

SdlRing::~SdlRing() {
    output_.Forget(this);
    // Closing waits for a running callback, so the ring's bytes outlive every read of them.
    if (device_ != 0) SDL_CloseAudioDevice(device_);
}

void SDLCALL SdlRing::Feed(void* self, Uint8* stream, int len) {
    if (len <= 0) return;
    auto* ring = static_cast<SdlRing*>(self);
    ring->Pull(stream, uint32_t(len));
    if (ring->mixable_) ring->output_.MixLive(ring, stream, len, ring->rate_);
}

}  // namespace

SoundOutput& SdlSoundOutput() {
    static SdlOutput output;
    return output;
}

}  // namespace platform
