// A sound output whose rings are moved by the test: nothing plays unless the test advances it.
#pragma once

#include <memory>

#include "platform/sound.h"

class ManualOutput : public platform::SoundOutput {
  public:
    std::unique_ptr<platform::SoundRing> CreateRing(const platform::SoundFormat& f, uint32_t bytes) override {
        ++created;
        if (refuse) return nullptr;
        format = f;
        auto r = std::make_unique<platform::MemorySoundRing>(bytes);
        ring = r.get();
        return r;
    }

    platform::MemorySoundRing* ring = nullptr;  // the last ring made
    platform::SoundFormat format;
    int created = 0;
    bool refuse = false;
};
