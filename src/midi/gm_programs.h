// The names of the 128 General MIDI programs, which is what a program change selects on every
// channel but percussion.
#pragma once

// The name of program 0..127 ("Acoustic Grand Piano" for 0); "" for any other number.
[[nodiscard]] const char* GmProgramName(int program);
