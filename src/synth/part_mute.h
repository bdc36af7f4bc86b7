// Practising with a render: parts of the song left silent, the song played slower or faster, and
// its notes moved up or down.
//
// The speed is the tempo of FluidSynth's player, so only the timing changes and every note keeps
// its pitch. Muting happens between the player and the synthesiser: every event the player plays
// passes through NoteMuter::Forward, which holds back the note-ons of the muted parts and lets
// everything else through (controllers, program changes, every note-off), so the other parts sound
// exactly as they would.
//
// The player tells neither the track nor the part of an event, only its channel and key, and the
// parts of a song are not always channels: two voices may share a channel from different tracks,
// and the hands of a piano song may share one channel and be told apart by pitch, or share a key
// in the middle of the keyboard. So each note-on is matched to the reader's notes by channel, key
// and time: the song's position when the player plays it (frames rendered, at the speed), against
// the notes' start times. A key of a channel whose notes are all muted, or none, needs no match;
// only a key shared by muted and heard parts is matched in time, to the earliest note of that key
// not yet played that starts within kMatchSeconds of the position. What this cannot tell apart:
// one key struck at the same moment by a muted and a heard part of one lane is muted in the order
// the reader read the notes, which may be the other of the two note-ons (the same key sounds
// either way, with the other note's velocity and length); the hands, whose channels the reader
// does not keep per note, count as one lane.
#pragma once

#include <fluidsynth/types.h>

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/song_data.h"

// The parts a render leaves silent. `parts` counts as the song's parts do (0 is the first hand or
// the first voice); `drums` is the percussion channel, which belongs to no part.
struct PartMutes {
    std::bitset<kMaxParts> parts;
    bool drums = false;

    [[nodiscard]] bool Any() const { return drums || parts.any(); }
};

// The speeds a render may play at, as multiples of the song's own tempo.
inline constexpr double kMinRenderSpeed = 0.25;
inline constexpr double kMaxRenderSpeed = 2.0;
// The farthest a render moves the song's pitch, in semitones either way: an octave.
inline constexpr int kMostTranspose = 12;

// The rendered length of `seconds` of the song at `speed`: a half-speed song lasts twice as long.
[[nodiscard]] inline double PlayedSeconds(double seconds, double speed) {
    return seconds / speed;
}

// Which of the player's note-ons belong to muted parts, and the player's playback callback that
// asks it. Made before the render starts; used only on the thread that renders.
class NoteMuter {
  public:
    // A note-on within this much of a muted note's start, on its channel and key, is that note.
    // The player plays an event in the first block of 64 frames at or after its time, so the
    // position is at most a few milliseconds late, even at twice the speed; the margin covers
    // that and the rounding of the two readings of the tempo, while notes of one key of one
    // channel closer than this are rarely in different parts.
    static constexpr double kMatchSeconds = 0.03;

    // The lookup for `song`'s notes under `mutes` (a null song has no parts: only its drums can be
    // muted). `frames` is the count of frames rendered so far, read whenever a note-on comes;
    // `synth` receives every event that is not held back.
    // A render that starts into the song has `startSeconds` of it behind its first frame.
    // Every note but the drums goes to the synthesiser `transpose` semitones moved.
    NoteMuter(const SongData* song, const PartMutes& mutes, double speed, uint32_t sampleRate,
              const int64_t* frames, fluid_synth_t* synth, double startSeconds = 0.0, int transpose = 0);

    // Whether a note-on on `channel` (0..15) for `key` now belongs to a muted part. A note that
    // matches none of the reader's notes (of a voice the reader left out past its limits) sounds.
    [[nodiscard]] bool Muted(int channel, int key);

    // The player's playback callback, `data` being a NoteMuter: forwards the event to the
    // synthesiser unless it is a note-on of a muted part.
    static int Forward(void* data, fluid_midi_event_t* event);
    // The same for an event a sequencer of the program's own plays (status 0x80..0xEF, a note-on
    // of velocity 0 being a note-off), whose note-on the sequencer has found heard by Muted
    // already: it asks before choosing which notes to start. Only the transposition applies.
    int PlayHeard(uint8_t status, uint8_t data1, uint8_t data2);

  private:
    // What becomes of an event: held back, sent as it is, or sent `transpose_` semitones moved.
    enum class Route : uint8_t { Drop, AsIs, Moved };
    // `heard`: a note-on already found heard, not to be asked about again.
    [[nodiscard]] Route RouteOf(int type, int channel, int key, int velocity, bool heard = false);
    int SendMoved(int type, int channel, int key, int value);

    enum class KeyState : uint8_t { Heard, Muted, Mixed };
    struct Onset {
        float start;  // seconds into the song
        bool muted;
    };
    // One per channel lane and key. Onsets of a Mixed key lie in onsets_[begin, end), by start.
    struct KeyNotes {
        KeyState state = KeyState::Heard;
        uint32_t begin = 0;
        uint32_t end = 0;
        uint32_t next = 0;  // the first onset not yet played
    };
    static constexpr int kLanes = 16;

    // The lane a channel's notes are looked up in. The hands of a piano song come from channels 0
    // to 2 in any mix of tracks, and the reader keeps no channel per note, so they share a lane.
    [[nodiscard]] int LaneOf(int channel) const { return hands_ && channel <= 2 ? 0 : channel; }

    int transpose_ = 0;
    bool hands_ = false;
    bool drums_ = false;
    double secondsPerFrame_ = 0;  // of the song, at the render's speed
    double startSeconds_ = 0;     // the song's time at the render's first frame
    const int64_t* frames_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    std::vector<KeyNotes> keys_;  // kLanes * 128
    std::vector<Onset> onsets_;
};

// Sends one channel event (status 0x80..0xEF) to `synth` by the call of its kind; a note-on of
// velocity 0 is a note-off. What a sequencer of the program's own plays goes through this.
int SendChannelEvent(fluid_synth_t* synth, uint8_t status, uint8_t data1, uint8_t data2);

// A part number as the command line takes it ("1", "2", a voice's number as `info` lists it, or
// "drums") into `mutes`; a Usage failure saying why (the reason alone, for the caller to put after
// the option and the song) when the song has no such part.
Failure AddMutedPart(const SongData& song, const std::string& part, PartMutes& mutes);
