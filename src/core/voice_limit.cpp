#include "core/voice_limit.h"

#include <atomic>

namespace {

// 0: no limit set. Read by whichever thread starts a render.
std::atomic<int> gVoices{0};

}  // namespace

int RenderVoiceLimit() {
    return gVoices.load(std::memory_order_relaxed);
}

void SetRenderVoiceLimit(int voices) {
    const bool inRange = voices >= kLeastVoiceLimit && voices <= kMostVoiceLimit;
    gVoices.store(inRange ? voices : 0, std::memory_order_relaxed);
}

bool ParseVoiceLimit(const std::string& text, int& voices) {
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < kLeastVoiceLimit || value > kMostVoiceLimit) return false;
    voices = value;
    return true;
}
