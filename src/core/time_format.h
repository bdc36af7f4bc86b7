// The one way the program writes a time for people to read: minutes, seconds and tenths,
// "01:23.4", in the clock, the time bar and the command line alike.
#pragma once

#include <cstdio>
#include <string>

// "--:--.-" for a time before the song starts (negative), not a number, or past any song.
[[nodiscard]] inline std::string FormatSongTime(double seconds) {
    const double scaled = seconds * 1000.0;
    if (!(scaled >= 0) || scaled >= 2147483647.0) return "--:--.-";
    const int ms = static_cast<int>(scaled);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d.%1d", ms / 60000, (ms % 60000) / 1000, (ms % 1000) / 100);
    return text;
}

// The clock of a loaded song: its position and its length, "00:12.3 / 01:37.9". A position before
// the song starts (stopped, or the count-in) reads as its start.
[[nodiscard]] inline std::string ClockText(double position, double length) {
    return FormatSongTime(position > 0 ? position : 0.0) + " / " + FormatSongTime(length);
}
