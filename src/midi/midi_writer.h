// Writing a Standard MIDI File: timed channel messages into one track of a type 0 file, and the
// file onto disk only once it is whole.
//
// The file's clock is fixed: 1920 ticks to the quarter note at 120 beats a minute, 3840 ticks a
// second, so every message lands within 0.13 ms of its own time and the file plays at the speed it
// was played. 120 is also what a reader assumes of a file without a tempo, so programs that look
// at the beats see plain 4/4 at a familiar tempo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/failure.h"

inline constexpr uint16_t kWriterTicksPerQuarter = 1920;
inline constexpr uint32_t kWriterMicrosPerQuarter = 500'000;
inline constexpr double kWriterTicksPerSecond = kWriterTicksPerQuarter * 1e6 / kWriterMicrosPerQuarter;

// One channel message (status and its one or two data bytes) at a time in seconds from the start.
struct TimedMidiMessage {
    double seconds = 0;
    uint8_t size = 0;  // 2 or 3
    uint8_t bytes[3] = {0, 0, 0};
};

// The whole file: a header, then one track with the tempo, `messages` in the order given, and the
// end of the track at `endSeconds` (or the last message, if later). Times must not go backwards;
// one that does is written at the time before it. Messages are written as they are, without
// running status, which some readers handle badly.
[[nodiscard]] std::vector<uint8_t> MidiFileBytes(const std::vector<TimedMidiMessage>& messages,
                                                 double endSeconds);

// The tick a time falls on, to the nearest; a time before the start falls on tick 0.
[[nodiscard]] uint64_t WriterTick(double seconds);

// Writes `bytes` as the file `path` through a file that takes the target's place only when
// complete: a save interrupted by anything, a signal or a full disk, leaves the file that was there
// as it was. A failure carries the system's reason alone ("No space left on device"), for the
// caller to put after the name it knows the file by: TargetOpen when the file cannot be made, Write
// when it cannot be written or put in place.
[[nodiscard]] Failure SaveMidiFile(const std::string& path, const std::vector<uint8_t>& bytes);
