// Playing along with the song: what the two play-along modes share. The player chooses the parts
// they play (a hand, both hands, or a voice); the song's notes of those parts are what their keys
// are held against. Wait mode (midi/play_wait.h) holds the song at each of those notes until it is
// struck; follow mode (midi/play_follow.h) lets the song run and judges each key.
//
// Two clocks meet here. Song time is seconds of the song, as the notes are timed; the song clock
// moves through it at the chosen speed. Real time is the player's own: seconds of one steady clock,
// in which the keys' events are stamped. Every window that measures the player's hands (a chord's
// spread, how early or late a key was) is in real time, so that the song's speed changes how fast
// the notes come but not how exactly the player has to strike them.
//
// All of this is pure: events and clock readings in, state out. Nothing here reads a device, a
// clock or a file, so the controller drives it and the tests script it.
#pragma once

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "core/song_data.h"

// The parts the player plays: bit p is the song's part p (0 is the first hand or the first voice,
// as `dorvik-midi info` numbers them from 1).
using PlayedParts = std::bitset<kMaxParts>;

// Every MIDI key, for the sets of keys wanted, held or wrong.
using KeySet = std::bitset<128>;

// The parts as the player names them and as their best result is kept: the 1-based numbers of the
// parts joined by '+', lowest first ("1", "2", "1+2", "7"); "" for none.
[[nodiscard]] std::string PlayedPartsLabel(const PlayedParts& parts);

// One note the player is to strike: its key and the song time it starts at.
struct PlayNote {
    float start;           // seconds of the song
    int32_t key;           // 0..127
    int32_t velocity = 0;  // how hard the song strikes it, 1..127
};

// The notes of `parts` in `song`, by start and then by key, a key struck by two parts at one moment
// taken once. Parts past the song's part count and
// keys outside 0..127 give none.
[[nodiscard]] std::vector<PlayNote> PlayedNotes(const SongData& song, const PlayedParts& parts);

// Where the song clock stood at one real moment, and how fast it was going: enough to tell where
// the song was when a key's event, stamped in real time, happened between two readings.
struct SongClockReading {
    // A reading this old is not carried on: the controller reads the clock every frame, and a
    // clock that has not been read for longer has most likely been paused.
    static constexpr double kLongestCarry = 0.1;

    double songSeconds = 0.0;
    double realSeconds = 0.0;
    double speed = 1.0;  // song seconds per real second while the song runs

    // The song time at real moment `real`, carried on from the reading (or back, for an event
    // stamped before it). `until` caps it: the song does not run past a place it is held at.
    [[nodiscard]] double SongAt(double real, double until) const {
        const double carry = std::clamp(real - realSeconds, -kLongestCarry, kLongestCarry);
        return std::min(songSeconds + carry * speed, until);
    }
};

// Speeds outside the player's range are taken as its nearest end, so that a stray value never
// turns a window in real time into none or into forever.
[[nodiscard]] inline double PlayAlongSpeed(double speed) {
    return speed >= 0.25 && speed <= 2.0 ? speed : (speed > 2.0 ? 2.0 : 0.25);
}
