// What a Standard MIDI File says about itself, for the tags of the audio made from it: the song's
// title (the first track's name), its copyright notice and its composer. Read from bytes in
// memory, RIFF MIDI (.rmi) unwrapped; judges nothing about the song's notes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/song_data.h"

struct MidiTags {
    std::string title;      // the first track's name; "" when it has none
    std::string copyright;  // the first copyright notice of any track
    std::string composer;   // from a text event such as "Composer: NAME" or "Music by NAME"
};

// The tags of the file data[0..size), as UTF-8 without control characters and trimmed: text that is
// UTF-8 already is kept, anything else is read as Latin-1, as most older files are written. A file
// that is damaged or cut short gives what was read before the damage; any bytes are safe.
[[nodiscard]] MidiTags ReadMidiTags(const uint8_t* data, size_t size);

// `text` as UTF-8 by the rule above, with control characters as spaces and blanks trimmed.
[[nodiscard]] std::string MidiTextAsUtf8(const uint8_t* text, size_t length);

// A track name as a part shows it, into `out`: UTF-8 kept when it is UTF-8 already, read as
// Latin-1 otherwise; control characters become spaces, blanks trimmed; cut at a character
// boundary to fit.
void CopyTrackName(const uint8_t* text, uint32_t length, char (&out)[kPartNameBytes]);
