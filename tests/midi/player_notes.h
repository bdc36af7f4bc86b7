// The notes as the synthesiser's own file player sends them, to check the reader against: a MIDI
// file in memory is played through FluidSynth's player, timed by its sample clock, and every
// note-on and note-off it sends is taken down with the time of the audio block it sounds in.
// Nothing is rendered audibly (no SoundFont is loaded); only the player's timing matters.
#pragma once

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/song_data.h"

namespace player_notes {

struct PlayedNote {
    int channel;
    int key;
    double start;
    double end;  // -1 while nothing released it
};

struct Played {
    bool loaded = false;
    std::vector<PlayedNote> notes;  // in the order the player sent the note-ons
};

namespace detail {

inline void Quiet(int, const char*, void*) {}

struct Recorder {
    double now = 0.0;
    bool any = false;
    std::vector<PlayedNote> notes;
    int sounding[16][128];

    void End(int channel, int key) {
        int& s = sounding[channel][key];
        if (s >= 0) notes[static_cast<size_t>(s)].end = now;
        s = -1;
    }
};

inline int OnEvent(void* data, fluid_midi_event_t* event) {
    auto& r = *static_cast<Recorder*>(data);
    r.any = true;
    const int type = fluid_midi_event_get_type(event);
    const int channel = fluid_midi_event_get_channel(event);
    const int key = fluid_midi_event_get_key(event);
    if ((type != 0x90 && type != 0x80) || channel < 0 || channel > 15 || key < 0 || key > 127)
        return FLUID_OK;
    const int velocity = fluid_midi_event_get_velocity(event);
    if (velocity > 127) return FLUID_OK;  // the synthesiser refuses it
    // The synthesiser releases a key's sounding note when the key is struck again, and a note-off
    // releases whatever sounds on its key.
    r.End(channel, key);
    if (type == 0x90 && velocity > 0) {
        r.sounding[channel][key] = static_cast<int>(r.notes.size());
        r.notes.push_back({channel, key, r.now, -1.0});
    }
    return FLUID_OK;
}

}  // namespace detail

// Plays the file through the player at `sampleRate`, one 64-sample block at a time, for at most
// `maxSeconds` of song.
inline Played Play(const uint8_t* data, size_t size, double sampleRate = 44100.0,
                   double maxSeconds = 1900.0) {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
        fluid_set_log_function(level, &detail::Quiet, nullptr);
    }
    std::unique_ptr<fluid_settings_t, void (*)(fluid_settings_t*)> settings(new_fluid_settings(),
                                                                            &delete_fluid_settings);
    fluid_settings_setnum(settings.get(), "synth.sample-rate", sampleRate);
    fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
    std::unique_ptr<fluid_synth_t, void (*)(fluid_synth_t*)> synth(new_fluid_synth(settings.get()),
                                                                   &delete_fluid_synth);
    std::unique_ptr<fluid_player_t, void (*)(fluid_player_t*)> player(new_fluid_player(synth.get()),
                                                                      &delete_fluid_player);
    auto recorder = std::make_unique<detail::Recorder>();
    for (auto& channel : recorder->sounding) std::fill(std::begin(channel), std::end(channel), -1);
    fluid_player_set_playback_callback(player.get(), &detail::OnEvent, recorder.get());
    Played out;
    if (fluid_player_add_mem(player.get(), data, size) != FLUID_OK) return out;
    fluid_player_play(player.get());
    constexpr int kBlock = 64;
    float left[kBlock], right[kBlock];
    const long maxBlocks = std::lround(maxSeconds * sampleRate / kBlock);
    long block = 0;
    for (; block < maxBlocks && fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING; ++block) {
        // The player runs at the start of each block, so what it sends sounds from this block on.
        recorder->now = static_cast<double>(block) * kBlock / sampleRate;
        fluid_synth_write_float(synth.get(), kBlock, left, 0, 1, right, 0, 1);
    }
    // A file the player cannot load stops it in its first block without a single event.
    out.loaded = recorder->any || block > 1;
    out.notes = std::move(recorder->notes);
    return out;
}

// How the reader's notes compare with the player's, percussion left out.
struct Agreement {
    bool sameNotes = false;   // each key sounds as often in both
    double worstStart = 0.0;  // the largest difference between matching starts, seconds
    double worstEnd = 0.0;    // the largest by which a reader's end misses the player's, beyond the gap
    size_t notes = 0;
};

inline Agreement Compare(const SongData& song, const Played& played) {
    std::map<int, std::vector<std::pair<double, double>>> ours, theirs;  // key: (start, end) in time order
    for (int p = 0; p < song.partCount; ++p) {
        for (int i = 0; i < song.parts[p].noteCount; ++i) {
            const NoteRecord& n = song.parts[p].notes[i];
            ours[n.key].emplace_back(n.start, n.end);
        }
    }
    for (const PlayedNote& n : played.notes) {
        if (n.channel != kPercussionChannel) theirs[n.key].emplace_back(n.start, n.end);
    }
    Agreement a;
    a.sameNotes = ours.size() == theirs.size();
    for (auto& [key, list] : ours) {
        auto& other = theirs[key];
        std::stable_sort(list.begin(), list.end());
        std::stable_sort(other.begin(), other.end());
        if (list.size() != other.size()) {
            a.sameNotes = false;
            continue;
        }
        for (size_t i = 0; i < list.size(); ++i) {
            a.worstStart = std::max(a.worstStart, std::abs(list[i].first - other[i].first));
            if (other[i].second >= 0) {
                // The reader may end a note up to 1/60 s early (repeated keys are pulled apart).
                const double d = other[i].second - list[i].second;
                const double miss = d > 0 ? std::max(0.0, d - 1.0 / 60.0) : -d;
                a.worstEnd = std::max(a.worstEnd, miss);
            }
            ++a.notes;
        }
    }
    return a;
}

}  // namespace player_notes
