// What the window keeps at hand beside its panels: the key overlay (F1 or ?), the brief notes a
// toggle leaves, the song's words above the keyboard, the songs beside the one playing (Page Up,
// Page Down and two small buttons at the ends of the song's name), Ctrl+O, the keys for parts 10 to
// 19, and the folders each kind of file dialog reopens in.
//
// The room keeps only what it shows; what it does goes through the controller's own paths (the
// panel's requests, the drop of a file, the practice choice), reached by the free functions below
// from the controller's input and drawing. A toggle's note is found by comparing what the toggles
// were at the last frame with what they are now, so that a key and a legend button are said the
// same way and nothing that changes a toggle has to remember to; the choice kept for a song that
// has just loaded is taken without a note.
#pragma once

#include <array>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "settings/settings.h"
#include "synth/practice_choice.h"
#include "ui/window_help.h"
#include "view/panel.h"

struct PlayerController;
namespace platform {
struct InputMessage;
}

// What the window's toggles stand at, as a note compares them from one frame to the next.
struct ToggleState {
    bool namesOnNotes = false;
    bool namesOnKeys = false;
    bool flats = false;
    bool fitSong = false;
    float fallSpeed = 1.0f;
    bool metronome = false;
    PracticeChoice choice;
    bool playingAlong = false;
};

enum SongStep : int { SongBefore = 0, SongAfter = 1 };

struct AtHand {
    WindowHelp help;
    ToggleState last;   // the toggles at the last frame drawn
    bool seen = false;  // `last` holds a frame's toggles
    // The bytes of the song whose words were read; kept so that another song cannot take its place
    // unnoticed at the same address.
    std::shared_ptr<const std::vector<uint8_t>> wordsOf;
    // The words of a large file, being read on a thread of their own: a walk of every event of
    // the file, which would hold up the song's first frames.
    std::future<SongLyrics> wordsAside;
    std::string recentAdded;  // the last song given to the desktop's recently used list

    // The two small buttons beside the song's name, as laid out in the last frame; empty in full view.
    std::array<RectF, 2> songButtons{};
    std::array<bool, 2> songButtonUsable{};
    int tipButton = -1;  // the song button under the mouse, and for how many frames it has been
    int tipFrames = 0;
    int playPart = -1;  // a legend's "play this part" waiting for the frame's update

    // Seconds on the controller's clock, for the notes' time.
    [[nodiscard]] static double Now(PlayerController& c);
};

// The key a message brings, when it is one of this room's: F1 and ? (the overlay), Escape while the
// overlay is up, Ctrl+O, Page Up and Page Down, Alt with a digit. True when it was taken; any key
// also ends the note on the screen.
bool TakeHandyKey(PlayerController& c, const platform::InputMessage& message);
// The left button went down: a press anywhere closes the overlay (and does nothing else), and one
// on a song button steps to that song. True when the press was taken.
bool TakeHandyPress(PlayerController& c);
// The wheel over the legend scrolls it.
void TakeWheel(PlayerController& c, const platform::InputMessage& message);
// The legend's and a key's request for part `part` (or kDrumsPart): muted, soloed, cycled, or left
// to the player, who starts playing along with it. Returns whether anything changed.
bool ActOnPart(PlayerController& c, int part, PartAction action);
// Every frame's update: once the mouse button is up, the part a legend row asked to be played plays.
void RunHandyAction(PlayerController& c);
// After every frame: a song loaded and shown goes into the desktop's recent files, which are
// written out over the frames that follow.
void KeepSongAmongRecent(PlayerController& c);
// The song `step` places from the one loaded, in its folder, loaded as a dropped file would be; a
// note says so when there is none that way.
void StepSong(PlayerController& c, int step);
// Over the drawn panels, last in the frame: the song buttons, the words, the note, the overlay.
void DrawAtHand(PlayerController& c);

// The folder the file dialog of `kind` was last left in (from the settings), when it still is a
// folder; "" otherwise. KeepDialogFolder keeps the folder of `chosen` for it.
[[nodiscard]] std::string DialogFolder(FolderKind kind);
void KeepDialogFolder(FolderKind kind, const std::string& chosen);
