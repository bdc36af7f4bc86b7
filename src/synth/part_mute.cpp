#include "synth/part_mute.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "synth/synth_renderer.h"

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
        if (channel < 0 || channel >= kLanes || note.key < 0 || note.key >= kKeys) return -1;
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

int NoteMuter::Forward(void* data, fluid_midi_event_t* event) {
    auto* muter = static_cast<NoteMuter*>(data);
    const int type = fluid_midi_event_get_type(event);
    const int channel = fluid_midi_event_get_channel(event);
    const int key = fluid_midi_event_get_key(event);
    // A note-on of velocity 0 is a note-off, and passes like one.
    if (type == kNoteOn && fluid_midi_event_get_velocity(event) > 0 && muter->Muted(channel, key))
        return FLUID_OK;
    const bool keyed = type == kNoteOn || type == kNoteOff || type == kKeyPressure;
    if (muter->transpose_ == 0 || !keyed || channel == kPercussionChannel) {
        return fluid_synth_handle_midi_event(muter->synth_, event);
    }
    // The moved note is sent on its own rather than by changing the event, which is the player's
    // own copy of the file: a second play of it would move the notes twice.
    const int moved = key + muter->transpose_;
    if (moved < 0 || moved >= kKeys) return FLUID_OK;  // off the keyboard: its note-off finds nothing
    const int value = fluid_midi_event_get_velocity(event);
    if (type == kNoteOn && value > 0) return fluid_synth_noteon(muter->synth_, channel, moved, value);
    if (type == kKeyPressure) return fluid_synth_key_pressure(muter->synth_, channel, moved, value);
    return fluid_synth_noteoff(muter->synth_, channel, moved);
}

bool AddMutedPart(const SongData& song, const std::string& part, PartMutes& mutes, std::string& error) {
    if (part == "drums") {
        if (song.percussionNotes <= 0) {
            error = "the song has no drums (no notes on the percussion channel, 10)";
            return false;
        }
        mutes.drums = true;
        return true;
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
        error = "the song has no part " + part + " (" + choices +
                (song.percussionNotes > 0 ? ", or drums)" : ")");
        return false;
    }
    mutes.parts.set(static_cast<size_t>(number - 1));
    return true;
}

// Sends the player into the song before it plays: the controllers and programs up to `tick` are
// set, and only notes from there on sound. A player that plays already would refuse the place,
// since it has not read the file's length yet.
bool SynthRenderer::SeekPlayer(int64_t tick) {
    return tick <= 0 || fluid_player_seek(fluidPlayer.get(),
                                          static_cast<int>(std::min<int64_t>(tick, INT32_MAX))) == FLUID_OK;
}

Failure SynthRenderer::SetUpPractice(const RenderRequest& request) {
    const double speed = request.speed;
    if (!(speed >= kMinRenderSpeed && speed <= kMaxRenderSpeed)) {
        return Failure::Because(FailureKind::Render, "the speed " + std::to_string(speed) +
                                                         " is outside what a render plays at (0.25 to 2)");
    }
    // The player's own tempo changes go on being followed, each times the speed.
    if (speed != 1.0 &&
        fluid_player_set_tempo(fluidPlayer.get(), FLUID_PLAYER_TEMPO_INTERNAL, speed) != FLUID_OK) {
        return Failure::Because(FailureKind::Render, "FluidSynth's player would not change its tempo");
    }
    clicks_.reset();
    if (!request.metronome.empty()) {
        if (request.raw) {
            return Failure::Because(FailureKind::Render,
                                    "a raw render is the synthesiser's output alone: it takes no metronome");
        }
        clicks_ = std::make_unique<ClickTrack>(request.metronome, request.startSeconds, speed, sampleRate_,
                                               request.clickVolume);
    }
    if (request.transpose < -kMostTranspose || request.transpose > kMostTranspose) {
        return Failure::Because(
            FailureKind::Render,
            "the transposition " + std::to_string(request.transpose) + " is outside -12 to 12 semitones");
    }
    if (!request.mutes.Any() && request.transpose == 0) return Failure::None();
    if (request.song == nullptr && request.mutes.parts.any()) {
        return Failure::Because(FailureKind::Render, "a part can be muted only in a song that has been read");
    }
    muter_ = std::make_unique<NoteMuter>(request.song, request.mutes, speed, sampleRate_, &frames_,
                                         fluidSynth.get(), request.startSeconds, request.transpose);
    if (fluid_player_set_playback_callback(fluidPlayer.get(), NoteMuter::Forward, muter_.get()) != FLUID_OK) {
        return Failure::Because(FailureKind::Render, "FluidSynth's player would not let parts be muted");
    }
    return Failure::None();
}

Failure SynthRenderer::StartStreamRender(const RenderRequest& request, const std::string& folder,
                                         std::shared_ptr<const RenderStream> gainOf) {
    ReleaseRender();
    rendering = false;
    if (folder.empty()) {
        return Refuse(
            Failure::Because(FailureKind::TargetOpen, "there is no private folder for the rendered song"));
    }
    streamOnly_ = true;
    keepSynth_ = true;
    gainOf_ = std::move(gainOf);
    RenderRequest normalised = request;
    normalised.raw = false;
    return BeginRender(normalised, folder);
}
