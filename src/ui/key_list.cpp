#include "ui/key_list.h"

#include <iterator>

namespace {

constexpr KeyHelp kKeys[] = {
    {"Space", "play or pause"},
    {"Left / Right", "back or on 5 s (Shift: 30 s)"},
    {"Home", "back to the start, or the loop's"},
    {"+ / -", "volume up or down"},
    {"[ / ]", "slower or faster, the pitch kept"},
    {"L or \\", "loop: its start, then its end, on bars"},
    {"Shift+L", "the same, at the exact time"},
    {"Shift+drag", "loop what is dragged over"},
    {"1 - 9", "mute or hear parts 1 to 9"},
    {"Alt+1 - Alt+0", "mute or hear parts 10 to 19"},
    {"D", "mute or hear the drums"},
    {"M", "metronome on or off"},
    {", / .", "a semitone down or up"},
    {"Tab", "play along, the song waiting"},
    {"Shift+Tab", "play along, each key judged"},
    {"N", "note names on the notes"},
    {"Shift+N", "note names on the keys"},
    {"B", "sharps or flats in the names"},
    {"F", "fit the keyboard to the song"},
    {"Z / Shift+Z", "notes fall faster or slower"},
    {"Ctrl+O", "open a MIDI file"},
    {"Page Up / Down", "previous or next song"},
    {"Esc", "full view: the notes alone"},
    {"F11", "full screen"},
    {"F1 or ?", "this list"},
};

}  // namespace

const KeyHelp* WindowKeys(size_t& count) {
    count = std::size(kKeys);
    return kKeys;
}
