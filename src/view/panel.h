// The base of the three screen panels (notes view, time bar, control panel): its rectangle, the
// mouse state the input handler leaves in it and one colour per palette entry; and the snapshot
// of the song that every panel draws from.
//
// A panel is a plain record. Its owner creates it, points it at the palette, sets its background
// index, calls Init and CreateBrushes once, and from then on sets its rectangle every frame before
// DrawBackground and the panel's own drawing. What a panel shows comes in as a SongView made by its
// owner for that frame; a panel never reaches for the song itself.
#pragma once

#include <cstdint>

#include "core/audio_overview.h"
#include "core/palette.h"
#include "core/song_data.h"
#include "platform/geometry.h"
#include "synth/practice_choice.h"
#include "view/graphics_device.h"

class NoteDensity;

inline constexpr int kPaletteSize = 24;

// The palette entry every panel writes its texts in: bar numbers, times, labels, the play position.
inline constexpr int PalText = 8;

// Where playback stands, as far as drawing is concerned.
enum class PlayView : uint8_t { Idle, Playing, Paused, Stopped };

// What a press on a panel asks its owner to do. The owner decides whether and when it happens.
enum class PanelIntent : uint8_t {
    None,
    ChooseSoundFont,    // open the file dialog for a SoundFont and load the one chosen
    ChooseMidi,         // open the file dialog for a MIDI file and load the one chosen
    ExportAudio,        // the save dialog, then the audio export
    ExportVideo,        // the save dialog, then the video export
    CancelVideoExport,  // stop the running video export
    Play,
    Pause,
    Stop,
    Rewind,
    SeekTo,            // to the intent's `seconds`
    OpenGuide,         // the user guide link
    OpenExportFolder,  // the folder the last export went to
    SetVolume,         // play at the request's `volume` from now on: the slider is being dragged
    KeepVolume,        // the slider was let go at the request's `volume`: play at it and keep it
    SetSpeed,          // play at the request's `speed` from now on
    CyclePart,         // the legend's row `part` was clicked: heard, muted, soloed, heard
    ChooseInput,       // play along on the keyboard listed as row `input`
    SetKeysVolume,     // the player's own keys at the request's `volume`, the slider being dragged
    KeepKeysVolume,    // the same, let go: and kept
    ChooseOutput,      // the song sounds on row `output` of the outputs listed (0: the SoundFont)
    SetOutputDelay,    // the instrument's own delay at the request's `delayMs`, the slider being dragged
    KeepOutputDelay,   // the same, let go: and kept
};

// What a press on a part's row of the legend does to the part (CyclePart's `partAction`).
enum class PartAction : uint8_t {
    Cycle,  // heard, muted, soloed, heard again: the row itself
    Mute,   // muted, or heard again
    Solo,   // alone, or back with the others
    Play,   // the player plays this part, the song the others
};

// CyclePart's `part` for the drums, which belong to no part.
inline constexpr int kDrumsPart = -2;

struct PanelRequest {
    PanelIntent intent = PanelIntent::None;
    double seconds = 0;  // for SeekTo
    float volume = 0;    // percent, 0..100, for SetVolume and KeepVolume
    float speed = 100;   // percent of the song's tempo, for SetSpeed
    int part = -1;       // for CyclePart: the part, counted as the song stores them, or kDrumsPart
    PartAction partAction = PartAction::Cycle;  // for CyclePart: what the press does to the part
    int input = -1;                             // for ChooseInput: the row of the keyboards listed
    int output = -1;                            // for ChooseOutput: the row of the outputs listed
    float delayMs = 0;                          // for SetOutputDelay and KeepOutputDelay
};

// What the panels show of the song in one frame, made by their owner and read only.
struct SongView {
    const SongData* song = nullptr;           // the parsed song; null before the first load
    const AudioOverview* overview = nullptr;  // of the rendered sound; null until it has been read
    // The song's notes counted along it, shown where the sound is not rendered yet; null: none.
    const NoteDensity* noteDensity = nullptr;
    bool songLoaded = false;        // a MIDI file has been parsed into `song`
    bool songReady = false;         // it plays: its render has started (and may still run)
    bool songReading = false;       // a large file is being read to replace it (or to be the first)
    float renderedShare = 1.0f;     // the share of the song's length rendered so far; 1 once complete
    bool waitingForRender = false;  // playback waits for the render to reach the place it was sent to
    // The loop that plays over and over, in seconds (negative: none), and a loop's first mark
    // while its end is still to be marked.
    double loopStart = -1.0, loopEnd = -1.0;
    double loopMark = -1.0;
    PlayView play = PlayView::Idle;
    float songTime = -1.0f;   // seconds; negative before the start (stopped, or counting in)
    bool busy = false;        // the owner is still carrying out an earlier request: presses are ignored
    bool countingIn = false;  // the second before the sound starts
    // The speed and the parts heard; null: the song as written.
    const PracticeChoice* practice = nullptr;
};

struct Panel {
    const Palette* palette = nullptr;                // set by the owner before Init
    float left = 0, right = 0, top = 0, bottom = 0;  // design units, set every frame
    float width = 0, height = 0;                     // right - left and bottom - top
    bool hover = false;                              // the mouse is over this panel
    const PointI* mousePoint = nullptr;              // the owner's mouse position; null: no mouse
    bool mouseDown = false;                          // the left button is down (any panel)
    bool pressed =
        false;  // the left button went down since the last frame (a click shorter than a frame too)
    uint16_t background = 0;             // palette index of the background
    ColourF brushes[kPaletteSize] = {};  // brush i has the colour of palette entry i
    GraphicsDevice* device = nullptr;    // drawing target and text formats

    void Init(GraphicsDevice* drawingDevice, const PointI* mouse);
    void CreateBrushes();
    void DrawBackground() const;

    // Places the panel: the rectangle and the width and height that go with it.
    void SetRect(float l, float t, float r, float b);

    [[nodiscard]] platform::RenderTarget* Target() const {
        return device != nullptr ? device->target : nullptr;
    }
    [[nodiscard]] ColourF Brush(int index) const { return brushes[index]; }
};
