// The song played on a MIDI instrument: which of its messages go out when, worked out from the
// song's events and a clock the caller moves. It sends nothing itself and reads no clock, so every
// rule below is tested with scripted times; MidiSender runs it against the steady clock.
//
// The song's clock runs at the practice speed from wherever it was last placed, stands still while
// paused or while the song waits for the player (wait mode), and wraps from a loop's end to its
// start. A message is due when the song's clock reaches its event, less the instrument's own delay
// (the latency), so that the instrument sounds when the falling notes land; near a loop's end that
// means the next pass begins that much early as well.
//
// What goes out is the song as heard: muted parts' notes left out, notes moved by the
// transposition (the drums never are), a key struck again while it sounds let go first, a note-off
// sent only for a key that sounds. Whenever the song's flow is broken (pause, stop, seek, a loop's
// wrap, a mute or transposition that changes, the output changed, quitting) every sounding note is
// let go, and then every channel the song uses is told All Notes Off (CC 123) and Reset All
// Controllers (CC 121), so that nothing hangs on an instrument that missed a note-off. When the song
// goes on from there, each channel first gets back the program, controllers and pitch bend it had
// at that point of the song, so a seek into the middle sounds as playing up to it would have.
//
// The metronome's clicks, when the events hold them (synth/click_notes.h), are struck only while
// the metronome is on; turning it on or off breaks nothing, and a click already struck is still
// let go.
//
// A count-in is a bar of clicks on the caller's clock before the song goes on by itself at the
// moment the bar ends, so that the song's first beat lands where the next click would have. The
// clicks sound whether the metronome is on or not, are let go like the song's notes, and a pause,
// stop or seek drops those not yet struck.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "midi/song_beats.h"
#include "midi/song_events.h"
#include "synth/part_mute.h"

struct SequencedMessage {
    double due;  // on the caller's clock, in seconds: when it should leave
    uint8_t size;
    uint8_t bytes[3];
};

class MidiSequencer {
  public:
    using Out = std::vector<SequencedMessage>;

    // The latency the instrument's delay may be set to: more would be felt as a late response
    // to the controls.
    static constexpr double kMaxLatency = 0.5;
    // A count-in's click this far behind the moment it is asked for is left out: struck that late,
    // it would put the player off the beat rather than on it.
    static constexpr double kLateClick = 0.05;

    // `events` must outlive the sequencer. Stopped at the start of the song.
    explicit MidiSequencer(const SongEvents& events);

    // Starts or resumes the song from its position at `now`.
    void Play(double now, Out& out);
    // Holds the song where it is, letting every note go.
    void Pause(double now, Out& out);
    // Back to the start, paused, every note let go.
    void Stop(double now, Out& out);
    // Moves the song to `seconds`, playing on from there if it was playing.
    void Seek(double seconds, double now, Out& out);
    // Moves the song's clock by `seconds` without breaking the flow: nothing is let go, nothing
    // sent is sent again, and what falls due sooner goes sooner. For keeping in step with another
    // clock by small amounts; a move that would cross the loop's end is not made.
    void Shift(double seconds, double now);
    // Wait mode: while `waiting`, the song's clock stands still; the notes sounding go on sounding.
    void Wait(bool waiting, double now);
    // Lets every sounding note go now (before the output changes, or the program ends). A
    // count-in goes on.
    void ReleaseAll(double now, Out& out);
    // Counts a bar in before the song plays from `seconds`: every note is let go, each of `clicks`
    // (times on the caller's clock, the bar's first accented) is struck on the percussion channel,
    // and the song starts by itself at `start` on that clock, playing from then on.
    void CountIn(double seconds, const std::vector<Beat>& clicks, double start, double now, Out& out);

    // The practice speed as a multiple of the song's tempo, kept within the render's range.
    void SetSpeed(double speed, double now);
    // The instrument's own delay, 0 to kMaxLatency seconds.
    void SetLatency(double seconds, double now);
    // A loop from `start` to `end` seconds of the song; `end <= start` for none.
    void SetLoop(double start, double end, double now, Out& out);
    void SetMutes(const PartMutes& mutes, double now, Out& out);
    // Semitones up (or down) for every note off the percussion channel.
    void SetTransposition(int semitones, double now, Out& out);
    // Whether the clicks among the events are struck; they are not at first.
    void SetMetronome(bool on) { metronome_ = on; }
    // Playing along, the caller counts each pass of the loop in again from its start: the song
    // then goes no further than the loop's end, every note let go there, rather than round by
    // itself, which would strike the loop's first notes just before the count-in.
    void SetPassesCountedIn(bool on) { passesCountedIn_ = on; }

    // Sends what is due at `now`: the caller calls it whenever its clock moves.
    void Advance(double now, Out& out);
    // When the next message is due, on the caller's clock; `now` or earlier when one is overdue, a
    // very large time when none will be until something changes.
    [[nodiscard]] double NextDue(double now) const;
    // Where the song is at `now`, in seconds of the song, the loop taken into account.
    [[nodiscard]] double Position(double now) const;
    [[nodiscard]] bool Playing() const { return playing_; }
    // Playing with every event sent and the song's clock past the last of them.
    [[nodiscard]] bool Finished(double now) const;

  private:
    // The clock unwrapped: song seconds from the anchor on, as if no loop turned it back.
    [[nodiscard]] double Unwrapped(double now) const;
    [[nodiscard]] bool Looping() const { return loopEnd_ > loopStart_ && anchorSong_ < loopEnd_; }
    // Which pass of the loop an unwrapped time is in: 0 until the first wrap.
    [[nodiscard]] int64_t PassOf(double unwrapped) const;
    [[nodiscard]] double SongTimeOf(double unwrapped) const;
    [[nodiscard]] double DueOf(double songSeconds, int64_t pass) const;
    // Places the clock at `songSeconds` at `now`, the passes counted afresh.
    void Anchor(double songSeconds, double now);
    // Where the clock is placed again when something changes at `now`: then, or, while a bar is
    // being counted in, the moment the song is to start.
    [[nodiscard]] double Since(double now) const { return std::max(now, anchorWall_); }
    // When the next message of the song itself is due (see NextDue).
    [[nodiscard]] double NextSongDue(double now) const;
    // Sends the count-in's clicks due at `now`.
    void StrikeCountIn(double now, Out& out);
    void DropCountIn();
    // Puts the next event to send at the first at or after `seconds`, and the channels' state to
    // be restored before it.
    void MoveTo(double seconds);
    // Lets every sounding note go and resets the channels used, unless nothing was sent since
    // the last time.
    void Release(double due, Out& out);
    void Chase(double due, Out& out);
    void SendEvent(const SongEvent& e, double due, Out& out);
    void Emit(double due, uint8_t status, uint8_t data1, uint8_t data2, Out& out);

    const SongEvents& song_;
    size_t next_ = 0;  // the next event to send
    bool playing_ = false;
    bool waiting_ = false;
    double speed_ = 1.0;
    double latency_ = 0.0;
    double loopStart_ = 0.0;
    double loopEnd_ = 0.0;
    double anchorSong_ = 0.0;  // the song's time at anchorWall_
    double anchorWall_ = 0.0;
    int64_t emittedPass_ = 0;  // the loop's pass the next event belongs to
    PartMutes mutes_;
    int transposition_ = 0;
    bool metronome_ = false;
    bool passesCountedIn_ = false;
    bool chase_ = false;   // the channels' state is to be restored before the next event
    bool quiet_ = true;    // nothing sent since the last release
    uint16_t sentOn_ = 0;  // channels sent on since the last release
    bool sounding_[16][128] = {};
    SongEvents countIn_;  // the count-in's clicks, timed on the caller's clock
    size_t countInNext_ = 0;
};
