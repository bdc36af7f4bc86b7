// The words of a song: the lyric events a file holds (meta event 5), or, in a file without any, its
// text events (meta event 1) as karaoke files carry their syllables, each timed as the synthesiser
// plays it. The words are split into lines where the file breaks them: a syllable that starts with
// '/' or '\' starts a line (the karaoke files' rule, '\' a new verse), one that ends in a carriage
// return or a line feed ends its line. Karaoke files' "@" header lines (title, language, credits)
// are not words and are left out.
//
// Files do not say how their text is encoded. The whole text is taken as UTF-8 when every event of
// it is valid UTF-8, and otherwise as Latin-1 (what older karaoke files are written in), and is
// handed out as UTF-8 either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct LyricSyllable {
    double seconds = 0;  // when it is sung
    std::string text;    // UTF-8, without the file's line marks
};

struct LyricLine {
    size_t first = 0;  // its first syllable
    size_t count = 0;  // its syllables; never 0
};

// Where the singing stands at one moment: the line to show and how much of it is sung.
struct LyricPlace {
    int32_t line = -1;  // the line shown; -1 when there are no words
    // Syllables of the line sung so far, the last of them the one being sung: 0 before the line
    // starts.
    int32_t sung = 0;
};

struct SongLyrics {
    std::vector<LyricSyllable> syllables;  // in the order they are sung
    std::vector<LyricLine> lines;
    bool fromTextEvents = false;  // read from text events; false: from lyric events
    bool latin1 = false;          // the file's text was not UTF-8 and was read as Latin-1

    [[nodiscard]] bool Empty() const { return lines.empty(); }
    // The whole text of one line.
    [[nodiscard]] std::string LineText(size_t line) const;
    // The line sung at `seconds`: the line of the last syllable begun by then, or the first line
    // before any is; once a line is over, the next is shown ahead of its first syllable as soon as
    // it is nearer than the one just sung, so that the singer can read it before it comes.
    [[nodiscard]] LyricPlace PlaceAt(double seconds) const;
};

// The words of a Standard MIDI File in memory (a RIFF MIDI file is unwrapped first). Reads never go
// past data + size; a file cut short or damaged gives the words read up to the damage, and a file
// that is no MIDI file gives none.
[[nodiscard]] SongLyrics ReadLyrics(const uint8_t* data, size_t size);
