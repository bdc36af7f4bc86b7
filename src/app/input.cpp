// Keyboard and mouse: the mouse position in design units, the hovered panel and its cursor, the two
// splitter drags, the seek by a click in the time bar, Space and Escape, and the full view's
// overlay. Panel buttons are not handled here; they read the mouse state left in their panel.
#include <algorithm>

#include "app/player_controller.h"
#include "core/frame_timer.h"
#include "platform/window.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"
#include "view/time_bar.h"

namespace {

constexpr float kMinSplit = 0.05f;
constexpr float kMaxSplit = 0.95f;

// Rectangle tests of the hover check include all four edges.
bool Inside(float x, float y, float left, float top, float right, float bottom) {
    return left <= x && x <= right && top <= y && y <= bottom;
}

}  // namespace

void PlayerController::OnInput(const platform::InputMessage& message) {
    using platform::InputKind;

    // 1. The cursor in design units, whatever size the window has now.
    PointI client{static_cast<int32_t>(designWidth), static_cast<int32_t>(designHeight)};
    if (surface != nullptr) client = surface->ClientSize();
    if (client.x > 0 && client.y > 0) {
        const float x = static_cast<float>(message.point.x) * designWidth / static_cast<float>(client.x);
        const float y = static_cast<float>(message.point.y) * designHeight / static_cast<float>(client.y);
        mousePoint = {static_cast<int32_t>(x), static_cast<int32_t>(y)};
        mouseX = static_cast<float>(mousePoint.x);
        mouseY = static_cast<float>(mousePoint.y);
    }

    // 2. Any message in the full view shows the overlay for a while.
    if (fullView) {
        overlayActive = true;
        if (clock != nullptr) clock->activityStamp = clock->Now();
    }

    // 3. Splitter drags, or the hover test.
    if (draggingHorizontalSplitter) {
        splitY = std::clamp(mouseY / designHeight, kMinSplit, kMaxSplit);
    } else if (draggingVerticalSplitter) {
        splitX = std::clamp(mouseX / designWidth, kMinSplit, kMaxSplit);
    } else {
        wantedCursor = CursorArrow;
        UpdateHover();
    }

    Panel* const panels[3] = {notesView, timeBar, controlPanel};
    switch (message.kind) {
        case InputKind::LeftButtonDown:
            for (Panel* p : panels) {
                if (p != nullptr) p->mouseDown = true;
            }
            if (fullView) break;
            if (!draggingHorizontalSplitter && wantedCursor == CursorResizeNS)
                draggingHorizontalSplitter = true;
            if (!draggingVerticalSplitter && wantedCursor == CursorResizeWE) draggingVerticalSplitter = true;
            if (hoverPanel == HoverTimeBar && timeBar != nullptr &&
                mouseY > timeBar->top + timeBar->topInset && shared.midiParsed) {
                shared.command = CmdSeek;
                if ((shared.playState == Playing || shared.playState == Paused) && timeBar->width > 0) {
                    const double frame =
                        static_cast<double>(totalFrames) * mouseX / static_cast<double>(timeBar->width);
                    // A click at the very right edge, or past the song, lands on its last frame.
                    const double last = totalFrames > 0 ? totalFrames - 1 : 0;
                    if (notesView != nullptr) notesView->ClearLitKeys();
                    SeekPlayback(static_cast<uint32_t>(std::clamp(frame, 0.0, last)));
                }
            }
            break;
        case InputKind::LeftButtonUp:
            for (Panel* p : panels) {
                if (p != nullptr) p->mouseDown = false;
            }
            if (draggingHorizontalSplitter && wantedCursor == CursorResizeNS) {
                draggingHorizontalSplitter = false;
                hoverPanel = HoverNone;
                wantedCursor = CursorArrow;
                shownCursor = CursorArrow;
                if (surface != nullptr) surface->SetCursor(CursorArrow);
            }
            if (draggingVerticalSplitter && wantedCursor == CursorResizeWE) {
                draggingVerticalSplitter = false;
                hoverPanel = HoverNone;
                wantedCursor = CursorArrow;
                shownCursor = CursorArrow;
                if (surface != nullptr) surface->SetCursor(CursorArrow);
            }
            if (fullViewToggleRequested) {
                fullViewToggleRequested = false;
                fullView = !fullView;
            }
            if (overlayActive && pendingOverlayCommand != 0) {
                shared.command = pendingOverlayCommand;
                pendingOverlayCommand = 0;
            }
            break;
        case InputKind::KeyDown:
            if (message.keyCode == platform::kKeyEscape) escapeDown = true;
            if (message.keyCode == platform::kKeySpace) spaceDown = true;
            break;
        case InputKind::KeyUp:
            // Whichever key is released completes a pending Escape, or else a pending Space.
            if (escapeDown) {
                escapeDown = false;
                fullView = !fullView;
            } else if (spaceDown) {
                spaceDown = false;
                if (shared.midiParsed && shared.songReady) {
                    shared.Post(shared.playState == Playing ? CmdPause : CmdPlay);
                }
            }
            break;
        default:
            break;
    }
}

void PlayerController::UpdateHover() {
    const float x = mouseX;
    const float y = mouseY;
    const RectF& hs = horizontalSplitterRect;
    const RectF& vs = verticalSplitterRect;
    if (Inside(x, y, hs.left, hs.top, hs.right, hs.bottom)) wantedCursor = CursorResizeNS;
    if (Inside(x, y, vs.left, vs.top, vs.right, vs.bottom)) wantedCursor = CursorResizeWE;

    Panel* const panels[3] = {notesView, timeBar, controlPanel};
    for (int i = 0; i < 3; ++i) {
        const uint16_t number = static_cast<uint16_t>(i + 1);
        Panel* p = panels[i];
        if (p == nullptr || hoverPanel == number) continue;
        if (Inside(x, y, p->left, p->top, p->right, p->bottom)) {
            hoverPanel = number;
            wantedCursor = CursorArrow;
            for (int k = 0; k < 3; ++k) {
                if (panels[k] != nullptr) panels[k]->hover = k == i;
            }
        }
    }

    if (wantedCursor != shownCursor) {
        shownCursor = wantedCursor;
        if (surface != nullptr && wantedCursor >= CursorArrow && wantedCursor <= CursorResizeWE) {
            surface->SetCursor(wantedCursor);
        }
    }
}
