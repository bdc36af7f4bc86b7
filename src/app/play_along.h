// Playing along: the player's own keys, from a MIDI keyboard or the computer keyboard, light on the
// keyboard and sound through a synthesiser of their own mixed into the sound device's output; and
// the song waits at each note of the player's parts until its keys are down (wait mode), or runs
// on with each key judged (following).
//
// Who owns what: PlayAlong owns the live synthesiser, the MIDI input and its watch, and the wait
// mode or the scorer. Its state for the panels is the session's (SessionState::playAlong); the
// song's hold at a note is the transport's (HeldForPlayer), which it asks for and lets go.
//
// Threads: everything here runs on the window's frame loop, except that the MIDI input's own
// thread hands keys to the live synthesiser through liveThru_ as they arrive; the input goes
// first whenever they are let go.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "midi/play_along.h"
#include "midi/qwerty_keyboard.h"
#include "settings/song_scores.h"
#include "ui/input_list.h"
#include "view/note_marks.h"

struct SessionState;
struct NotesViewOptions;
class Transport;
class LiveSynth;
class WaitMode;
class FollowScorer;
namespace platform {
class MidiInput;
class MidiInputWatch;
class MidiThru;
class SoundOutput;
struct InputMessage;
}  // namespace platform

// Where the player's keys sound instead of the live synthesiser: an instrument on a MIDI output,
// which the window's own sound gives way to. It decides itself whether a key is sent (the
// instrument played on sounds its own keys).
class PlayerKeysOut {
  public:
    virtual ~PlayerKeysOut() = default;
    // An instrument is chosen and open: the live synthesiser stays silent.
    [[nodiscard]] virtual bool Sending() const = 0;
    virtual void PlayerKey(int key, bool down, int velocity) = 0;
};

class PlayAlong {
  public:
    PlayAlong(SessionState& session, Transport& transport);
    ~PlayAlong();  // the player's synthesiser leaves the sound device before it goes
    PlayAlong(const PlayAlong&) = delete;
    PlayAlong& operator=(const PlayAlong&) = delete;

    // The device the player's keys are mixed into; not owned.
    void SetSoundOutput(platform::SoundOutput* output) { output_ = output; }
    // Where the player's keys go while an instrument sounds; not owned, null for none.
    void SetKeysOut(PlayerKeysOut* out) { keysOut_ = out; }

    // Tab: starts playing along for the parts silenced (the first hand or voice when none is),
    // the song waiting for the player or, `following`, running on; or ends it. Without a song it
    // starts free play: the keys lit, sounded and their chord named, kept as a take.
    void Toggle(bool following = false);
    // Offers the take for saving, lets the keyboard and the synthesiser go and lets the song go on.
    void End();
    // Every frame: takes the keys played and holds or lets go the song. With no song and
    // play-along off, it listens to the MIDI keyboard, and the first key struck starts free play
    // as Tab would (with a song loaded, only Tab starts playing along).
    void Step();
    // The computer keyboard as a piano while no MIDI keyboard is open; whether it took the key.
    bool OnKey(const platform::InputMessage& message, bool down);
    // A key of the player's, down or up at `seconds`: it lights, is kept in the take, waited for
    // or scored, and sounds unless it `sounded` already (through the input's thread).
    void PlayerNote(int key, bool down, double seconds, bool sounded = false,
                    int velocity = QwertyKeyboard::kVelocity);

    // The MIDI inputs and what the panel lists of them. WatchMidiInputs looks at the inputs: a
    // keyboard pulled out pauses the song and says so, and one plugged in while the computer
    // keyboard plays is taken up (the one chosen, or else the first keyboard). ChooseInput
    // listens to the panel's row `row` (the last row is the computer keyboard) and remembers the
    // choice; SetKeysVolume sets the player's keys' own volume, which SaveChoices keeps with the
    // choice.
    [[nodiscard]] bool ListeningToMidi() const;
    void WatchMidiInputs();
    void ChooseInput(int row);
    void SetKeysVolume(float percent);
    void SaveChoices() const;
    // Hands in the MIDI input to listen through, in place of the system's (tests do), and has the
    // inputs looked at from now on.
    void UseInput(std::unique_ptr<platform::MidiInput> input);
    // Looks at the inputs afresh, as if none had been there before.
    void RestartInputWatch();

    [[nodiscard]] const InputListView& Inputs() const { return inputRows_; }
    // Keys held now that were struck for no step of the song's wait.
    [[nodiscard]] KeySet WrongKeys() const;
    [[nodiscard]] LiveSynth* Synth() const { return liveSynth_.get(); }
    [[nodiscard]] platform::MidiThru* Thru() const { return liveThru_.get(); }
    [[nodiscard]] const WaitMode* Wait() const { return waitMode_.get(); }
    [[nodiscard]] const FollowScorer* Follow() const { return follow_.get(); }
    // What the notes view shows of playing along this frame: the parts played, the keys the song
    // waits for, the computer keyboard's letters and follow mode's marks. Off, it shows none.
    // In free play, the chord held is named.
    void ShowIn(NotesViewOptions& options) const;
    [[nodiscard]] const NoteMarks& Marks() const { return marks_; }

  private:
    void ListInputs();
    // The player's keys' synthesiser, with General MIDI program `program`; none (and said) when
    // the SoundFont does not load.
    void MakeLiveSynth(int program);
    void ReleaseKeys();  // lets go every key held
    // Play-along off and no song: a key struck on the keyboard begins free play.
    void ListenForFreePlay();
    void OfferTakeSave();
    // A follow pass has ended: its score is shown and, when it beats the best kept for the song
    // and the parts played, kept.
    void TakePassScore();
    // Follow mode's judgements since the last frame, as marks for the notes view: a key's when it
    // is struck, a missed note's once the song has passed it.
    void MarkMissedNotes(double songSeconds);

    SessionState& session_;
    Transport& transport_;
    platform::SoundOutput* output_ = nullptr;
    PlayerKeysOut* keysOut_ = nullptr;
    std::unique_ptr<LiveSynth> liveSynth_;
    std::unique_ptr<platform::MidiThru> liveThru_;
    // After the synthesiser and liveThru_, so that it goes first: its thread may be handing them a
    // key until then.
    std::unique_ptr<platform::MidiInput> midiInput_;
    std::unique_ptr<WaitMode> waitMode_;
    std::unique_ptr<FollowScorer> follow_;
    std::unique_ptr<platform::MidiInputWatch> inputWatch_;
    bool idleInput_ = false;  // midiInput_ was opened to wait for a key to begin free play with
    InputListView inputRows_;
    NoteMarks marks_;
    double lastMarkedTime_ = 0.0;  // the song time marks were last looked for at: back means a jump
    // Following: the song's kept passes, for the chart under the score, and the parts played.
    std::vector<PassRecord> history_;
    std::string historyParts_;
};
