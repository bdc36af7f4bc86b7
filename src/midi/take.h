// A take: what was played on a MIDI keyboard, with its own timing, ready to be saved as a Standard
// MIDI File. It keeps the channel messages (notes, pedals and other controllers, program changes,
// pressure, pitch bend) at their times in seconds from wherever its owner counts from: the first
// key for a take on its own, the song's start for one played along.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "midi/midi_writer.h"

// Messages a take keeps: hours of the busiest playing, and a bound on what a stuck controller
// streaming for days can make of the file.
inline constexpr size_t kMaxTakeMessages = 4'000'000;

class Take {
  public:
    // Keeps a channel message played at `seconds`. A time before the last one kept (a clock that
    // stepped back) is taken as the last one's, so the take never runs backwards. Returns false,
    // keeping nothing, for anything but a whole channel message and once the take is full.
    bool Add(double seconds, const uint8_t* bytes, size_t size);

    // Keeps a message of a take timed from its first key, `clockSeconds` being any clock's time.
    // What comes before the first key (a pedal pressed first, a sound chosen) is kept at 0 once
    // the key comes, so that the take starts with the key and a pedal held starts down; a key let
    // go that was struck before the take began is dropped. Returns false for what Add refuses.
    bool AddFromFirstKey(double clockSeconds, const uint8_t* bytes, size_t size);
    // The clock's time of the first key; negative before it.
    [[nodiscard]] double FirstKeyClock() const { return firstKey_; }

    [[nodiscard]] const std::vector<TimedMidiMessage>& Messages() const { return messages_; }
    [[nodiscard]] bool Empty() const { return messages_.empty(); }
    // Keys struck (note-ons with a velocity).
    [[nodiscard]] size_t NoteCount() const { return notes_; }
    // The time of the last message kept; 0 for an empty take.
    [[nodiscard]] double LastSeconds() const { return messages_.empty() ? 0.0 : messages_.back().seconds; }

    // The take as a Standard MIDI File ending at `endSeconds` (or its last message, if later). A
    // key still held or a pedal still down is let go there, so that every note in the file ends
    // and nothing hangs when it is played.
    [[nodiscard]] std::vector<uint8_t> FileBytes(double endSeconds) const;

  private:
    std::vector<TimedMidiMessage> messages_;
    std::vector<TimedMidiMessage> beforeFirstKey_;  // what AddFromFirstKey held until the first key
    double firstKey_ = -1;
    size_t notes_ = 0;
};
