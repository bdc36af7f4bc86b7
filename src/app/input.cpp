// Keyboard and mouse: the mouse position in design units, the hovered panel and its cursor, the two
// splitter drags, the seek by a click in the time bar or the score strip, Space and Escape, the volume keys,
// the note-name and falling-speed keys, and the full view's overlay. Panel buttons are not handled here; they
// read the mouse state left in their panel.
#include <algorithm>

#include "app/hand_editing.h"
#include "app/player_controller.h"
#include "core/frame_timer.h"
#include "core/panel_layout.h"
#include "platform/window.h"
#include "settings/settings.h"
#include "synth/stream_playback.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"
#include "view/score_strip.h"
#include "view/time_bar.h"

void PlayerController::OnInput(const platform::InputMessage& message) {
    using platform::InputKind;
    TrackMouse(message.point);

    // Any message in the full view shows the overlay for a while.
    if (controls.fullView) {
        controls.overlayActive = true;
        FrameTimer& clock = transport.Clock();
        clock.activityStamp = clock.Now();
    }

    if (message.kind == InputKind::LeftButtonDown) input.mouseShift = message.shift;
    if (input.scrubbing && message.kind == InputKind::MouseMove) {
        SeekToTimeBarX(input.mouseX);
    } else if (input.draggingHorizontalSplitter) {
        timeBarHeight = ClampPanelSize(designHeight - input.mouseY, designHeight, kReferenceHeight);
    } else if (input.draggingVerticalSplitter) {
        controlPanelWidth = ClampPanelSize(designWidth - input.mouseX, designWidth, kReferenceWidth);
    } else {
        input.wantedCursor = CursorArrow;
        UpdateHover();
    }

    switch (message.kind) {
        case InputKind::LeftButtonDown:
            // Ctrl in the notes view: the note clicked, or those a box is dragged over, change hands.
            if (message.ctrl && !controls.fullView &&
                BeginHandBox(shared, notesView.get(), input.mouseX, input.mouseY))
                break;
            if (!TakeHandyPress(*this)) OnLeftButtonDown();
            break;
        case InputKind::LeftButtonUp:
            if (shared.practice.handBoxActive) {
                if (EndHandBox(shared, notesView.get(), input.mouseX, input.mouseY) > 0) {
                    // The view's index is of the notes as they were; a muted hand is rendered again.
                    notesView->SetSong(shared.song.get());
                    if (!shared.practice.PlainSound()) transport.ApplyPractice();
                }
                break;
            }
            OnLeftButtonUp();
            break;
        case InputKind::KeyDown:
            // While the computer keyboard plays, its letters are notes.
            if (!TakeHandyKey(*this, message) && !playAlong.OnKey(message, true)) OnKeyDown(message);
            break;
        case InputKind::Wheel:
            TakeWheel(*this, message);
            break;
        case InputKind::FileDropped:
            (void)DropFile(message.path);
            break;
        case InputKind::KeyUp:
            (void)playAlong.OnKey(message, false);
            // A volume changed by a key, held or not, is kept once the key is let go.
            if (input.volumeUnsaved) {
                input.volumeUnsaved = false;
                transport.SaveVolume();
            }
            // Whichever key is released completes a pending Escape, or else a pending Space.
            if (input.escapeDown) {
                input.escapeDown = false;
                controls.fullView = !controls.fullView;
            } else if (input.spaceDown) {
                input.spaceDown = false;
                // A song plays while it renders; a large one being read plays once it has been.
                if (loading.reading.valid()) {
                    loading.playWhenRead = !loading.playWhenRead;
                } else if (shared.session.HasSong()) {
                    Post(transport.Coarse() == PlayState::Playing ? Command::Pause : Command::Play);
                }
            }
            break;
        default:
            break;
    }
}

void PlayerController::TrackMouse(PointI point) {
    // The cursor in design units, whatever size the window has now.
    PointI client{static_cast<int32_t>(designWidth), static_cast<int32_t>(designHeight)};
    if (surface != nullptr) client = surface->ClientSize();
    if (client.x <= 0 || client.y <= 0) return;
    const float x = static_cast<float>(point.x) * designWidth / static_cast<float>(client.x);
    const float y = static_cast<float>(point.y) * designHeight / static_cast<float>(client.y);
    mousePoint = {static_cast<int32_t>(x), static_cast<int32_t>(y)};
    input.mouseX = static_cast<float>(mousePoint.x);
    input.mouseY = static_cast<float>(mousePoint.y);
}

void PlayerController::SetPanelsMouseDown(bool down) {
    input.mouseDownNow = down;
    Panel* const panels[3] = {notesView.get(), timeBar.get(), controlPanel.get()};
    for (Panel* p : panels) {
        if (p != nullptr) p->mouseDown = down;
    }
}

void PlayerController::OnLeftButtonDown() {
    SetPanelsMouseDown(true);
    // Kept until the control panel's next frame: a click may come and go between two frames.
    if (controlPanel != nullptr) controlPanel->pressed = true;
    // A click on the score strip's music goes to the moment it stands for.
    if (scoreStrip != nullptr && input.hoverPanel == HoverNotesView && !controls.overlayActive &&
        shared.session.HasSong()) {
        if (const double at = scoreStrip->SecondsAt(input.mouseX, input.mouseY); at >= 0) {
            SeekToSeconds(at);
            return;
        }
    }
    if (controls.fullView) return;
    if (!input.draggingHorizontalSplitter && input.wantedCursor == CursorResizeNS)
        input.draggingHorizontalSplitter = true;
    if (!input.draggingVerticalSplitter && input.wantedCursor == CursorResizeWE)
        input.draggingVerticalSplitter = true;
    if (input.hoverPanel != HoverTimeBar || timeBar == nullptr || !shared.session.HasSong()) return;
    if (input.mouseY <= timeBar->top) return;
    // With Shift, a drag marks a loop instead of moving the song.
    if (input.mouseShift && transport.Playback() != nullptr) {
        shared.practice.loopDragFrom = FrameAtTimeBarX(input.mouseX);
        return;
    }
    // PlayState::Playing, paused or stopped alike: the click is the new place, and a drag scrubs from it.
    SeekToTimeBarX(input.mouseX);
    input.scrubbing = transport.TotalFrames() > 0;
    if (shared.command == Command::None) shared.command = Command::Seek;
}

int64_t PlayerController::FrameAtTimeBarX(float x) const {
    const int32_t totalFrames = transport.TotalFrames();
    if (timeBar == nullptr || !(timeBar->width > 0) || totalFrames <= 0) return -1;
    const double frame =
        static_cast<double>(totalFrames) * (x - timeBar->left) / static_cast<double>(timeBar->width);
    // A click at the very right edge, or past the song, lands on its last frame.
    return static_cast<int64_t>(std::clamp(frame, 0.0, static_cast<double>(totalFrames - 1)));
}

void PlayerController::SeekToTimeBarX(float x) {
    const int64_t target = FrameAtTimeBarX(x);
    if (target < 0) return;
    if (notesView != nullptr) notesView->ClearLitKeys();
    transport.SeekTo(static_cast<uint32_t>(target));
}

void PlayerController::SeekToSeconds(double seconds) {
    const int32_t totalFrames = transport.TotalFrames();
    if (totalFrames <= 0 || !shared.song || !(shared.song->duration > 0)) return;
    const double frame = static_cast<double>(totalFrames) * seconds / shared.song->duration;
    const auto target = static_cast<uint32_t>(std::clamp(frame, 0.0, static_cast<double>(totalFrames - 1)));
    if (notesView != nullptr) notesView->ClearLitKeys();
    transport.SeekTo(target);
    if (shared.command == Command::None) shared.command = Command::Seek;
}

void PlayerController::OnKeyDown(const platform::InputMessage& message) {
    // Seeking and volume keys act at once, and again while held; Space and Escape act on release.
    constexpr double kSeekStep = 5.0;
    constexpr double kLongSeekStep = 30.0;
    const bool ready = shared.session.HasSong();
    switch (message.keyCode) {
        case platform::kKeyEscape:
            input.escapeDown = true;
            break;
        case platform::kKeySpace:
            input.spaceDown = true;
            break;
        case platform::kKeyF11:
            if (window != nullptr && !message.repeat) (void)window->ToggleFullScreen();
            break;
        case platform::kKeyLeft:
        case platform::kKeyRight:
            if (!ready) break;
            if (notesView != nullptr) notesView->ClearLitKeys();
            transport.SeekBy((message.keyCode == platform::kKeyLeft ? -1.0 : 1.0) *
                             (message.shift ? kLongSeekStep : kSeekStep));
            break;
        case platform::kKeyHome:
            if (!ready) break;
            if (notesView != nullptr) notesView->ClearLitKeys();
            transport.SeekTo(transport.StartFrame());
            break;
        case 'l':
        case 'L':
        case '\\':  // beside the computer keyboard's notes: sets the loop while playing along
            if (ready && !message.repeat) transport.MarkLoop(message.shift);
            break;
        case '\t':
            // Tab: the song waits for the player; Shift+Tab: it runs on and each key is judged.
            if (!message.repeat) playAlong.Toggle(message.shift);
            break;
        case '+':
        case '=':  // + without Shift on most keyboards
        case platform::kKeyKeypadPlus:
        case '-':
        case platform::kKeyKeypadMinus: {
            const bool up = message.keyCode != '-' && message.keyCode != platform::kKeyKeypadMinus;
            transport.StepVolume(up ? 1 : -1);
            input.volumeUnsaved = true;
            break;
        }
        default:
            if (!OnPracticeKey(message)) OnViewOptionKey(message);
            break;
    }
}

void PlayerController::OnViewOptionKey(const platform::InputMessage& message) {
    // Toggles act once per press, not again while the key is held; the falling speed steps on.
    NoteLabels& labels = viewOptions.labels;
    switch (message.keyCode) {
        case 'n':
        case 'N':
            if (message.repeat) break;
            if (message.shift) {
                labels.onKeys = !labels.onKeys;
            } else {
                labels.onNotes = !labels.onNotes;
            }
            break;
        case 'b':
        case 'B':
            if (!message.repeat) labels.flats = !labels.flats;
            break;
        case 'f':
        case 'F':
            if (!message.repeat) viewOptions.fitSong = !viewOptions.fitSong;
            break;
        case 's':
        case 'S':
            // The sheet music over the falling notes, shown or not, and so in the next run too.
            if (message.repeat || scoreStrip == nullptr) break;
            scoreStrip->shown = !scoreStrip->shown;
            (void)UpdateSettings(
                [shown = scoreStrip->shown](Settings& settings) { settings.scoreShown = shown; });
            break;
        case 'z':
        case 'Z':
            viewOptions.fallSpeed = StepFallSpeed(viewOptions.fallSpeed, message.shift ? -1 : 1);
            break;
        default:
            break;
    }
}

void PlayerController::OnLeftButtonUp() {
    SetPanelsMouseDown(false);
    input.scrubbing = false;
    if (shared.practice.loopDragFrom >= 0) {
        // A Shift-click that went nowhere is no loop: it ends the one there was.
        const int64_t to = FrameAtTimeBarX(input.mouseX);
        transport.SetLoop(
            {std::min(shared.practice.loopDragFrom, to), std::max(shared.practice.loopDragFrom, to)});
        shared.practice.loopDragFrom = -1;
    }
    if (input.draggingHorizontalSplitter && input.wantedCursor == CursorResizeNS)
        EndSplitterDrag(input.draggingHorizontalSplitter);
    if (input.draggingVerticalSplitter && input.wantedCursor == CursorResizeWE)
        EndSplitterDrag(input.draggingVerticalSplitter);
    if (controls.toggleRequested) {
        controls.toggleRequested = false;
        controls.fullView = !controls.fullView;
    }
    if (controls.overlayActive && controls.pendingIntent != PanelIntent::None) {
        shared.command = CommandForIntent(controls.pendingIntent);
        controls.pendingIntent = PanelIntent::None;
    }
}

void PlayerController::EndSplitterDrag(bool& dragging) {
    dragging = false;
    input.hoverPanel = HoverNone;
    input.wantedCursor = CursorArrow;
    input.shownCursor = CursorArrow;
    if (surface != nullptr) surface->SetCursor(CursorArrow);
}

void PlayerController::UpdateHover() {
    const float x = input.mouseX;
    const float y = input.mouseY;
    const RectF& hs = horizontalSplitterRect;
    const RectF& vs = verticalSplitterRect;
    // The hover tests include all four edges.
    if (hs.ContainsClosed(x, y)) input.wantedCursor = CursorResizeNS;
    if (vs.ContainsClosed(x, y)) input.wantedCursor = CursorResizeWE;

    Panel* const panels[3] = {notesView.get(), timeBar.get(), controlPanel.get()};
    for (int i = 0; i < 3; ++i) {
        const uint16_t number = static_cast<uint16_t>(i + 1);
        Panel* p = panels[i];
        if (p == nullptr || input.hoverPanel == number) continue;
        if (RectF{p->left, p->top, p->right, p->bottom}.ContainsClosed(x, y)) {
            input.hoverPanel = number;
            input.wantedCursor = CursorArrow;
            for (int k = 0; k < 3; ++k) {
                if (panels[k] != nullptr) panels[k]->hover = k == i;
            }
        }
    }

    if (input.wantedCursor != input.shownCursor) {
        input.shownCursor = input.wantedCursor;
        if (surface != nullptr && input.wantedCursor >= CursorArrow && input.wantedCursor <= CursorResizeWE) {
            surface->SetCursor(input.wantedCursor);
        }
    }
}

bool PlayerController::OnPracticeKey(const platform::InputMessage& message) {
    const uint32_t key = message.keyCode;
    const bool practiceKey = key == '[' || key == ']' || key == 'd' || key == 'D' ||
                             (key >= '1' && key <= '9') || key == ',' || key == '.' || key == 'm' ||
                             key == 'M';
    if (!practiceKey) return false;
    if (!shared.session.HasSong()) return true;
    bool changed = false;
    PracticeSession& practice = shared.practice;
    if (key == ']' && message.shift) {
        // Shift+]: the trainer raises the speed itself, a step after each clean pass.
        // Nothing is heard differently until a pass ends, so only the song's memory is written.
        if (!message.repeat) {
            practice.trainer = !practice.trainer;
            transport.RememberSong();
        }
    } else if (key == '[' || key == ']') {
        changed = practice.choice.StepSpeed(key == ']' ? 1 : -1);
    } else if (key == ',' || key == '.') {
        // A semitone down or up, within an octave either way: the song is heard moved at once.
        const int wanted = std::clamp(practice.transpose + (key == '.' ? 1 : -1),
                                      -PracticeSession::kMaxTranspose, PracticeSession::kMaxTranspose);
        changed = wanted != practice.transpose;
        practice.transpose = wanted;
    } else if (message.repeat) {
        return true;  // a toggle acts once per press
    } else if (key == 'd' || key == 'D') {
        if (!shared.song || shared.song->percussionNotes <= 0) return true;
        shared.practice.choice.drumsMuted = !shared.practice.choice.drumsMuted;
        changed = true;
    } else if (key >= '1' && key <= '9') {
        const int part = static_cast<int>(key - '1');
        if (!shared.song || part >= shared.song->PartsInUse()) return true;
        changed = shared.practice.choice.ToggleMute(part);
    } else if (key == 'm' || key == 'M') {
        practice.metronome = !practice.metronome;
        changed = true;
    }
    if (changed) transport.ApplyPractice();
    return true;
}
