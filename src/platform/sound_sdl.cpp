// The sound device behind SoundOutput: one SDL audio device per ring, whose callback pulls the
// ring's bytes at its read position.
#include <SDL.h>
#include <dlfcn.h>
#include <errno.h>

#include <cstdio>
#include <mutex>

#include "platform/sound.h"

namespace platform {

namespace {
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

namespace {

// Frames the device asks for at a time. Small enough that the play cursor moves in steps shorter
// than a drawn frame, large enough not to starve under load.
constexpr Uint16 kDeviceFrames = 1024;

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

class SdlRing final : public MemorySoundRing {
  public:
    SdlRing(uint32_t bytes, uint8_t silence, uint32_t latencyBytes)
        : MemorySoundRing(bytes, silence, latencyBytes) {}
    ~SdlRing() override {
        // Closing waits for a running callback, so the ring's bytes outlive every read of them.
        if (device_ != 0) SDL_CloseAudioDevice(device_);
    }

    bool OpenDevice(const SDL_AudioSpec& wanted) {
        SDL_AudioSpec spec = wanted;
        spec.callback = &SdlRing::Feed;
        spec.userdata = this;
        // No changes allowed: SDL converts to whatever the hardware takes, so the ring's bytes go
        // out exactly as the file has them.
        device_ = SDL_OpenAudioDevice(nullptr, 0, &spec, nullptr, 0);
        if (device_ == 0) return false;
        SDL_PauseAudioDevice(device_, 0);  // a stopped ring plays silence
        return true;
    }

  private:
    static void SDLCALL Feed(void* self, Uint8* stream, int len) {
        if (len > 0) static_cast<SdlRing*>(self)->Pull(stream, uint32_t(len));
    }

    SDL_AudioDeviceID device_ = 0;
};

class SdlOutput final : public SoundOutput {
  public:
    std::unique_ptr<SoundRing> CreateRing(const SoundFormat& format, uint32_t bytes) override {
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
        wanted.samples = kDeviceFrames;
        const uint8_t silence = sdlFormat == AUDIO_U8 ? 0x80 : 0;

        std::lock_guard<std::mutex> hold(mutex_);
        if (!started_) {
            started_ = true;
            QuietenAlsa();
            if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0 && !UseSilentDevice()) return nullptr;
        }
        auto ring = std::make_unique<SdlRing>(bytes, silence, uint32_t(kDeviceFrames) * format.blockAlign);
        if (ring->OpenDevice(wanted)) return ring;
        if (silent_ || !UseSilentDevice()) return nullptr;
        ring = std::make_unique<SdlRing>(bytes, silence, uint32_t(kDeviceFrames) * format.blockAlign);
        if (ring->OpenDevice(wanted)) return ring;
        return nullptr;
    }

  private:
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

    std::mutex mutex_;
    bool started_ = false;
    bool silent_ = false;
};

}  // namespace

SoundOutput& SdlSoundOutput() {
    static SdlOutput output;
    return output;
}

}  // namespace platform
