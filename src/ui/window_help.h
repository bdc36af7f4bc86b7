// What the window shows over its panels to explain itself, kept together so that the controller
// only hands it keys and a place to draw: the key overlay (F1 or ?), the brief note a toggle leaves,
// and the song's words above the keyboard. It draws from plain data and acts on nothing else.
#pragma once

#include <string>

#include "midi/lyrics.h"
#include "platform/geometry.h"
#include "view/help_overlay.h"

namespace platform {
class RenderTarget;
struct InputMessage;
}  // namespace platform

// The part a part key names, counted from 0: 1 to 9 for the first nine, Alt with 1 to 9 and 0 for
// the tenth to the nineteenth; -1 for any other key.
[[nodiscard]] int PartForKey(const platform::InputMessage& key);

// The note a toggle leaves on the screen, in a few words ("Note names on", "Drums muted").
[[nodiscard]] std::string ToggleNote(const std::string& what, bool on);

struct WindowHelp {
    bool keysShown = false;  // the key overlay is up
    ScreenNote note;
    SongLyrics lyrics;        // the words of the song shown; empty: none
    bool lyricsShown = true;  // the words are drawn when the song has them

    // A key down: F1 or ? shows or hides the overlay, and Escape hides it. True when the key was
    // taken; any other key, or a key taken, also ends the note on the screen.
    bool OnKeyDown(const platform::InputMessage& key);

    // Over everything else: the words in a band above the keyboard (`keyboardTop` in the notes
    // view `notes`), the note at the top of the notes view, and the overlay over `scene`.
    void Draw(platform::RenderTarget& target, const RectF& scene, const RectF& notes, float keyboardTop,
              double songTime, double now) const;
};
