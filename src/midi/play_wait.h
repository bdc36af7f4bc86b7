// Wait mode: the song holds at each note (or chord) of the player's parts until its keys go down,
// then goes on. The part's notes are grouped into steps, one per chord; the controller asks,
// each frame, how far the song may go, and hands over every key the player strikes or releases.
//
// The rules a step is done by:
//  - Every key of the step goes down, all within kChordWindow of real time of each other. A key
//    struck longer before the others than that is wanted again, so a chord is struck as one.
//  - Only a key going down counts. A key still held from an earlier step does not strike the next
//    one, even when the next one wants it; it must be struck again.
//  - A key may go down a little before the song reaches the step (kEarlyLead of real time), so that
//    a player who keeps time never sees the song stop.
//  - A key that strikes nothing of the step is wrong: it is reported while held and counted, and
//    it does not hold the song back further or move it on.
// The song never passes a step that is not done. A jump back (a seek, a loop's wrap) makes every
// step from there on wanted again; so does a jump forward through Seek.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/play_along.h"

// What wait mode tells the controller after each reading of the clock and each key.
struct WaitState {
    double songSeconds = 0.0;  // where the song may be: the time asked for, or the step held at
    bool holding = false;      // the song stands at a step whose keys have not all gone down
    int32_t step = -1;         // the step wanted next, counted from 0; -1 when none is left
    double stepOnset = 0.0;    // the song time of that step
    KeySet wanted;             // the keys of that step not struck yet within the chord window
    KeySet wrong;              // keys held now that were struck for no step
    int32_t wrongStrikes = 0;  // wrong keys struck since the last jump
    int32_t stepsDone = 0;     // steps done since the last jump
};

class WaitMode {
  public:
    // Notes whose onsets lie within this much song time of a step's first note are struck with
    // it. It is the spread of a chord as files record it, human performances included, and shorter
    // than the gap between the notes of any run a player can play.
    static constexpr double kChordSpread = 0.04;
    // The real time a chord's keys may take to go down; wider than a pianist's spread of a struck
    // chord, narrower than the gap between two struck notes.
    static constexpr double kChordWindow = 0.08;
    // How long, in real time, before the song reaches a step its keys may already go down.
    static constexpr double kEarlyLead = 0.25;

    // The steps of `parts` in `song`, the song at its start, no key held. The song is read here
    // and not kept.
    void Load(const SongData& song, const PlayedParts& parts);
    // The song's speed from now on (1 is the song's own tempo).
    void SetSpeed(double speed);
    // The song jumps to `songSeconds`: every step from there on is wanted. Keys held stay held, and
    // none of them counts as struck.
    void Seek(double songSeconds);

    // The song clock would reach `songSeconds` at real moment `realSeconds`: the answer says how far
    // it may go. A time before the last answer by more than a rounding is a jump back, as by Seek.
    const WaitState& Advance(double songSeconds, double realSeconds);
    // A key went down or came up at real moment `realSeconds`. Keys outside 0..127 are ignored.
    const WaitState& KeyDown(int key, double realSeconds);
    const WaitState& KeyUp(int key);

    [[nodiscard]] const WaitState& State() const { return state_; }
    [[nodiscard]] int32_t StepCount() const { return static_cast<int32_t>(steps_.size()); }
    // The keys of step `step` (0..StepCount()-1).
    [[nodiscard]] KeySet StepKeys(int32_t step) const;

  private:
    struct Step {
        double onset;    // song seconds
        uint32_t first;  // into keys_
        uint32_t count;  // distinct keys, at least one
    };
    // A rounding of the song clock, not a jump: the song time is computed from frames and speed.
    static constexpr double kJumpTolerance = 0.002;

    void EnterStep(int32_t step);
    void ForgetStrikesBefore(double realSeconds);

    std::vector<Step> steps_;
    std::vector<uint8_t> keys_;  // each step's keys, ascending
    SongClockReading clock_;
    KeySet held_;
    KeySet stepKeys_;            // the keys of the wanted step
    double struckAt_[128] = {};  // the real moment each key of the wanted step went down; valid if struck_
    KeySet struck_;
    WaitState state_;
};
