#include "synth/click_notes.h"

#include <algorithm>
#include <cmath>

#include "core/song_data.h"

namespace {

// A click rings this long on the instrument, or half the way to the next beat when the beats come
// faster: a wood block's sound is over well before it, so only the note's bookkeeping needs it.
constexpr double kClickNoteSeconds = 0.05;
// The plain beat's velocity against the accent's, as the rendered click's levels are.
constexpr float kBeatShare = 0.7f;

uint8_t Velocity(float level) {
    if (!(level > 0)) return 0;
    return static_cast<uint8_t>(std::clamp(std::lround(std::min(level, 1.0f) * 127.0f), 1L, 127L));
}

}  // namespace

uint8_t AccentClickVelocity(float volume) {
    return Velocity(volume);
}

uint8_t BeatClickVelocity(float volume) {
    return Velocity(volume * kBeatShare);
}

void AddClickNotes(const std::vector<Beat>& beats, float volume, SongEvents& song) {
    const uint8_t accent = AccentClickVelocity(volume);
    const uint8_t plain = BeatClickVelocity(volume);
    if (accent == 0 || beats.empty()) return;
    constexpr auto kNoteOn = static_cast<uint8_t>(0x90 | kPercussionChannel);
    constexpr auto kNoteOff = static_cast<uint8_t>(0x80 | kPercussionChannel);
    std::vector<SongEvent> clicks;
    clicks.reserve(beats.size() * 2);
    for (size_t i = 0; i < beats.size(); ++i) {
        const Beat& b = beats[i];
        double length = kClickNoteSeconds;
        if (i + 1 < beats.size()) length = std::min(length, (beats[i + 1].seconds - b.seconds) / 2);
        const uint8_t key = b.barStart ? kAccentClickKey : kBeatClickKey;
        clicks.push_back({b.seconds, kNoteOn, key, b.barStart ? accent : plain, kClickPart});
        clicks.push_back({b.seconds + std::max(length, 0.0), kNoteOff, key, 0, kNoPart});
    }
    // The note-offs of close beats may come after the next note-on's time only if the beats were
    // out of order; sorting keeps the list's promise whatever the beats were.
    const auto byTime = [](const SongEvent& a, const SongEvent& b) { return a.seconds < b.seconds; };
    std::stable_sort(clicks.begin(), clicks.end(), byTime);
    auto& events = song.events;
    const auto middle = static_cast<std::ptrdiff_t>(events.size());
    events.insert(events.end(), clicks.begin(), clicks.end());
    // Stable: at one moment the song's own events keep their order and come first.
    std::inplace_merge(events.begin(), events.begin() + middle, events.end(), byTime);
}
