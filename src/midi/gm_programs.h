// midi/: reading Standard MIDI Files into the song record, as two hands or by voices, timed
// as the synthesiser plays them, and the note timeline the view draws from.
//
// The names of the 128 General MIDI programs, which is what a program change selects on every
// channel but percussion.
#pragma once

// The name of program 0..127 ("Acoustic Grand Piano" for 0); "" for any other number.
[[nodiscard]] const char* GmProgramName(int program);
