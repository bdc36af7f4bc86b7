// What the player remembers of each song between runs: the passage last practised over and over,
// the speed it was played at, and which parts were silenced or played alone.
//
// Each song has a small file of its own, "songs/<key>.txt" in the data folder, named by a key
// drawn from the song file's bytes: the same song is known again wherever it lies and whatever
// it is called, and an edited song is a new one. The file is UTF-8 text of "name = value" lines;
// the program writes "loop = START END" (seconds, as decimals), "speed = PERCENT", "muted = ..."
// and "solo = ..." (parts counted from 1 as the legend lists them; "drums" among the muted),
// "transpose = N", "metronome = on" and "trainer = on".
// Unknown lines and values are ignored, so a newer program's file still reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SongMemory {
    // The loop, in seconds of the song; negative: none.
    double loopStart = -1.0;
    double loopEnd = -1.0;

    // The speed in percent of the song's own; 100 when none was kept.
    int speedPercent = 100;
    // Parts, counted from 0, that were muted and that were soloed; the drums on their own.
    std::vector<int> mutedParts;
    std::vector<int> soloParts;
    bool drumsMuted = false;
    // The semitones the song is heard moved (-12 to 12), and whether the metronome clicks.
    int transpose = 0;
    bool metronome = false;
    // Whether each clean pass played along raises the speed a step. Files written before it was
    // kept have no such line and read as off, as the trainer then began.
    bool trainer = false;

    [[nodiscard]] bool HasLoop() const { return loopStart >= 0 && loopEnd > loopStart; }
};

// The file kept for the song with `key` in the data folder's "songs" folder: "<key><suffix>". Its
// folders are made only with `make` (to write it); "" when there is no such folder or the key is
// no key.
[[nodiscard]] std::string SongFilePath(const std::string& key, const char* suffix, bool make);

// The text of the file kept for the song with `key` (see SongFilePath), as both of a song's files
// are read: "" when there is none, no data folder, or a file that cannot be read or is larger than
// `maxBytes` (not one of the program's own).
[[nodiscard]] std::string ReadSongFileText(const std::string& key, const char* suffix, size_t maxBytes);
// `text` without the blanks (spaces, tabs, a carriage return) around it, as a song file's lines
// and values are read.
[[nodiscard]] std::string_view TrimSongFileBlanks(std::string_view text);

// The key of a song file's bytes: 16 hexadecimal digits of a 64-bit hash, then its size.
[[nodiscard]] std::string SongKey(const uint8_t* data, size_t size);
// The same key of the file at `path`, read a piece at a time rather than held whole; "" when it
// cannot be read to its end.
[[nodiscard]] std::string SongKeyOfFile(const std::string& path);
// Whether a file "<key><suffix>" may be kept for a song of `size` bytes: false only when the
// songs folder holds none whose key ends in that size. Costs a look at the folder, not the song.
[[nodiscard]] bool SongFileMayExist(size_t size, const char* suffix);

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
