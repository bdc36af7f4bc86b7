// How much memory a song may take once read: its file's bytes while they are parsed and its
// notes. A song that would take more is refused before its notes are stored, with the figures, so
// that a file of tens of millions of notes never takes the machine's memory from under everything
// else. The limit is the process's: set once at start from the settings or the command line.
#pragma once

#include <cstdint>
#include <string>

// The limit when none is set: a quarter of the machine's memory, and at least 256 MB.
[[nodiscard]] int64_t DefaultSongMemoryLimit();
[[nodiscard]] int64_t SongMemoryLimit();
// A limit of 0 or less goes back to the default.
void SetSongMemoryLimit(int64_t bytes);

// "1500M", "2G", "512MB", "2.5 GB", "1048576" (bytes) or "k"/"KB": a size as a user writes it, in
// binary units; false when it is none, or zero.
[[nodiscard]] bool ParseMemorySize(const std::string& text, int64_t& bytes);

// "1.5 GB", "300 MB": a size as the messages show it.
[[nodiscard]] std::string MemorySizeText(int64_t bytes);
