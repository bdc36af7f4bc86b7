// Follow mode: the song runs at its speed and every key the player strikes is judged against the
// notes of the parts they play, and so is every note nobody struck.
//
// A key is matched to the nearest note of the same key, not matched yet, whose time lies within
// kJudgeWindow of the key's in real time: within kHitWindow it is a hit, before that early, after
// it late, with the error in milliseconds. A key that matches no note is wrong. A note the song
// has passed by more than kJudgeWindow with no key for it is missed. A second note-on of a key
// that has not come up strikes nothing.
//
// The judging is gathered into passes. A pass begins at a jump (Load, Seek, a jump back of the
// clock such as a loop's wrap) and ends when every note after its beginning is judged, or at the
// next jump; a pass that judged nothing is no pass. At a jump, the notes the song had passed with
// no key for them count as missed: the player can no longer strike them. A pass that begins before
// the part's first note and judges all of its notes is complete, and only a complete pass can be
// the best of its song and part (core/play_score.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/play_score.h"
#include "midi/play_along.h"

enum class Judgement : uint8_t {
    None = 0,  // a note not judged yet; a key that struck nothing (a repeat, the pass over)
    Hit,
    Early,
    Late,
    Missed,
    Wrong,    // a key only
    Skipped,  // a note before the place the song jumped to: not the player's to strike this pass
};

struct JudgedKey {
    Judgement judgement = Judgement::None;
    int32_t note = -1;     // the note it struck, as Notes() lists them; -1 when none
    double errorMs = 0.0;  // real time from the note's time to the key's; negative when early
};

// A pass's figures as the player reads them: notes struck of the notes, the accuracy, whether they
// were early or late on average and by how much, the wrong keys, and how loud against the song,
// as in "14 of 16 notes, 81% accurate; 23 ms late on average; 2 wrong keys; too loud".
[[nodiscard]] std::string PassSummaryText(const PlayScore& score);

class FollowScorer {
  public:
    // A key this close to its note's time, either side, in real time, is on time: about the
    // spread a listener hears as together, and what a practised player keeps to.
    static constexpr double kHitWindow = 0.075;
    // Farther than this in real time a key is no attempt at the note, and the note is missed.
    static constexpr double kJudgeWindow = 0.25;

    // The notes of `parts` in `song`, the song at its start and a pass begun there.
    void Load(const SongData& song, const PlayedParts& parts);
    // The song's speed from now on; a pass keeps the slowest speed it was played at.
    void SetSpeed(double speed);
    // The song jumps to `songSeconds`: the pass ends, and a new one begins there.
    void Seek(double songSeconds);

    // The song clock read `songSeconds` at real moment `realSeconds`. A time before the last
    // reading by more than a rounding is a jump back, as by Seek. Returns the notes newly missed.
    int32_t Advance(double songSeconds, double realSeconds);
    // A key went down at real moment `realSeconds`, or came up. Keys outside 0..127 are ignored.
    // `velocity` is how hard, 1..127, or 0 from a keyboard that cannot tell (the computer's).
    JudgedKey KeyDown(int key, double realSeconds, int velocity = 0);
    void KeyUp(int key);

    // The pass under way: its counts so far (never complete until it ends).
    [[nodiscard]] const PlayScore& Pass() const { return pass_; }
    // Passes ended since Load, and the last of them: the controller shows it when the count moves.
    [[nodiscard]] int32_t PassesEnded() const { return passesEnded_; }
    [[nodiscard]] const PlayScore& LastPass() const { return lastPass_; }

    [[nodiscard]] const std::vector<PlayNote>& Notes() const { return notes_; }
    [[nodiscard]] Judgement JudgementOf(size_t note) const { return judged_[note]; }

  private:
    // A rounding of the song clock, not a jump.
    static constexpr double kJumpTolerance = 0.002;

    void BeginPass(double songSeconds);
    void EndPass();
    void Judge(size_t note, Judgement judgement, double errorMs, int velocity = 0);

    std::vector<PlayNote> notes_;
    std::vector<uint32_t> byKey_;  // indices into notes_, by key and then by start
    uint32_t keyBegin_[129] = {};  // the notes of key k are byKey_[keyBegin_[k], keyBegin_[k + 1])
    std::vector<Judgement> judged_;
    SongClockReading clock_;
    KeySet held_;
    size_t missCursor_ = 0;   // notes before it are judged, or were matched out of order
    size_t passFirst_ = 0;    // the first note of the pass
    size_t passJudged_ = 0;   // notes of the pass judged so far
    bool passOpen_ = false;   // notes remain to be judged in this pass
    double passSpeed_ = 1.0;  // the slowest speed of the pass
    double errorSumMs_ = 0.0;
    double offsetSumMs_ = 0.0;
    double velocityDeltaSum_ = 0.0;
    PlayScore pass_;
    PlayScore lastPass_;
    int32_t passesEnded_ = 0;
};
