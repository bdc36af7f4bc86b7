// What the command-line tool prints about a parsed song.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "core/song_data.h"

// The whole song as one JSON object: status, whether it loaded, note tracks, duration, bar lines,
// the parts (each with its track, channel, program, name and notes as [key, start, end, velocity];
// the two hands, or every voice in the order the voices first sound), the reading, what told the
// hands apart ("track", "pitch", or "none" for voices), the percussion notes and whether anything
// past a limit was left out. Times print with %.9g, the duration with %.17g, so the numbers read
// back exactly.
[[nodiscard]] std::string SongJson(const SongData& song, bool loaded);
// The same text handed to `write` a block at a time, in order, so that the text of a huge song is
// never held whole.
void WriteSongJson(const SongData& song, bool loaded, const std::function<void(const char*, size_t)>& write);

// A few lines for a person: tracks, length, bar lines, each hand's or voice's notes and key range,
// and for hands what told them apart.
[[nodiscard]] std::string SongSummary(const SongData& song, const std::string& name);

// Why a load failed, in words; empty when it succeeded.
[[nodiscard]] std::string LoadFailureReason(const SongData& song, bool loaded);
