// Turns the events the MIDI reader decodes into a SongData: which notes are stored and in which
// of the two parts, how a note-on pairs with its note-off, how ticks become seconds through the
// tempo map, and the finishing pass (bar lines, note ends, part order).
//
// SongBuilder is the working state of one load; it lives only while the file is read. The song it
// fills outlives it.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/song_data.h"

// One stretch of the tempo map. `startMicros` caches the time at which the segment begins, i.e.
// the sum of the whole-segment terms of every segment before it, so that converting a tick needs
// no walk over the map; the sum is exactly what the walk would add up.
struct TempoSegment {
    int32_t firstTick;
    int32_t lastTick;
    int32_t microsPerQuarter;
    int64_t startMicros;
};

// The last segment of the map runs to the end of any track. (Capping it at a fixed tick would give
// every later note the same time: at 960 ticks per quarter that is after less than nine minutes.)
inline constexpr int32_t kTempoMapEndTick = INT32_MAX;
inline constexpr int32_t kDefaultMicrosPerQuarter = 500000;  // 120 quarter notes per minute

struct SongBuilder {
    explicit SongBuilder(SongData& target) : song(target) { StartParse(); }

    SongData& song;

    // Reader state.
    int32_t division = -1;      // ticks per quarter note; -1 until a header has been read
    uint8_t runningStatus = 0;  // last status byte read; survives meta events, sysex and tracks
    int32_t trackCounter = 0;   // track chunks so far that stored a note; becomes noteTracks
    int32_t notesInTrack = 0;   // notes stored by the current track chunk

    // Timeline state. The current tempo is the last segment's; nothing else keeps it.
    // The tempo map in the order it is walked. A tempo change cuts the map after the append
    // position and appends a new segment there, so a later track's changes replace an earlier one's.
    std::vector<TempoSegment> tempoMap;
    size_t appendPosition = 0;
    bool sounding[2][128] = {};          // a note of (part, key) is waiting for its note-off
    int32_t soundingIndex[2][128] = {};  // its index in the part, or -1 when it was not stored
    bool channel0Seen = false;
    bool channel2Seen = false;

    void StartParse();
    void StartChunk();  // a track chunk begins: sounding marks cleared, tempo appends from the start
    void SetDivision(int32_t ticksPerQuarter);

    // Returns 0, or MidiTooManyTracks when the note's channel cannot be taken by the two parts.
    [[nodiscard]] int AddNoteOn(int channel, int key, int velocity, int32_t tick);
    void AddNoteOff(int channel, int key, int32_t tick);
    void AddTempo(uint32_t microsPerQuarter, int32_t tick);
    [[nodiscard]] float TickToSeconds(int32_t tick) const;
    void FinishSong();

  private:
    [[nodiscard]] int PartOf(int channel) const;
    [[nodiscard]] int64_t SegmentMicros(const TempoSegment& segment) const;
    void RecomputeStartTimes();
};
