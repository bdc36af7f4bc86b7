// The song on the player's own instrument: while a MIDI output is chosen in place of the
// SoundFont, the song's events go to it in step with the falling notes, and the window's own sound
// is silent (the render goes on, for the waveform and the exports).
//
// The room follows the transport once per frame, after its Update: what the transport plays, the
// instrument plays. A running song is sent from the transport's place at the practice speed, with
// the parts muted and the transposition heard, round the loop; a hold (the render behind, the
// player's keys awaited) stands the instrument's clock still; a jump of the place (a seek, a stop,
// a hold, a loop set) sends the song afresh from the new place. Whenever the flow breaks, the
// sender lets every sounding note go and resets the channels it used (synth/midi_sender.h), so that
// nothing is left sounding on pause, stop, seek, a loop's wrap, a mute, another output or quitting.
// The instrument's own delay is taken off: its notes sound when the falling notes land. The
// metronome clicks on the instrument's wood blocks (synth/click_notes.h) while it is on, and so
// does the bar counted in before a pass: the instrument then starts the song itself as the bar
// ends, so that its first beat comes a beat after the last click.
//
// The outputs are looked at twice a second. An instrument that goes while the song plays pauses
// the song and says so, and the SoundFont sounds until the chosen instrument is there again; it is
// then taken up again by itself.
//
// The player's own keys go to the instrument too, unless it is the very instrument they are played
// on: that one sounds them itself, and would strike each twice.
//
// Who owns what: the room owns the MIDI output, the song's events and the sender; it reads the
// session's song, practice choice and play-along input, and the transport's place and state; it
// sets the transport silent or not. Its choice is kept in the settings (`[Sound output]`).
//
// Threads: everything here runs on the window's frame loop, except the sender's own thread, which
// sends the song's messages as they fall due (none in tests, which hand in a clock of their own).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/play_along.h"
#include "synth/part_mute.h"
#include "ui/output_list.h"

struct SessionState;
struct SongData;
class Transport;
class TempoMap;
class MidiSender;
struct SongEvents;
namespace platform {
class MidiOutput;
class MidiOutputWatch;
}  // namespace platform

class MidiPlayback final : public PlayerKeysOut {
  public:
    MidiPlayback(SessionState& session, Transport& transport);
    ~MidiPlayback() override;  // every note let go, the output closed
    MidiPlayback(const MidiPlayback&) = delete;
    MidiPlayback& operator=(const MidiPlayback&) = delete;

    // ---- Set-up
    // Takes up the choice kept in the settings and looks at the outputs: the system's, unless a
    // test has handed in its own.
    void Start(const std::string& chosen, int delayMs);
    // Sends through `output` in place of the system's (tests).
    void UseOutput(std::unique_ptr<platform::MidiOutput> output);
    // Runs the sender on `clock` without a thread of its own: each Step sends what is due (tests).
    void UseClock(std::function<double()> clock);

    // ---- Once per frame, after the transport's Update
    void Step();

    // ---- The panel's choice
    // Row 0 is the SoundFont, the others the outputs as listed; the choice is kept.
    void Choose(int row);
    void SetDelay(float milliseconds);
    void SaveChoices() const;
    [[nodiscard]] const OutputListView& Rows() const { return rows_; }
    // The instrument's name as the panel lists it; "" while the SoundFont sounds.
    [[nodiscard]] std::string SoundingOn() const;

    // ---- Without a SoundFont
    // Says that a song cannot be loaded while no SoundFont is: even played on the instrument, it
    // keeps time by its render through one (silent while the instrument plays), so the words say
    // what to choose when an instrument is the sound.
    void SayASongNeedsASoundFont() const;

    // ---- Ending
    // Lets every note go and closes the output (quitting); the window's sound comes back.
    void Release();

    // ---- The player's keys (PlayerKeysOut)
    [[nodiscard]] bool Sending() const override;
    void PlayerKey(int key, bool down, int velocity) override;

  private:
    void ListOutputs();
    void LookAtOutputs();
    // Opens `name` and sends to it; false (and said) when it cannot be opened.
    bool OpenOutput(const std::string& name);
    void CloseOutput();
    // The song's events are read afresh when the song (or its tempo map) is another one.
    void FollowSong();
    // The song or its tempo map is another one than the events were last read for.
    [[nodiscard]] bool SongMoved() const;
    void FollowTransport();
    // Has the sender count the transport's bar in before the song plays from `from` (song seconds).
    void CountIn(double from);
    // Makes the sender, reading the song's events first when they are not at hand.
    void MakeSender();
    // The current song's events with the metronome's clicks; none without a song.
    void ReadEvents();
    // Lets the player's keys still down go on the instrument.
    void ReleasePlayerKeys();
    [[nodiscard]] double Now() const;  // the test's clock, or the steady one

    SessionState& session_;
    Transport& transport_;
    std::unique_ptr<platform::MidiOutput> output_;
    std::unique_ptr<platform::MidiOutputWatch> watch_;
    std::function<double()> clock_;   // a test's; empty for the steady clock and the sender's thread
    std::string chosen_;              // the device chosen, as the settings keep it; "" for the SoundFont
    std::vector<std::string> names_;  // the outputs listed, by the backend's names
    OutputListView rows_;
    int delayMs_ = 0;
    double lastLook_ = -1.0;  // when the outputs were last looked at (steady seconds)

    // What the song's events were read from, to see that another song came.
    const SongData* song_ = nullptr;
    const std::vector<uint8_t>* bytes_ = nullptr;
    const TempoMap* tempo_ = nullptr;
    std::unique_ptr<SongEvents> events_;
    std::unique_ptr<MidiSender> sender_;  // after events_: it reads them until it goes

    // What the sender was last told, so that a frame tells it only what changed.
    bool running_ = false;
    bool held_ = false;
    bool countingIn_ = false;
    uint32_t jumps_ = 0;
    double stillAt_ = 0.0;  // where the song stood while it last did not run, in song seconds
    double speed_ = 1.0;
    double loopStart_ = 0.0, loopEnd_ = 0.0;
    PartMutes mutes_;
    int transpose_ = 0;
    bool metronome_ = false;
    bool passesCountedIn_ = false;
    bool playerKeys_[128] = {};  // the player's keys sent down and not yet up
};
