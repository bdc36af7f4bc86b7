// The in-memory ring and the periodic timer; the device side is in sound_sdl.cpp.
#include "platform/sound.h"

#include <algorithm>
#include <cstring>

namespace platform {

MemorySoundRing::MemorySoundRing(uint32_t bytes, uint8_t silence, uint32_t latencyBytes)
    : bytes_(bytes, 0), shadow_(bytes, 0), silence_(silence), latencyBytes_(latencyBytes) {}

bool MemorySoundRing::Lock(uint32_t offset, uint32_t bytes, RingRegions& regions, bool entireRing) {
    std::lock_guard<std::mutex> hold(mutex_);
    const uint32_t size = Size();
    if (entireRing) {
        offset = 0;
        bytes = size;
    }
    if (locked_ || size == 0 || bytes == 0 || bytes > size || offset >= size) return false;
    regions = {};
    regions.first = shadow_.data() + offset;
    regions.firstBytes = std::min(bytes, size - offset);
    std::memcpy(regions.first, bytes_.data() + offset, regions.firstBytes);
    if (regions.firstBytes < bytes) {
        regions.second = shadow_.data();
        regions.secondBytes = bytes - regions.firstBytes;
        std::memcpy(regions.second, bytes_.data(), regions.secondBytes);
    }
    locked_ = true;
    return true;
}

void MemorySoundRing::Unlock(const RingRegions& regions) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!locked_) return;
    auto commit = [this](const uint8_t* region, uint32_t count) {
        if (region == nullptr || count == 0) return;
        const size_t offset = size_t(region - shadow_.data());
        if (offset + count > shadow_.size()) return;  // not a region of this ring
        std::memcpy(bytes_.data() + offset, region, count);
    };
    commit(regions.first, regions.firstBytes);
    commit(regions.second, regions.secondBytes);
    locked_ = false;
}

bool MemorySoundRing::Play() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (bytes_.empty()) return false;
    if (!playing_) readSinceStart_ = 0;
    playing_ = true;
    return true;
}

void MemorySoundRing::Stop() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!playing_) return;
    playing_ = false;
    // What the device still holds plays out after this, so the cursor ends where reading stopped
    // and the next start continues from there without repeating or skipping a byte.
    MoveHeard(readPos_, Lag());
    readSinceStart_ = 0;
}

uint32_t MemorySoundRing::PlayCursor() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return heard_;
}

void MemorySoundRing::SetPlayCursor(uint32_t offset) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (bytes_.empty()) return;
    offset %= Size();
    readPos_ = heard_ = offset;
    readSinceStart_ = 0;
}

bool MemorySoundRing::SetNotifications(const uint32_t* offsets, int count) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (count < 0 || count > kMaxNotifications || (count > 0 && offsets == nullptr)) return false;
    for (int i = 0; i < count; ++i) {
        if (offsets[i] >= Size()) return false;
    }
    notificationCount_ = count;
    for (int i = 0; i < kMaxNotifications; ++i) {
        offsets_[i] = i < count ? offsets[i] : 0;
        raised_[i] = false;
    }
    return true;
}

int MemorySoundRing::TakeNotification() {
    std::lock_guard<std::mutex> hold(mutex_);
    for (int i = 0; i < notificationCount_; ++i) {
        if (raised_[i]) {
            raised_[i] = false;
            return i;
        }
    }
    return -1;
}

void MemorySoundRing::ResetNotifications() {
    std::lock_guard<std::mutex> hold(mutex_);
    for (bool& r : raised_) r = false;
}

void MemorySoundRing::Pull(uint8_t* out, uint32_t count) {
    std::lock_guard<std::mutex> hold(mutex_);
    const uint32_t size = Size();
    if (!playing_ || size == 0) {
        if (out != nullptr) std::memset(out, silence_, count);
        return;
    }
    uint32_t left = count;
    while (left > 0) {
        const uint32_t run = std::min(left, size - readPos_);
        if (out != nullptr) {
            std::memcpy(out, bytes_.data() + readPos_, run);
            out += run;
        }
        readPos_ = (readPos_ + run) % size;
        left -= run;
    }
    const uint64_t lagBefore = Lag();
    readSinceStart_ += count;
    const uint64_t lag = Lag();
    MoveHeard(uint32_t((readPos_ + size - lag) % size), count - (lag - lagBefore));
}

uint64_t MemorySoundRing::Lag() const {
    return std::min<uint64_t>({latencyBytes_, readSinceStart_, uint64_t(Size() - 1)});
}

void MemorySoundRing::MoveHeard(uint32_t to, uint64_t moved) {
    const uint32_t size = Size();
    // A flag rises once the byte at its offset has been heard.
    for (int i = 0; i < notificationCount_; ++i) {
        if ((offsets_[i] + size - heard_) % size < moved) raised_[i] = true;
    }
    heard_ = to;
}

bool MemorySoundRing::Playing() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return playing_;
}

std::vector<uint8_t> MemorySoundRing::Contents() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return bytes_;
}

void PeriodicTimer::Start(std::chrono::milliseconds period, std::function<void()> callback) {
    Kill();
    stop_ = false;
    thread_ = std::thread([this, period, callback = std::move(callback)] {
        std::unique_lock<std::mutex> hold(mutex_);
        auto due = std::chrono::steady_clock::now() + period;
        for (;;) {
            if (wake_.wait_until(hold, due, [this] { return stop_; })) return;
            // The callback runs without the lock so that Kill can ask for the end meanwhile; Kill
            // then waits in join until this call is over.
            hold.unlock();
            callback();
            hold.lock();
            due += period;
            const auto now = std::chrono::steady_clock::now();
            if (due < now) due = now;  // a late tick is not made up for with a burst of calls
        }
    });
}

void PeriodicTimer::Kill() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

}  // namespace platform
