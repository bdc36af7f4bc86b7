// The parsed song that every later stage reads: its parts of timed notes (the two hands of a piano
// song, or one part per voice of any other file), the bar lines, the duration and the result of
// the load. All times are seconds from the start of the song, so nothing downstream deals with
// ticks or tempo.
//
// The song keeps fixed-size tables (parts, bar lines) and one note store sized to the song in a
// single allocation; each part's notes are one run inside that store. A song is filled once by
// ReadMidiFile and never refilled: each MIDI load makes a new one.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

// Twelve bytes, so that a song of tens of millions of notes fits in memory: the two times, then
// the key and the velocity, which a byte each holds whole, and two bytes of padding.
struct NoteRecord {
    float start;       // seconds
    float end;         // seconds; 0 while no note-off has been seen
    uint8_t key;       // MIDI key 0..127, 60 is middle C
    uint8_t velocity;  // note-on velocity 1..127
};
static_assert(sizeof(NoteRecord) == 12, "the memory limit's figures count twelve bytes a note");

// The most notes a song keeps, percussion not counted: what a part's count can hold. What a song
// may really keep is set by the memory limit (core/memory_limit.h), far below this.
inline constexpr int64_t kMaxSongNotes = INT32_MAX;
// The memory a kept note takes: its record in the note store.
inline constexpr int64_t kSongBytesPerNote = static_cast<int64_t>(sizeof(NoteRecord));
inline constexpr int kMaxParts = 256;  // voices kept per song; the hands use two
inline constexpr int kMaxBarLines = 4000;
inline constexpr double kMaxSongSeconds = 1800.0;  // songs longer than 30 minutes are refused
inline constexpr int kPartNameBytes = 64;          // a part's name, NUL included
inline constexpr int kPercussionChannel = 9;       // heard, never drawn

// How the parts were formed. Hands: a piano song, part 0 and part 1 as the two-hand rule splits
// them. Voices: any other file, one part per track and channel, in the order the voices first sound.
enum SongReading : int32_t { ReadingHands = 0, ReadingVoices = 1 };

// What told the hands of a song read as hands apart. ByTrack: the file's own tracks and channels,
// as the two-hand rule takes them. ByPitch: the notes of a piano song that all come in one track
// on one channel, split into upper and lower by pitch. None: the song is read by voices.
enum HandRule : int32_t { HandsByTrack = 0, HandsByPitch = 1, HandsNone = 2 };

struct SongPart {
    int32_t noteCount;  // records at `notes`
    NoteRecord* notes;  // in the order their note-ons were read; inside the song's note store
    int32_t track;      // the track chunk (counted from 0) of its first note; -1 while it has none
    int32_t channel;    // the MIDI channel 0..15 of its first note; -1 while it has none
    int32_t program;    // General MIDI program 0..127 in effect at its first note; -1 if none was set
    int32_t colour;     // colour index: 0 and 1 are the hands' colours; voices count on in sounding order
    char name[kPartNameBytes];  // the track's name as UTF-8, "" when it has none
    // The lowest and highest key of its notes (0 and 0 while it has none), so that a summary of a
    // huge song need not walk its notes again. Whoever moves notes between parts sets them anew
    // (see FindKeyRange).
    uint8_t lowKey;
    uint8_t highKey;
};

// Sets the part's lowKey and highKey from its notes.
inline void FindKeyRange(SongPart& part) {
    uint8_t low = 127, high = 0;
    for (int32_t i = 0; part.notes != nullptr && i < part.noteCount; ++i) {
        low = std::min(low, part.notes[i].key);
        high = std::max(high, part.notes[i].key);
    }
    part.lowKey = low <= high ? low : 0;
    part.highKey = high;
}

// Result codes of a load, left in SongData::status.
enum MidiStatus : int32_t {
    MidiOk = 0,
    MidiInvalidFile = 1,  // no MIDI header where one must be, or a chunk that is no chunk
    // 2 and 3 were refusals the reader no longer makes; their numbers stay unused, since
    // `info --json` prints the status as a number.
    MidiOutOfMemory = 4,
    MidiReadError = 5,  // the file cannot be opened or read; failureReason says why
    MidiCutShort = 6,   // the data ends inside a declared track; failureOffset is the file's length
    MidiSmpteTiming = 7,
    MidiTooLong = 8,  // the song runs past kMaxSongSeconds; duration says how far
    MidiDamaged = 9,  // an event the synthesiser refuses; failureOffset is where it starts
    // Larger than the memory limit allows: failureOffset is the file's length and notesFound the
    // notes it holds (0 when it was refused unread, the file alone being over the limit).
    MidiTooLarge = 10,
};

inline constexpr int kMaxListedTracks = 16;  // tracks named in what a load left out

struct SongData {
    SongData() = default;
    SongData(const SongData& other) { *this = other; }
    // A deep copy: the copy owns its own notes and its parts point into them.
    SongData& operator=(const SongData& other) {
        if (this == &other) return *this;
        std::unique_ptr<NoteRecord[]> store;
        if (other.noteStoreSize > 0) {
            store.reset(new NoteRecord[static_cast<size_t>(other.noteStoreSize)]);
            std::memcpy(store.get(), other.noteStore.get(),
                        static_cast<size_t>(other.noteStoreSize) * sizeof(NoteRecord));
        }
        CopyFields(other);
        for (int p = 0; p < kMaxParts; ++p) {
            const NoteRecord* n = other.parts[p].notes;
            const bool inside =
                n != nullptr && n >= other.noteStore.get() && n < other.noteStore.get() + other.noteStoreSize;
            parts[p].notes = inside ? store.get() + (n - other.noteStore.get()) : nullptr;
        }
        noteStore = std::move(store);
        return *this;
    }

    // Storage for `count` notes in one allocation, parts pointing nowhere yet. False when there is
    // no memory for it.
    [[nodiscard]] bool AllocateNotes(int64_t count) {
        noteStore.reset(new (std::nothrow) NoteRecord[static_cast<size_t>(std::max<int64_t>(count, 1))]);
        noteStoreSize = noteStore ? count : 0;
        return noteStore != nullptr;
    }

    int32_t noteTracks;  // track chunks that stored at least one note; notes are drawn only when >= 1
    int32_t reading;     // SongReading
    int32_t handRule;    // HandRule
    int32_t partCount;   // parts in use, 0..kMaxParts; the hands reading always has two
    // The parts a player can hear, mute or play: the two hands, or the voices in use.
    [[nodiscard]] int PartsInUse() const {
        return reading == ReadingHands ? 2 : std::clamp(partCount, 0, kMaxParts);
    }
    SongPart parts[kMaxParts];
    int32_t percussionNotes;       // notes on the percussion channel: rendered, not in any part
    int32_t truncated;             // non-zero when notes or voices past a limit were left out
    int32_t barLineCount;          // 0..kMaxBarLines
    float barLines[kMaxBarLines];  // ascending, seconds
    double duration;            // latest note end (see the reader); playback raises it to the audio's length
    int32_t status;             // MidiStatus of the load
    std::string failureReason;  // the system's words for why a file cannot be read
    int64_t failureOffset;      // the byte a damaged or cut-short file fails at
    int64_t notesFound;         // the notes a song too large for the memory limit holds

    // What a load past a limit left out (see truncated).
    int32_t voicesLeftOut;                    // voices past kMaxParts: heard, not drawn
    int64_t notesLeftOut;                     // notes of the kept voices past kMaxSongNotes
    int32_t tracksLeftOutCount;               // tracks (0-based) that lost a voice past kMaxParts
    int32_t tracksLeftOut[kMaxListedTracks];  // the first of them, in order

    std::unique_ptr<NoteRecord[]> noteStore;  // every part's notes, one run per part
    int64_t noteStoreSize;                    // records in noteStore

  private:
    void CopyFields(const SongData& o) {
        noteTracks = o.noteTracks;
        reading = o.reading;
        handRule = o.handRule;
        partCount = o.partCount;
        std::copy(std::begin(o.parts), std::end(o.parts), std::begin(parts));
        percussionNotes = o.percussionNotes;
        truncated = o.truncated;
        voicesLeftOut = o.voicesLeftOut;
        notesLeftOut = o.notesLeftOut;
        tracksLeftOutCount = o.tracksLeftOutCount;
        std::copy(std::begin(o.tracksLeftOut), std::end(o.tracksLeftOut), std::begin(tracksLeftOut));
        barLineCount = o.barLineCount;
        std::copy(std::begin(o.barLines), std::end(o.barLines), std::begin(barLines));
        duration = o.duration;
        status = o.status;
        failureReason = o.failureReason;
        failureOffset = o.failureOffset;
        notesFound = o.notesFound;
        noteStoreSize = o.noteStoreSize;
    }
};
