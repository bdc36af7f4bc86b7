// The song's channel events in the order and at the times they are played, read from the file's
// bytes only as they are reached: the tracks are merged as they go, so that a song of tens of
// millions of notes plays while no more than one decoder and one waiting event per track is held
// (the synthesiser's own file player copies every event of the file first, some forty bytes each).
//
// The order is the player's and the reader's (midi/song_events.h): by tick, then by track, then
// by place in the track; the times come from the reader's tempo map of the same file, so an event
// sounds exactly where the window draws its note. Pure: bytes in, timed events out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "midi/note_timeline.h"
#include "midi/track_queue.h"
#include "midi/track_reader.h"

// One channel event as the synthesiser is to receive it.
struct SequencedEvent {
    int64_t tick;
    double seconds;  // from the start of the song, at its own tempo
    uint8_t status;  // 0x80..0xEF; a note-on of velocity 0 comes as the note-off it means
    uint8_t data1;
    uint8_t data2;  // 0 for program change and channel pressure
};

class SongSequencer {
  public:
    // Lays out the file in `data` (a RIFF MIDI file is unwrapped first): where each declared track
    // starts and the running status it inherits, where the song ends, and the tempo map. This
    // walks the file once without keeping its events. False, with nothing to play, for a file the
    // reader would refuse (cut short, damaged, not a MIDI file). The bytes must stay in place, and
    // unchanged, while the sequencer is used.
    [[nodiscard]] bool Open(const uint8_t* data, size_t size);

    // The next event in playing order; false once every track is over. An event with a data byte
    // of 128 or more is passed over: the synthesiser refuses it.
    [[nodiscard]] bool Next(SequencedEvent& e);

    // The tick the last of the tracks ends at, and its time: where the song is over.
    [[nodiscard]] int64_t EndTick() const { return endTick_; }
    [[nodiscard]] double EndSeconds() const { return tempo_.Seconds(endTick_); }
    [[nodiscard]] const TempoMap& Tempo() const { return tempo_; }
    [[nodiscard]] size_t Tracks() const { return readers_.size(); }

  private:
    // Reads track `index`'s next channel event into its waiting place; false once it is over.
    bool Advance(size_t index);

    std::vector<TrackReader> readers_;  // one per declared track, at its next event
    std::vector<MidiEvent> waiting_;    // each track's next channel event
    TrackQueue queue_;
    TempoMap tempo_;
    int64_t endTick_ = 0;
};
