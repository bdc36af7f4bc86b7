#include "synth/part_mute.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

constexpr int kKeys = 128;
constexpr int kNoteOn = 0x90;
constexpr int kNoteOff = 0x80;
constexpr int kKeyPressure = 0xA0;

}  // namespace

NoteMuter::NoteMuter(const SongData* song, const PartMutes& mutes, double speed, uint32_t sampleRate,
                     const int64_t* frames, fluid_synth_t* synth, double startSeconds, int transpose)
    : transpose_(transpose),
      hands_(song != nullptr && song->reading == ReadingHands),
      drums_(mutes.drums),
      secondsPerFrame_(speed / static_cast<double>(sampleRate)),
      startSeconds_(startSeconds),
      frames_(frames),
      synth_(synth),
      keys_(static_cast<size_t>(kLanes) * kKeys) {
    const int parts = song == nullptr ? 0 : hands_ ? 2 : std::clamp(song->partCount, 0, kMaxParts);
    // The notes of each lane and key, counted first as muted or heard: most keys are one or the
    // other, and only the mixed ones keep their onsets.
    std::vector<uint32_t> muted(keys_.size()), heard(keys_.size());
    auto slotOf = [&](const SongPart& part, const NoteRecord& note) -> int {
        const int channel = hands_ ? 0 : part.channel;
        if (channel < 0 || channel >= kLanes || note.key >= kKeys) return -1;
        return LaneOf(channel) * kKeys + note.key;
    };
    auto eachNote = [&](auto&& visit) {
        for (int p = 0; p < parts; ++p) {
            const SongPart& part = song->parts[p];
            if (part.notes == nullptr) continue;
            for (int32_t i = 0; i < part.noteCount; ++i) {
                if (const int slot = slotOf(part, part.notes[i]); slot >= 0)
                    visit(static_cast<size_t>(slot), part.notes[i], mutes.parts.test(static_cast<size_t>(p)));
            }
        }
    };
    eachNote([&](size_t slot, const NoteRecord&, bool isMuted) { ++(isMuted ? muted : heard)[slot]; });
    uint32_t total = 0;
    for (size_t s = 0; s < keys_.size(); ++s) {
        KeyNotes& k = keys_[s];
        if (muted[s] == 0) continue;
        if (heard[s] == 0) {
            k.state = KeyState::Muted;
            continue;
        }
        k.state = KeyState::Mixed;
        k.begin = k.next = k.end = total;
        total += muted[s] + heard[s];
    }
    onsets_.resize(total);
    eachNote([&](size_t slot, const NoteRecord& note, bool isMuted) {
        KeyNotes& k = keys_[slot];
        if (k.state == KeyState::Mixed) onsets_[k.end++] = {note.start, isMuted};
    });
    for (const KeyNotes& k : keys_) {
        if (k.state != KeyState::Mixed) continue;
        // Stable, so that notes of one key struck together keep the order they were read in.
        std::stable_sort(onsets_.begin() + k.begin, onsets_.begin() + k.end,
                         [](const Onset& a, const Onset& b) { return a.start < b.start; });
    }
}

bool NoteMuter::Muted(int channel, int key) {
    if (channel == kPercussionChannel) return drums_;
    if (channel < 0 || channel >= kLanes || key < 0 || key >= kKeys) return false;
    KeyNotes& k = keys_[static_cast<size_t>(LaneOf(channel) * kKeys + key)];
    if (k.state != KeyState::Mixed) return k.state == KeyState::Muted;
    const double now = startSeconds_ + static_cast<double>(*frames_) * secondsPerFrame_;
    // Onsets well behind the position were never played as this key (the player read the file
    // otherwise); they are passed over for good.
    while (k.next < k.end && onsets_[k.next].start < now - kMatchSeconds) ++k.next;
    if (k.next < k.end && onsets_[k.next].start <= now + kMatchSeconds) return onsets_[k.next++].muted;
    return false;
}

NoteMuter::Route NoteMuter::RouteOf(int type, int channel, int key, int velocity, bool heard) {
    // A note-on of velocity 0 is a note-off, and passes like one.
    if (!heard && type == kNoteOn && velocity > 0 && Muted(channel, key)) return Route::Drop;
    const bool keyed = type == kNoteOn || type == kNoteOff || type == kKeyPressure;
    if (transpose_ == 0 || !keyed || channel == kPercussionChannel) return Route::AsIs;
    // Off the keyboard: the note is not played, and its note-off finds nothing.
    const int moved = key + transpose_;
    return moved < 0 || moved >= kKeys ? Route::Drop : Route::Moved;
}

int NoteMuter::SendMoved(int type, int channel, int key, int value) {
    const int moved = key + transpose_;
    if (type == kNoteOn && value > 0) return fluid_synth_noteon(synth_, channel, moved, value);
    if (type == kKeyPressure) return fluid_synth_key_pressure(synth_, channel, moved, value);
    return fluid_synth_noteoff(synth_, channel, moved);
}

int NoteMuter::Forward(void* data, fluid_midi_event_t* event) {
    auto* muter = static_cast<NoteMuter*>(data);
    const int type = fluid_midi_event_get_type(event);
    const int channel = fluid_midi_event_get_channel(event);
    const int key = fluid_midi_event_get_key(event);
    const int value = fluid_midi_event_get_velocity(event);
    switch (muter->RouteOf(type, channel, key, value)) {
        case Route::Drop:
            return FLUID_OK;
        case Route::AsIs:
            return fluid_synth_handle_midi_event(muter->synth_, event);
        case Route::Moved:
            // The moved note is sent on its own rather than by changing the event, which is the
            // player's own copy of the file: a second play of it would move the notes twice.
            return muter->SendMoved(type, channel, key, value);
    }
    return FLUID_OK;
}

int NoteMuter::PlayHeard(uint8_t status, uint8_t data1, uint8_t data2) {
    switch (RouteOf(status & 0xF0, status & 0x0F, data1, data2, true)) {
        case Route::Drop:
            return FLUID_OK;
        case Route::AsIs:
            return SendChannelEvent(synth_, status, data1, data2);
        case Route::Moved:
            return SendMoved(status & 0xF0, status & 0x0F, data1, data2);
    }
    return FLUID_OK;
}

int SendChannelEvent(fluid_synth_t* synth, uint8_t status, uint8_t data1, uint8_t data2) {
    const int channel = status & 0x0F;
    switch (status & 0xF0) {
        case kNoteOff:
            return fluid_synth_noteoff(synth, channel, data1);
        case kNoteOn:
            return data2 == 0 ? fluid_synth_noteoff(synth, channel, data1)
                              : fluid_synth_noteon(synth, channel, data1, data2);
        case kKeyPressure:
            return fluid_synth_key_pressure(synth, channel, data1, data2);
        case 0xB0:
            return fluid_synth_cc(synth, channel, data1, data2);
        case 0xC0:
            return fluid_synth_program_change(synth, channel, data1);
        case 0xD0:
            return fluid_synth_channel_pressure(synth, channel, data1);
        case 0xE0:
            // Fourteen bits, the low seven first.
            return fluid_synth_pitch_bend(synth, channel, data1 | (data2 << 7));
        default:
            return FLUID_FAILED;
    }
}

Failure AddMutedPart(const SongData& song, const std::string& part, PartMutes& mutes) {
    if (part == "drums") {
        if (song.percussionNotes <= 0) {
            return Failure::Because(FailureKind::Usage,
                                    "the song has no drums (no notes on the percussion channel, 10)");
        }
        mutes.drums = true;
        return Failure::None();
    }
    const bool hands = song.reading == ReadingHands;
    const int parts = hands ? 2 : std::clamp(song.partCount, 0, kMaxParts);
    const std::string choices = hands        ? "it is read as two hands: 1 and 2"
                                : parts == 1 ? "it has one voice: 1"
                                             : "it has voices 1 to " + std::to_string(parts);
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(part.c_str(), &end, 10);
    const bool digits =
        !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || errno != 0 || *end != '\0' || number < 1 || number > parts) {
        return Failure::Because(FailureKind::Usage, "the song has no part " + part + " (" + choices +
                                                        (song.percussionNotes > 0 ? ", or drums)" : ")"));
    }
    mutes.parts.set(static_cast<size_t>(number - 1));
    return Failure::None();
}
