// What the player is doing with the song, beside where the song stands (song_session.h): the
// passage marked for looping, the speed and the parts heard, and playing along on a keyboard.
// It is state only, kept in the window's session; the controller owns the renders, synthesisers
// and devices that carry it out, and moves this state by what came of them.
//
//   Off --Begin(Waiting)--> Waiting    the song holds at each of the player's notes
//   Off --Begin(Following)--> Following  the song runs on and each key is scored
//   Off --Begin(Free)--> Free           no song: the player plays alone
//   Waiting / Following / Free --End--> Off   the take is given up first, to be offered for saving
//
// The choices the player makes for the next time (the keyboard to listen to, the live keys'
// volume) are not forgotten when play-along ends.
#pragma once

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "midi/play_along.h"
#include "midi/qwerty_keyboard.h"
#include "midi/take.h"
#include "settings/song_hands.h"
#include "settings/song_memory.h"
#include "synth/practice_choice.h"
#include "synth/stream_playback.h"

struct PracticeSession {
    // The loop's first mark (L pressed once), in song frames; -1 for none.
    int64_t loopMark = -1;
    // A drag with Shift in the time bar marks a loop from where it began (frames; -1: no drag).
    int64_t loopDragFrom = -1;
    PracticeChoice choice;  // the speed and the parts heard
    // Beside the choice, and kept with it: the semitones the song is heard moved (-12 to 12), and
    // the metronome's click on every beat.
    int transpose = 0;
    bool metronome = false;
    // The trainer: each clean pass played along raises the speed a step, up to the song's own.
    // Kept with the song, like the speed it works on.
    bool trainer = false;
    // The hands the player put notes in, as kept for the song (hand_editing.h), and
    // the first corner of a box being dragged over notes with Ctrl, in design units.
    HandEdits hands;
    bool handBoxActive = false;
    float handBoxX = 0.0f;
    float handBoxY = 0.0f;
    static constexpr int kMaxTranspose = 12;

    // The song sounds as its own render has it: no practice render is needed.
    [[nodiscard]] bool PlainSound() const { return choice.Plain() && transpose == 0 && !metronome; }

    // A new song, known by `key`: nothing marked, and the song as written until its memory is read.
    void NewSong(std::string key);
    // The same for a song whose key is still being hashed on another thread: a song of which
    // nothing can have been kept yet, so that its load need not wait for a hash of every byte.
    void NewSongKeyedAside(std::shared_future<std::string> key);

    // The key the song is remembered by between runs; "" for none. Waits for a key still being
    // hashed: whatever is read or written under it must be the song's own.
    [[nodiscard]] const std::string& Key() const;
    // The key if it is known without waiting; "" while it is still being hashed, when nothing
    // has been kept under it since the load either (a write would have waited for it).
    [[nodiscard]] const std::string& KnownKey() const;

    // The L key at song frame `now`, while a loop plays (`looping`) or not. The first press marks
    // where a loop starts; the second gives the loop to play, from the earlier mark to the later;
    // a press while a loop plays gives an inactive loop, which ends it. Nothing (only a mark) when
    // there is no loop to change yet; two marks too close together start again from the later.
    [[nodiscard]] std::optional<PlaybackLoop> MarkLoop(int64_t now, bool looping);

    // The parts a song of `parts` parts read by voices shows in the score, a staff each: while
    // playing along, those the player plays; else those muted (the parts left for the player), or
    // failing those the soloed (the parts listened to); none when none is chosen, for the song's
    // first piano part.
    [[nodiscard]] std::vector<int32_t> ScoreParts(int parts, bool playingAlong) const;

    // What is kept of the song between runs, with `loop` (in frames at `rate`) as its passage.
    [[nodiscard]] SongMemory Memory(const PlaybackLoop& loop, double rate) const;
    // The choice kept in `memory` for a song of `parts` parts, with drums or not; parts the song
    // does not have are left out.
    void TakeFromMemory(const SongMemory& memory, int parts, bool hasDrums);

  private:
    // Taken from the hash the first time the key is asked for once it is done.
    mutable std::string songKey_;
    mutable std::shared_future<std::string> pendingKey_;  // valid while the key is being hashed
};

enum class PlayAlongMode : uint8_t {
    Off,
    Waiting,    // the song holds at each of the player's notes until its keys are down
    Following,  // the song runs on, and each key is judged
    Free,       // no song: what the player plays is lit, sounded and named, and kept as a take
};

struct PlayAlongSession {
    PlayAlongMode mode = PlayAlongMode::Off;

    // Chosen by the player and kept between runs.
    std::string chosenInput;  // the MIDI input asked for by name; "" for the first keyboard
    int volumePercent = 100;  // the live keys' own volume, 0..100

    std::string inputName;  // the input listened to now; "" while the computer keyboard plays
    // The MIDI inputs there are, by the names the backend lists them under, as last looked at.
    std::vector<std::string> inputs;
    KeySet keysDown;              // held on the input now
    int32_t passesShown = 0;      // follow passes whose score has been shown
    std::string scoreText;        // over the notes: how play-along plays, then the last pass's score
    QwertyKeyboard typedKeys;     // the computer keyboard as a piano
    double lastInputCheck = 0.0;  // when the MIDI inputs were last looked at (steady seconds)

    [[nodiscard]] bool On() const { return mode != PlayAlongMode::Off; }

    // Play-along starts in `mode` for the parts labelled `parts` (PlayedPartsLabel), listening to
    // `input` ("" for the computer keyboard): the line over the notes says so.
    void Begin(PlayAlongMode how, const std::string& input, const std::string& parts);
    // Listening to `input` from now on ("" for the computer keyboard); until a score has taken
    // its place, the line over the notes says so.
    void Listen(const std::string& input);
    // Whether the computer keyboard was chosen over any MIDI keyboard.
    [[nodiscard]] bool ComputerKeyboardChosen() const;
    // A key of the player's went down or up at `seconds` of the steady clock: it is held (or not)
    // and kept in the take with the player's own timing, counted from the first key. False, and
    // nothing kept, for a key outside 0..127.
    bool Note(int key, bool down, double seconds);
    // The take played since play-along began, and the steady moment of its first key (-1 for a
    // take without one); the session keeps nothing of it after.
    [[nodiscard]] Take GiveUpTake(double& origin);
    // Back to Off. Whatever was held is let go; the take must have been given up first, or it goes.
    void End();

  private:
    void SayHowItPlays();

    std::string parts_;  // the parts played, as the line over the notes names them
    Take take_;
    double takeOrigin_ = -1.0;
};
