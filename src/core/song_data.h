// The parsed song that every later stage reads: two parts (the two hands) of timed notes, the bar
// lines, the duration and the result of the load. All times are seconds from the start of the song,
// so nothing downstream deals with ticks or tempo.
//
// A song is one fixed-size allocation with no allocation per note. It is filled once by
// ReadMidiFile and never refilled: each MIDI load makes a new one.
#pragma once

#include <cstdint>

struct NoteRecord {
    int32_t key;       // MIDI key 0..127, 60 is middle C
    float start;       // seconds
    float end;         // seconds; 0 while no note-off has been seen
    int32_t velocity;  // note-on velocity 1..127
};

inline constexpr int kMaxPartNotes = 32000;
inline constexpr int kMaxBarLines = 4000;
inline constexpr double kMaxSongSeconds = 1800.0;  // songs longer than 30 minutes are refused

struct SongPart {
    int32_t noteCount;                // 0..kMaxPartNotes
    NoteRecord notes[kMaxPartNotes];  // in the order their note-ons were read
};

// Result codes of a load, left in SongData::status.
enum MidiStatus : int32_t {
    MidiOk = 0,
    MidiInvalidFile = 1,    // a chunk whose name does not begin with "MT" (or a header with division 0)
    MidiTooManyTracks = 2,  // a note on a channel the two parts cannot take
    MidiNoHeader = 3,       // a track chunk before any header
    MidiOutOfMemory = 4,
    MidiReadError = 5,  // the file cannot be opened or read
};

struct SongData {
    int32_t noteTracks;  // track chunks that stored at least one note; notes are drawn only when >= 1
    SongPart parts[2];
    int32_t barLineCount;          // 0..kMaxBarLines
    float barLines[kMaxBarLines];  // ascending, seconds
    double duration;  // latest note end seen at a note-off; playback raises it to the audio's length
    int32_t status;   // MidiStatus of the load
};
