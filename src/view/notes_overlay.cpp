// The full view's own controls, drawn by the notes view over everything else: the view toggle in
// its top right corner and the overlay with the transport buttons and the song's progress.
#include <algorithm>

#include "core/time_format.h"
#include "view/notes_view.h"

namespace {

// Palette entries the controls draw with, the notes view's own.
enum : int {
    PalIconNormal = 4,
    PalIconHover = 6,
    PalBarLine = 19,
};

bool Inside(const PointI* p, const RectF& r) {
    return p != nullptr && r.ContainsClosed(static_cast<float>(p->x), static_cast<float>(p->y));
}

}  // namespace

void NotesView::DrawViewToggle(ViewControls& controls) const {
    platform::RenderTarget* target = Target();
    const float rightEdge = right;
    const RectF box{rightEdge - 30.0f, 10.0f, rightEdge - 10.0f, 30.0f};
    ColourF colour = Brush(PalIconNormal);
    if (Inside(mousePoint, box)) {
        colour = Brush(PalIconHover);
        // The toggle itself happens when the button is released.
        if (mouseDown) controls.toggleRequested = true;
    }
    if (target == nullptr) return;
    const float l = box.left, r = box.right;
    if (!controls.fullView) {
        target->DrawRect(box, colour, 2.0f);  // maximise
        return;
    }
    // Restore: a window behind a window.
    target->FillRect({l + 5.0f, 10.0f, r, 12.0f}, colour);
    target->FillRect({r - 2.0f, 10.0f, r, 25.0f}, colour);
    target->FillRect({l + 5.0f, 10.0f, l + 7.0f, 15.0f}, colour);
    target->FillRect({r - 5.0f, 23.0f, r, 25.0f}, colour);
    target->DrawRect({l, 15.0f, r - 5.0f, 30.0f}, colour, 2.0f);
}

PanelRequest NotesView::DrawOverlay(ViewControls& controls, const SongView& view) const {
    if (!controls.fullView || !(controls.idleSeconds <= 1.0f)) {
        controls.overlayActive = false;
        return {};
    }
    const float W = controls.sceneWidth;
    const float H = controls.sceneHeight;
    const float x0 = std::max(40.0f, (W - 260.0f) * 0.5f + 40.0f);
    const float top = (H + 40.0f) * 0.5f;
    const float bottomEdge = top + 40.0f;
    controls.overlayButtons[0] = {x0, top, x0 + 50.0f, bottomEdge};
    controls.overlayButtons[1] = {x0 + 70.0f, top, x0 + 120.0f, bottomEdge};
    controls.overlayButtons[2] = {x0 + 140.0f, top, x0 + 190.0f, bottomEdge};
    // The progress bar is thin; the place that takes a press around it is easier to hit.
    const float barY = bottomEdge + 50.0f;
    controls.overlayProgress = {x0 - 15.0f, barY - 6.0f, x0 + 205.0f, barY + 9.0f};

    const bool usable = view.songLoaded && view.songReady && !view.busy;
    const bool armed = mouseDown && usable && controls.pendingIntent == PanelIntent::None;
    const bool playing = view.play == PlayView::Playing;
    const PanelIntent intents[3] = {PanelIntent::Rewind, playing ? PanelIntent::Pause : PanelIntent::Play,
                                    PanelIntent::Stop};

    platform::RenderTarget* target = Target();
    DrawOverlayBackdrop(view, x0, top, bottomEdge);
    for (int b = 0; b < 3; ++b) {
        ColourF colour = Brush(PalIconNormal);
        float d = 0;
        if (Inside(mousePoint, controls.overlayButtons[b])) {
            colour = Brush(PalIconHover);
            if (armed) {
                controls.pendingIntent = intents[b];  // asked for on release
                d = 2.0f;
            }
        }
        if (target == nullptr) continue;
        const float t = top + d, bt = bottomEdge + d, x = x0 + d;
        if (b == 0) {
            target->FillRect({x, t, x + 10.0f, bt}, colour);
            for (int i = 0; i < 30; ++i) {
                const float fi = static_cast<float>(i);
                target->DrawLine(x + 10.0f + fi, t + 20.0f + 0.625f * fi, x + 10.0f + fi,
                                 bt - 20.0f - 0.625f * fi, colour, 1.0f);
            }
        } else if (b == 1) {
            if (playing) {
                target->FillRect({x + 80.0f, t, x + 90.0f, bt}, colour);
                target->FillRect({x + 100.0f, t, x + 110.0f, bt}, colour);
            } else {
                for (int i = 0; i < 40; ++i) {
                    const float fi = static_cast<float>(i);
                    target->DrawLine(x + 80.0f + fi, t + 0.5f * fi, x + 80.0f + fi, bt - 0.5f * fi, colour,
                                     1.0f);
                }
            }
        } else {
            target->FillRect({x + 150.0f, t, x + 190.0f, bt}, colour);
        }
    }

    // A press on the progress bar, or a drag along it, seeks to that place, as the time bar does.
    const RectF& bar = controls.overlayProgress;
    if (mouseDown && usable && view.song != nullptr && view.song->duration > 0 && bar.Width() > 0 &&
        Inside(mousePoint, bar)) {
        const double fraction = std::clamp(
            (static_cast<double>(mousePoint->x) - bar.left) / static_cast<double>(bar.Width()), 0.0, 1.0);
        return {PanelIntent::SeekTo, fraction * view.song->duration};
    }
    return {};
}

void NotesView::DrawOverlayBackdrop(const SongView& view, float x0, float top, float bottomEdge) const {
    // A dark plate under the buttons, so that the falling notes never run through them, with the
    // song's clock and a thin bar of how far it has played.
    const RectF plate{x0 - 30.0f, top - 20.0f, x0 + 220.0f, bottomEdge + 70.0f};
    const float barLeft = plate.left + 15.0f, barRight = plate.right - 15.0f, barY = bottomEdge + 50.0f;
    platform::RenderTarget* target = Target();
    if (target == nullptr) return;
    target->FillRect(plate, {0.0f, 0.0f, 0.0f, 0.65f});
    if (view.song == nullptr || !view.songReady) return;
    const double length = view.song->duration;
    if (device != nullptr) {
        device->DrawTextSmall(ClockText(view.songTime, length), plate.left, bottomEdge + 15.0f,
                              static_cast<int>(plate.Width()), 20, Brush(PalText));
    }
    float played = length > 0 ? static_cast<float>(view.songTime / length) : 0.0f;
    played = std::clamp(played, 0.0f, 1.0f);
    target->FillRect({barLeft, barY, barRight, barY + 3.0f}, Brush(PalBarLine));
    target->FillRect({barLeft, barY, barLeft + (barRight - barLeft) * played, barY + 3.0f}, Brush(PalText));
    // The loop, as the time bar shows it: a band over the stretch that plays over and over.
    if (length > 0 && view.loopStart >= 0 && view.loopEnd > view.loopStart) {
        const auto at = [&](double seconds) {
            return barLeft +
                   (barRight - barLeft) * static_cast<float>(std::clamp(seconds / length, 0.0, 1.0));
        };
        target->FillRect({at(view.loopStart), barY - 4.0f, at(view.loopEnd), barY + 7.0f},
                         {0.2f, 0.6f, 1.0f, 0.45f});
    }
}
