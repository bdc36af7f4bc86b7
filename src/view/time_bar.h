// The time bar: the strip under the notes view showing the whole rendered song at once. A
// two-channel waveform overview (first channel in the upper half, second in the lower), a line at
// the play position, a tick and a minute:second label every 30 seconds and the song's total length
// at the right. It keeps no state of its own: everything is drawn from the frame's SongView.
#pragma once

#include "view/panel.h"

// Declared as a class only because the controller's header names it so; it is a plain record.
class TimeBar : public Panel {
  public:
    // Once per frame in normal view, after the background.
    void Draw(const SongView& view) const;
};
