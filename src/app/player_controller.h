// The central object of the program: it owns the panels, the synth and the players, executes the
// pending command once per frame, derives the song time from the player's position and lays out
// the three panels. This header holds its fields; its behaviour is built on top of them.
#pragma once

#include <cstdint>
#include <string>

#include "app/palette.h"
#include "app/rect.h"
#include "app/session_state.h"

struct GraphicsDevice;
class NotesView;
class ControlPanel;
class TimeBar;
class SynthRenderer;
class WavReader;
class FrameTimer;
struct EncoderJob;
class Transcoder;
namespace platform {
class Window;
}

enum HoverPanel : uint16_t { HoverNone = 0, HoverNotesView = 1, HoverTimeBar = 2, HoverControlPanel = 3 };
enum CursorKind : uint16_t { CursorUnset = 0, CursorArrow = 1, CursorResizeNS = 2, CursorResizeWE = 3 };

struct PlayerController {
    GraphicsDevice* device = nullptr;  // drawing device and client size; not owned
    float designWidth = 0;             // client size at start-up: every layout and mouse coordinate
    float designHeight = 0;            // is in these units for the life of the program
    float splitX = 0.87f;              // share of designWidth for the notes view and time bar
    float splitY = 0.8f;               // share of designHeight for the notes view
    float splitterHalfWidth = 2.0f;    // half the width of each splitter gap

    // Owned by the controller; created by its initialisation and kept for the whole process.
    NotesView* notesView = nullptr;
    ControlPanel* controlPanel = nullptr;
    TimeBar* timeBar = nullptr;

    bool fullView = false;                 // only the notes view is shown, over the whole window
    bool fullViewToggleRequested = false;  // the view toggle was pressed; performed on release
    bool overlayActive = false;            // the mouse moved in full view: draw the overlay
    bool escapeDown = false;               // pressed and not yet released
    bool spaceDown = false;
    uint16_t hoverPanel = HoverNone;
    uint16_t wantedCursor = CursorUnset;
    uint16_t shownCursor = CursorUnset;
    bool draggingHorizontalSplitter = false;
    bool draggingVerticalSplitter = false;
    RectF horizontalSplitterRect;  // between notes view and time bar; written each frame in normal view
    RectF verticalSplitterRect;    // between the left column and the control panel

    Palette palette = kDefaultPalette;

    float mouseX = 0, mouseY = 0;  // mouse position in design units
    PointI mousePoint;             // the same as integers; the panels keep a pointer to it

    SessionState shared;

    SynthRenderer* synth = nullptr;  // owned
    WavReader* wavReader = nullptr;  // owned; created when playback is prepared
    FrameTimer* clock = nullptr;     // owned; the playback clock of the count-in

    RectF overlayButtons[3];             // full-view overlay: back to start, play/pause, stop
    uint16_t pendingOverlayCommand = 0;  // chosen by a press on the overlay, posted on release

    int32_t totalFrames = 0;  // sample frames in the rendered WAV
    uint32_t seekOffset = 0;  // frame at which the player last started from silence
    double songTime = -1.0;   // seconds; -1 when stopped or before the first play

    // Export bookkeeping.
    std::string encoderError;          // failure text of the Ogg Vorbis encoder
    EncoderJob* encoderJob = nullptr;  // the running Ogg Vorbis export, if any
    Transcoder* transcoder = nullptr;  // the running transcoding export, if any

    platform::Window* window = nullptr;  // the main window; not owned
};
