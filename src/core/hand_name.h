// What the two hands of a piano song are called wherever the program names them: the window's
// legend, the save dialogs' titles and the command line's summary. The first hand is the one that
// plays the upper notes.
#pragma once

[[nodiscard]] constexpr const char* HandName(int hand) {
    return hand == 0 ? "Hand 1 (right)" : "Hand 2 (left)";
}
