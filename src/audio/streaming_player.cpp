#include "audio/streaming_player.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr uint16_t kWaveFormatIeeeFloat = 3;

}  // namespace

StreamingPlayer::StreamingPlayer(platform::SoundOutput& output, std::chrono::milliseconds period)
    : device(&output), refillPeriod(period) {}

StreamingPlayer::~StreamingPlayer() {
    KillTimer();
    buffer.reset();
}

void StreamingPlayer::KillTimer() {
    timer.Kill();
}

void StreamingPlayer::Create(const WavFormat& waveFormat) {
    // The old ring goes first: its refill must be over before anything it uses is replaced.
    KillTimer();
    buffer.reset();
    format = waveFormat;
    firstMidpointCount = 0;
    secondMidpointCount = 0;
    primed = false;

    const uint32_t a = format.avgBytesPerSec;
    // One second of frames must be exactly one second of bytes: the refill asks for
    // samplesPerSec frames into a staging block of avgBytesPerSec bytes.
    if (format.blockAlign == 0 || a == 0 || a > UINT32_MAX / 2 ||
        uint64_t(format.samplesPerSec) * format.blockAlign != a) {
        return;
    }
    if (format.formatTag != kWaveFormatPcm && format.formatTag != kWaveFormatIeeeFloat) return;

    platform::SoundFormat sf;
    sf.samplesPerSec = format.samplesPerSec;
    sf.channels = format.channels;
    sf.bitsPerSample = format.bitsPerSample;
    sf.isFloat = format.formatTag == kWaveFormatIeeeFloat;
    sf.blockAlign = format.blockAlign;
    std::unique_ptr<platform::SoundRing> ring = device->CreateRing(sf, 2 * a);
    if (!ring) return;
    // Half a second into each half: event 0 in the first half, event 1 in the second.
    const uint32_t offsets[2] = {a / 2 - 1, 3 * a / 2 - 1};
    if (!ring->SetNotifications(offsets, 2)) return;
    staging.assign(a, 0);
    buffer = std::move(ring);
}

void StreamingPlayer::Release() {
    KillTimer();
    buffer.reset();
    firstMidpointCount = 0;
    secondMidpointCount = 0;
    primed = false;
}

void StreamingPlayer::SetFillCallback(FillCallback callback, void* context) {
    fillCallback = callback;
    fillContext = context;
}

void StreamingPlayer::CopyStaging(const platform::RingRegions& regions) {
    std::memcpy(regions.first, staging.data(), regions.firstBytes);
    if (regions.second != nullptr)
        std::memcpy(regions.second, staging.data() + regions.firstBytes, regions.secondBytes);
}

void StreamingPlayer::Play() {
    if (device == nullptr || !buffer || fillCallback == nullptr) return;
    const uint32_t a = format.avgBytesPerSec;
    if (!primed) {
        uint32_t frames = 0;
        fillCallback(staging.data(), format.samplesPerSec, &frames, fillContext);
        const uint32_t bytes = uint32_t(std::min<uint64_t>(uint64_t(frames) * format.blockAlign, a));
        // Zero the rest: a song shorter than a second plays silence after its end.
        std::memset(staging.data() + bytes, 0, a - bytes);
        platform::RingRegions regions;
        if (!buffer->Lock(0, a, regions)) return;
        CopyStaging(regions);
        buffer->Unlock(regions);
        primed = true;
    }
    if (!buffer->Play()) return;
    if (refillPeriod.count() > 0) timer.Start(refillPeriod, [this] { OnTimer(); });
}

void StreamingPlayer::OnTimer() {
    if (!buffer) return;
    // When both flags are up, event 0 is taken now and event 1 on the next tick.
    const int event = buffer->TakeNotification();
    if (event < 0) return;
    const uint32_t a = format.avgBytesPerSec;
    uint32_t target = 0;
    if (event == 0) {
        ++firstMidpointCount;
        target = a;
    } else {
        ++secondMidpointCount;
        target = 0;
    }
    platform::RingRegions regions;
    if (!buffer->Lock(target, a, regions)) return;  // that half keeps its old audio
    uint32_t frames = 0;
    fillCallback(staging.data(), format.samplesPerSec, &frames, fillContext);
    const uint32_t bytes = uint32_t(std::min<uint64_t>(uint64_t(frames) * format.blockAlign, a));
    std::memset(staging.data() + bytes, 0, a - bytes);
    CopyStaging(regions);
    buffer->Unlock(regions);
}

void StreamingPlayer::Pause() {
    if (!buffer) return;
    buffer->Stop();
    KillTimer();
}

void StreamingPlayer::Stop() {
    if (!buffer) return;
    buffer->Stop();
    KillTimer();
    platform::RingRegions regions;
    if (!buffer->Lock(0, 0, regions, true)) return;
    std::memset(regions.first, 0, regions.firstBytes);
    if (regions.second != nullptr) std::memset(regions.second, 0, regions.secondBytes);
    buffer->Unlock(regions);
    buffer->SetPlayCursor(0);
    buffer->ResetNotifications();
    firstMidpointCount = 0;
    secondMidpointCount = 0;
    primed = false;
}

uint32_t StreamingPlayer::GetPlayPosition() const {
    if (!buffer) return 0;
    const uint32_t r = format.samplesPerSec;
    const uint32_t h = 3 * r / 2;
    const uint32_t f = buffer->PlayCursor() / format.blockAlign;
    const uint32_t c0 = firstMidpointCount.load();
    const uint32_t c1 = secondMidpointCount.load();
    // Event 1 is handled once per lap, just after the cursor passes the one-and-a-half-second mark
    // h. With c1 laps counted, a cursor before h has wrapped into the next lap; a cursor at or
    // beyond it is still in lap c1, or in lap c0 when that lap's event 1 is still to be handled.
    // (At h itself the lap's event 1 has been raised, so the cursor has not wrapped.)
    if (c1 == 0) return f;
    if (f < h) return (2 * c1 - 2) * r + h + r / 2 + f;
    const uint32_t c = c1 < c0 ? c0 : c1;
    return (2 * c - 2) * r + f + 1;
}
