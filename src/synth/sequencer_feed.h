// The render's own sequencer at work: the song's events (synth/song_sequencer.h) sent to the
// render's synthesiser block by block, for a song too big for the synthesiser's own file player.
// It does what the render asks of that player: it starts at a tick of the file with every
// controller, program, bend and pressure before it applied and only the notes from there on
// struck, plays at a practice speed, and hands each event through the mutes and transposition
// (NoteMuter) when there are any. A song denser than its voices can sound starts only the notes
// they can give time to be heard, the quietest dropped first (synth/note_budget.h).
#pragma once

#include <fluidsynth/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/sample_rate.h"
#include "synth/note_budget.h"
#include "synth/part_mute.h"
#include "synth/song_sequencer.h"

// From this size of file on (its Standard MIDI File, RIFF wrapping aside) a song is played by
// the program's own sequencer instead of the synthesiser's player. The player copies every event
// into an allocation of its own, some forty bytes for the three a dense file spends on one, and
// is handed a copy of the file besides: a render through it peaks at close to twenty bytes for each
// byte of MIDI data, some eighty megabytes at this size, several times the song's own notes. An
// ordinary song, a few hundred kilobytes at most, stays far below and keeps the player, whose raw
// render is byte for byte the synthesiser's own command's.
inline constexpr size_t kOwnSequencerBytes = size_t{4} << 20;

class SequencerFeed {
  public:
    // Where and how the render plays the song.
    struct Timing {
        int64_t startTick = 0;              // the render starts at this tick of the file,
        double startSeconds = 0.0;          // this far into the song,
        double speed = 1.0;                 // at this multiple of the song's tempo,
        uint32_t sampleRate = kSampleRate;  // in frames of this rate.
    };

    // Opens the song in `data` for `synth`: every event before the start tick but the notes (and
    // their key pressure) is sent at once. `muter`, when there is one, takes every event after.
    // False, with nothing sent, for a file the reader would refuse. The bytes must outlive the feed.
    [[nodiscard]] bool Open(const uint8_t* data, size_t size, const Timing& timing, fluid_synth_t* synth,
                            NoteMuter* muter);

    // Sends every event due at or before `frame` of the render, as the synthesiser's player sends
    // each event at the first block that starts at or after its time; of the note-ons, those the
    // synthesiser's voices (as many as it had when the feed was opened) have room for.
    void PlayUntil(int64_t frame);

    // Every event has been sent and the song's end reached by `frame`.
    [[nodiscard]] bool Done(int64_t frame) const { return !pending_ && frame >= endFrame_; }
    // The tick of the last event sent, and the song's last: how far the render has got.
    [[nodiscard]] int64_t Tick() const { return tick_; }
    [[nodiscard]] int64_t EndTick() const { return sequencer_.EndTick(); }

  private:
    [[nodiscard]] int64_t FrameOf(double seconds) const;

    SongSequencer sequencer_;
    Timing timing_;
    fluid_synth_t* synth_ = nullptr;
    NoteMuter* muter_ = nullptr;
    std::optional<NoteBudget> budget_;
    std::vector<SequencedEvent> block_;  // the events due at one block, before the budget
    std::vector<uint8_t> silenced_;      // per event of the block: a note-on of a muted part
    SequencedEvent next_{};
    bool pending_ = false;  // next_ holds an event not yet sent
    int64_t nextFrame_ = 0;
    int64_t endFrame_ = 0;
    int64_t tick_ = 0;
};
