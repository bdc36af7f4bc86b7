// Turns the note events of a file, taken in the order the synthesiser plays them, into the notes of
// a SongData: how ticks become seconds through the one tempo map of the whole file, how a note-on
// pairs with its note-off, and the finishing pass (bar lines, note ends, part order).
//
// A note is ended by the next note-off of its channel and key, whichever track it comes from, or by
// the next note-on of its channel and key: the synthesiser releases a key that is struck again. A
// note that nothing ends sounds on after its track is over (the player goes on until its voices
// fall silent), so it is taken to last until its track ends, and the song's length counts it.
// SongBuilder is the working state of one load; the song it fills outlives it.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/song_data.h"

// One stretch of the tempo map: from `firstTick` on, a quarter note lasts `microsPerQuarter`.
// `startMicros` is the time at `firstTick`, summed exactly over the stretches before it.
struct TempoSegment {
    int64_t firstTick;
    uint32_t microsPerQuarter;
    double startMicros;
    double startSeconds;    // startMicros in seconds
    double secondsPerTick;  // microsPerQuarter / division in seconds, so a note costs one multiply
};

inline constexpr uint32_t kDefaultMicrosPerQuarter = 500000;  // 120 quarter notes per minute

// A tempo event of any track.
struct TempoChange {
    int64_t tick;
    uint32_t microsPerQuarter;
};

// A time signature event of any track: `numerator` beats to the bar, each a 2^`denominatorPower`th
// note (as the file spells it: 2 is a quarter, 3 an eighth).
struct MeterChange {
    int64_t tick;
    uint8_t numerator;
    uint8_t denominatorPower;
};

class TempoMap {
  public:
    // `changes` in the order the tracks hold them; they are merged by tick, a later track's change
    // at the same tick applying after an earlier track's, as the player plays them.
    void Build(int32_t division, std::vector<TempoChange> changes);
    [[nodiscard]] double Seconds(int64_t tick) const;  // any tick, any order
    // The last tick that comes at or before `seconds` into the song (0 for any time before it):
    // where a player sent to that place starts.
    [[nodiscard]] int64_t TickAtOrBefore(double seconds) const;
    // The tick, with its fraction, that sounds at `seconds` (0 for any time before the song): the
    // way back from a note's time to the place the file wrote it.
    [[nodiscard]] double TicksAt(double seconds) const;
    [[nodiscard]] int32_t Division() const { return static_cast<int32_t>(division_); }
    // The length of a quarter note at `seconds` into the song, in microseconds.
    [[nodiscard]] uint32_t MicrosPerQuarterAt(double seconds) const;

    // The time signatures, merged by tick as the tempo changes are; the reader hands them over
    // after Build. None means the whole song is in 4/4, as a file without one is read.
    void SetMeters(std::vector<MeterChange> meters);
    [[nodiscard]] const std::vector<MeterChange>& Meters() const { return meters_; }

    // Converts ticks that never decrease from one call to the next, without searching. The
    // stretch in use is held in the walker itself, so that a run of ticks inside one stretch costs
    // a compare and a multiply each.
    class Walker {
      public:
        explicit Walker(const TempoMap& map) : map_(&map) {}
        float Seconds(int64_t tick) {
            if (tick >= nextTick_) Enter(tick);
            if (segment_ > 0 && firstTick_ > tick) return static_cast<float>(map_->Seconds(tick));
            return static_cast<float>(startSeconds_ +
                                      static_cast<double>(tick - firstTick_) * secondsPerTick_);
        }
        // Seconds for a caller whose ticks never go back, from one call to the next and from the
        // first tick the walker was given: a tick before the stretch in use is not looked for.
        float SecondsOnward(int64_t tick) {
            if (tick >= nextTick_) Enter(tick);
            return static_cast<float>(startSeconds_ +
                                      static_cast<double>(tick - firstTick_) * secondsPerTick_);
        }

      private:
        // Moves on to the last stretch that starts at or before `tick`. In line, so that a walker
        // in a caller's locals stays there (in registers) rather than being handed by address.
        [[gnu::always_inline]] void Enter(int64_t tick) {
            const std::vector<TempoSegment>& s = map_->segments_;
            if (s.empty()) {
                nextTick_ = INT64_MAX;
                return;
            }
            while (segment_ + 1 < s.size() && s[segment_ + 1].firstTick <= tick) ++segment_;
            const TempoSegment& g = s[segment_];
            firstTick_ = g.firstTick;
            startSeconds_ = g.startSeconds;
            secondsPerTick_ = g.secondsPerTick;
            nextTick_ = segment_ + 1 < s.size() ? s[segment_ + 1].firstTick : INT64_MAX;
        }

        const TempoMap* map_;
        size_t segment_ = 0;
        int64_t nextTick_ = INT64_MIN;  // where the next stretch starts; the first call enters one
        int64_t firstTick_ = 0;
        double startSeconds_ = 0.0;
        double secondsPerTick_ = 0.0;
    };

  private:
    [[nodiscard]] double SecondsIn(const TempoSegment& s, int64_t tick) const;
    std::vector<TempoSegment> segments_;
    std::vector<MeterChange> meters_;
    double division_ = 1.0;
};

// Where the notes of one part go: `count` records from `first` in the song's note store.
struct PartRun {
    int64_t first;
    int64_t count;
};

struct SongBuilder {
    explicit SongBuilder(SongData& target) : song(target) {}

    SongData& song;

    // Lays the parts out in one note store, `counts[p]` notes for part p. False without memory.
    // `oneChannelParts`: every part takes the notes of a single channel, as a voice does; the
    // clean-up (see Finish) is then done as the notes arrive rather than in a pass of its own.
    [[nodiscard]] bool AllocateParts(const std::vector<int64_t>& counts, bool oneChannelParts);

    // A note-on of velocity 1..127 heard at `seconds`. `part` is where it is stored, or -1 when it
    // is heard but not stored (percussion, a part past a limit): it still ends the note it restrikes.
    // `trackEnd` is when its track ends: a note nothing ends sounds at least until then.
    // `latestEnd` is the latest end given to a note so far, raised when this call ends one: the
    // caller keeps it across a run of calls, where a member would be read and written for each
    // (a note's end, written through a pointer, might be it), and hands it in with TakeLatestEnd.
    // `lastOfKey` is LastOfKey(), which the caller holds across the run for the same reason.
    void NoteOn(int channel, int key, int velocity, float seconds, int part, float trackEnd, float& latestEnd,
                NoteRecord** lastOfKey) {
        // The synthesiser releases the key's sounding note when the key is struck again.
        EndSounding(channel, key, seconds, latestEnd);
        NoteRecord* note = &unstored_;
        // A part never takes more notes than it was laid out for, even from a file that changed
        // between the count and the reading.
        if (part >= 0 && next_[part] < room_[part]) {
            note = next_[part]++;
            if (lastOfKey != nullptr) {
                // The part's previous note of the key is on this same channel, so the release
                // above has ended it if nothing had before: its end is final, and it is cleaned
                // up now, as CleanUpPart would.
                NoteRecord*& last = lastOfKey[static_cast<size_t>(part) * 128 + static_cast<size_t>(key)];
                if (last != nullptr) PullApart(*last, seconds);
                last = note;
            }
            // The record's bytes last: a store of a byte may be to anything, as far as the
            // compiler knows, and what is read after it must be read again.
            note->start = seconds;
            note->end = 0.0f;
            note->key = static_cast<uint8_t>(key);
            note->velocity = static_cast<uint8_t>(velocity);
        }
        sounding_[channel][key] = note;
        trackEndOf_[channel][key] = trackEnd;
    }
    // A note-off, or a note-on of velocity 0.
    void NoteOff(int channel, int key, float seconds, float& latestEnd) {
        EndSounding(channel, key, seconds, latestEnd);
    }
    // With parts of one channel each, the last note stored of each part and key, part by part
    // (null otherwise); it stays where it is while notes are taken.
    [[nodiscard]] NoteRecord** LastOfKey() const { return lastOfKey_.get(); }
    // The latest end a run of NoteOn and NoteOff calls gave.
    void TakeLatestEnd(float latestEnd) { latestEnd_ = std::max(latestEnd_, latestEnd); }

    // Gives each part the count of the notes stored in it; call once the notes are in.
    void CountParts();

    // Bar lines every four quarter notes, the note clean-up, and the parts' final order.
    void Finish(const TempoMap& tempo, int32_t division, bool swapHands);

  private:
    void EndSounding(int channel, int key, float seconds, float& latestEnd) {
        NoteRecord*& s = sounding_[channel][key];
        if (s == nullptr) return;
        s->end = seconds;
        latestEnd = std::max(latestEnd, seconds);
        s = nullptr;
    }
    // The clean-up of one note against the next note of its key in its part, which starts at
    // `nextStart`: see CleanUpPart.
    static void PullApart(NoteRecord& earlier, float nextStart) {
        if (static_cast<double>(nextStart) - earlier.end < kNoteGap) {
            const auto shortened = static_cast<float>(static_cast<double>(earlier.end) - kNoteGap);
            if (shortened > earlier.start) earlier.end = shortened;
        }
    }
    void CleanUpPart(SongPart& part);
    void EndUnended();

    // Repeated notes of one key are pulled apart by this much so that they read as separate notes.
    static constexpr double kNoteGap = 1.0 / 60.0;

    NoteRecord* sounding_[16][128] = {};  // the note sounding on (channel, key); null when none
    float trackEndOf_[16][128] = {};      // when the track of that note ends
    NoteRecord unstored_{};               // stands for a note that sounds but no part keeps
    // Where each part's next note goes, and the end of the room it was laid out for.
    NoteRecord* next_[kMaxParts] = {};
    NoteRecord* room_[kMaxParts] = {};
    float latestEnd_ = 0.0f;  // the latest end any note was given
    // With parts of one channel each: the last note stored of each part and key, part by part.
    std::unique_ptr<NoteRecord*[]> lastOfKey_;
};
