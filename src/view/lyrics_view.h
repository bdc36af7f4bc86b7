// The song's words above the keyboard: the line being sung, centred in a band, its syllables sung
// so far (the one being sung with them) lit, the rest still to come dim. Drawn from the words and the
// song time only, so the window and a video draw the same line at the same moment.
#pragma once

#include "midi/lyrics.h"
#include "platform/geometry.h"

namespace platform {
class RenderTarget;
}

struct LyricsColours {
    ColourF sung{1.0f, 0.84f, 0.3f, 1.0f};     // the syllable being sung and those before it
    ColourF coming{0.78f, 0.8f, 0.84f, 1.0f};  // what is still to come
    ColourF band{0.0f, 0.0f, 0.0f, 0.55f};     // behind the line, so that it reads over the notes
};

// The text size of the words in a band `height` high: as large as the band takes, within reason.
[[nodiscard]] float LyricsTextSize(float height);

// Draws the line sung at `seconds` into `band`; nothing when the song has no words. A line too
// long for the band is drawn smaller, down to a least size, and then cut with "…".
void DrawLyrics(platform::RenderTarget& target, const SongLyrics& lyrics, double seconds, const RectF& band,
                const LyricsColours& colours = {});
