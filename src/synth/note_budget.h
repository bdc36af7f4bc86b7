// Which note-ons of a song too dense for its voices the render's own sequencer starts.
//
// A synthesiser of V voices that is sent more notes than it can hold gives each new note a voice
// taken from one already sounding. At a hundred thousand notes a second and a few hundred voices,
// a voice lasts a couple of milliseconds before the next note takes it: too short to be heard as
// a note of its pitch, yet each such note costs the synthesiser what a long one does to start
// (finding and stealing a voice, setting up its parameters), and starting them was most of the
// render's time. So notes are started only as fast as the voices can give each one at least
// kLeastVoiceSeconds to sound: a budget of V notes per kLeastVoiceSeconds, refilled frame by frame
// and holding at most V (a chord of every voice after a pause still starts whole). When a block
// of the render has more note-ons due than the budget holds, the loudest start and the quietest
// are dropped: the ones that would have been the first to give way anyway (the synthesiser steals
// the quietest voice). A song that stays within its voices' pace loses no note.
//
// A dropped note is dropped whole: its note-off is held back too, so that it cannot end a note of
// the same key that did start. Every note-off is matched to a note started before it on its
// channel and key; one that matches none (of a note dropped, or already ended by the channel's
// all-notes-off) would find no voice to end, and is held back as well. Every other event passes.
//
// Loudness, for choosing, is the note's velocity times its channel's volume and expression: the
// synthesiser's default curves for the three are each logarithmic, so their product orders notes
// as the attenuation they get does. Pure: events in, a choice out; one per render.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "synth/song_sequencer.h"

class NoteBudget {
  public:
    // How long each voice may sound, at the least, before a note started later takes it. Notes
    // shorter than this are heard as clicks without a pitch. At 256 voices it lets 32,000 notes
    // start a second: a song of 30,000 notes a second, which renders in real time as it is, keeps
    // every note, and one of 110,000 renders in about half its length on one processor.
    static constexpr double kLeastVoiceSeconds = 0.008;

    // For a synthesiser of `voices` voices (at least 1) rendering `sampleRate` frames a second;
    // the budget starts full.
    NoteBudget(int voices, uint32_t sampleRate);

    // Takes note of the controllers of an event sent outside any block (the channels' state set
    // before a render that starts into the song).
    void Follow(const SequencedEvent& e);

    // `events`, in playing order, are every event due at the render's block starting at `frame`
    // (frames never go back). Decides which of them are sent: Sends(i) for the event at `i`.
    // A note-on whose entry in `silenced` is non-zero (of a muted part) is not sent and takes
    // nothing from the budget; its note-off is held back like a dropped note's.
    void Sift(int64_t frame, const std::vector<SequencedEvent>& events,
              const std::vector<uint8_t>& silenced = {});
    [[nodiscard]] bool Sends(size_t index) const { return index < sends_.size() && sends_[index] != 0; }

  private:
    static constexpr int kChannels = 16;
    static constexpr int kKeys = 128;

    [[nodiscard]] uint32_t Loudness(const SequencedEvent& on) const;
    // The channel's volume and expression, as a controller sets them.
    void FollowControllers(const SequencedEvent& e);
    // A channel's all-notes-off (or all-sound-off) has ended every note of it.
    void ForgetNotes(const SequencedEvent& e);

    double perFrame_;        // notes the budget gains each frame
    double most_;            // the most it holds: one note per voice
    double credit_;          // notes it may start now
    int64_t lastFrame_ = 0;  // the frame it was last refilled at
    std::array<uint8_t, kChannels> volume_{};
    std::array<uint8_t, kChannels> expression_{};
    std::array<uint16_t, kChannels * kKeys> started_{};  // notes started and not yet ended
    std::vector<uint32_t> loudness_;                     // of the block's note-ons, in order
    std::vector<uint32_t> ranked_;                       // the same, being ranked
    std::vector<uint8_t> sends_;                         // per event of the block: sent
};
