// What the player remembers of each song between runs: the passage last practised over and over.
//
// Each song has a small file of its own, "songs/<key>.txt" in the data folder, named by a key
// drawn from the song file's bytes: the same song is known again wherever it lies and whatever
// it is called, and an edited song is a new one. The file is UTF-8 text of "name = value" lines;
// the program writes "loop = START END" (seconds, as decimals). Unknown lines are ignored, so a
// newer program's file still reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SongMemory {
    // The loop, in seconds of the song; negative: none.
    double loopStart = -1.0;
    double loopEnd = -1.0;

    [[nodiscard]] bool HasLoop() const { return loopStart >= 0 && loopEnd > loopStart; }
};

// The key of a song file's bytes: 16 hexadecimal digits of a 64-bit hash, then its size.
[[nodiscard]] std::string SongKey(const uint8_t* data, size_t size);

// Applies the text data[0..size) to `memory`. Safe on any bytes; a line it cannot read is ignored.
void ParseSongMemory(SongMemory& memory, const char* data, size_t size);
// The file's text for `memory`.
[[nodiscard]] std::string SongMemoryText(const SongMemory& memory);

// What is remembered of the song with `key`; nothing (the defaults) when there is no file, no data
// folder or a file that cannot be read.
[[nodiscard]] SongMemory ReadSongMemory(const std::string& key);
// Keeps `memory` for the song with `key`, replacing what was kept; false, quietly, when it could
// not be written.
[[nodiscard]] bool WriteSongMemory(const std::string& key, const SongMemory& memory);
