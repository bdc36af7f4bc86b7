// The metronome for an instrument: the clicks of every beat (midi/song_beats.h) as notes on the
// percussion channel among the song's own events, so that whatever plays the song on a MIDI output
// plays them too and they follow its speed, loop, seeks and waits without a clock of their own.
// The rendered click (synth/metronome.h) is a tone mixed into the sound; an instrument has no such
// tone, so the clicks are its wood blocks, the higher one on the first beat of a bar.
//
// The click notes belong to no part (kClickPart): muting the drums leaves them, and whoever sends
// them leaves their note-ons out while the metronome is off, so that it can be turned on and off
// as the song plays.
//
// Pure: events and beats in, events out.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/song_beats.h"
#include "midi/song_events.h"

// The part of a click's note-on, apart from the song's parts and its drums.
inline constexpr int16_t kClickPart = -3;

// The wood blocks of the General MIDI percussion map: every instrument that follows it has them.
inline constexpr uint8_t kAccentClickKey = 76;  // Hi Wood Block: the bar's first beat
inline constexpr uint8_t kBeatClickKey = 77;    // Low Wood Block

// The velocity of the accented click at `volume` (0 to 1, as the rendered click's); 0 for none.
// The other beats are struck a little softer, as the rendered clicks are quieter.
[[nodiscard]] uint8_t AccentClickVelocity(float volume);
[[nodiscard]] uint8_t BeatClickVelocity(float volume);

// Adds a click note for each of `beats` to `song`, in time order among its events (after the
// song's own at the same moment), each let go shortly after it is struck and before the next.
// Nothing is added at a volume of 0.
void AddClickNotes(const std::vector<Beat>& beats, float volume, SongEvents& song);
