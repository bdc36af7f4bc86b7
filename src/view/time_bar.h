// The time bar: the strip under the notes view showing the whole rendered song at once. A
// two-channel waveform overview (first channel in the upper half, second in the lower), a line at
// the play position, ticks with minute:second labels at a round step that keeps them apart, and the
// song's total length at the right. Where the song is not rendered yet, the count of its notes
// along it stands in for the waveform. It keeps no state of its own: everything is drawn from the
// frame's SongView.
#pragma once

#include "view/panel.h"

// The seconds between two time marks for a song of `duration` seconds on a bar `width` wide: the
// shortest of 5, 10, 15 or 30 seconds or 1, 2, 5, 10, 15, 30 or 60 minutes that keeps the marks
// 100 units apart.
[[nodiscard]] double TimeMarkStep(double duration, float width);

// Declared as a class only because the controller's header names it so; it is a plain record.
class TimeBar : public Panel {
  public:
    // Once per frame in normal view, after the background.
    void Draw(const SongView& view) const;
};
