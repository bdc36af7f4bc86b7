// The window's controller: it keeps the panels, the layout, input and loading, and beside them the
// rooms that do the rest: the transport (playback), play-along, the exports and the song on a
// MIDI instrument. Each frame it
// runs the pending command, advances the rooms, and lays out and draws the panels from a snapshot
// of the session, taking back what their presses ask for.
#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "app/at_hand.h"
#include "app/exports.h"
#include "app/midi_playback.h"
#include "app/play_along.h"
#include "app/session_state.h"
#include "app/transport.h"
#include "core/palette.h"
#include "core/panel_layout.h"
#include "export/export_format.h"
#include "platform/geometry.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"

// The session's availability words are the ones the exporters read.
static_assert(ExportFormatCount == kAudioFormatCount);

struct GraphicsDevice;
class TimeBar;
class ScoreStrip;
class SynthRenderer;
class BackgroundRender;
struct RenderStatus;
struct SongMemory;
namespace platform {
class Window;
class SoundOutput;
struct InputMessage;
}  // namespace platform

// What the input handler needs of the window: its client size now (mouse positions are mapped
// from it to design units) and the cursor shape. Tests stand in for the window with their own.
class InputSurface {
  public:
    virtual ~InputSurface() = default;
    [[nodiscard]] virtual PointI ClientSize() const = 0;
    virtual void SetCursor(int kind) = 0;  // 1 arrow, 2 up-down resize, 3 left-right resize
};

// Which kind of file a path names by its extension, in any case: Midi for .mid, .midi, .kar and
// .rmi, SoundFont for .sf2 and .sf3.
enum class FileKind : uint8_t { None, Midi, SoundFont };
[[nodiscard]] FileKind FileKindOfPath(const std::string& path);

// The command a panel's transport or export request is carried out by; Command::None for the others.
[[nodiscard]] Command CommandForIntent(PanelIntent intent);

// A MIDI file as it was read and parsed, before the song it holds replaces the one loaded.
struct SongRead {
    std::string path;
    std::unique_ptr<SongData> song;
    std::vector<uint8_t> bytes;  // the file as read: every render of the song plays these
    std::unique_ptr<TempoMap> tempo;
    bool usable = false;  // false: `song` says why it was refused
};

// The file-loading flow's state and what the control panel shows of it (app/song_loading.cpp).
struct SongLoading {
    // A large file read and parsed on a thread of its own, so that the window goes on drawing,
    // and says so, for the second or more it takes; valid until the song is taken.
    std::future<SongRead> reading;
    bool keepFolderWhenRead = false;  // it was chosen in the file dialog, whose folder it then is
    bool playWhenRead = false;        // Space asked for it to play while it was read
    std::string soundFontLabel;       // the SoundFont's name or "no SoundFont loaded"
    std::string midiLabel;            // the song's name or "no MIDI file loaded"
    bool rendering = false;           // a render runs: one slice per frame until it completes
    float renderProgress = -1.0f;     // percent while rendering; negative: none shown
    // A panel request waiting for the mouse button to come up (a large button's also for
    // kIdleFramesBeforeAction frames after that).
    PanelIntent pending = PanelIntent::None;
    bool pendingWaitsForIdle = false;
    int32_t idleFrames = 0;         // frames with the button up since a large button's click
    float placeBeforeLoad = -1.0f;  // the song time when a load began, kept across a re-render
};

enum HoverPanel : uint16_t { HoverNone = 0, HoverNotesView = 1, HoverTimeBar = 2, HoverControlPanel = 3 };
enum CursorKind : uint16_t { CursorUnset = 0, CursorArrow = 1, CursorResizeNS = 2, CursorResizeWE = 3 };

// The keyboard's and the mouse's state between messages: presses waiting for their release, the
// hovered panel and its cursor, the drags, and the mouse as the panels were last told of it.
struct InputState {
    bool escapeDown = false;  // pressed and not yet released
    bool spaceDown = false;
    bool volumeUnsaved = false;  // a key changed the volume; it is written when the key comes up
    uint16_t hoverPanel = HoverNone;
    uint16_t wantedCursor = CursorUnset;
    uint16_t shownCursor = CursorUnset;
    bool draggingHorizontalSplitter = false;
    bool draggingVerticalSplitter = false;
    bool scrubbing = false;        // the left button went down in the time bar: moves seek
    bool mouseDownNow = false;     // the left button is down, as the panels were last told
    bool mouseShift = false;       // Shift was held at the last mouse message
    float mouseX = 0, mouseY = 0;  // mouse position in design units
};

struct PlayerController {
    PlayerController();
    ~PlayerController();  // where the owned objects' types are complete
    PlayerController(const PlayerController&) = delete;
    PlayerController& operator=(const PlayerController&) = delete;

    GraphicsDevice* device = nullptr;  // drawing device and client size; not owned
    float designWidth = 0;             // the device's client size in design units, taken every frame: every
    float designHeight = 0;            // layout and mouse coordinate is in these units
    // Where the splitters are, from the right and the bottom edge, in design units; the layout
    // clamps them to the scene's size.
    float controlPanelWidth = kDefaultControlPanelWidth;
    float timeBarHeight = kDefaultTimeBarHeight;
    float splitterHalfWidth = kSplitterHalfWidth;  // half the width of each splitter gap

    // Created by Initialise and kept for the whole process.
    std::unique_ptr<NotesView> notesView;
    std::unique_ptr<ControlPanel> controlPanel;
    std::unique_ptr<TimeBar> timeBar;
    // The song's sheet music over the falling notes, while shown (S); it takes the notes view's top.
    std::unique_ptr<ScoreStrip> scoreStrip;

    ViewControls controls;  // the full view, its toggle and its overlay
    // The note names and falling speed the keys choose; the notes view takes them every frame.
    NotesViewOptions viewOptions;
    InputState input;              // the keys and the mouse between messages (app/input.cpp)
    RectF horizontalSplitterRect;  // between notes view and time bar; written each frame in normal view
    RectF verticalSplitterRect;    // between the left column and the control panel

    Palette palette = kDefaultPalette;

    PointI mousePoint;  // the same as integers; the panels keep a pointer to it

    SessionState shared;
    // Playback: the player, what it plays, the count-in, practice and the volume.
    Transport transport{shared};
    // Playing along on a keyboard: the player's keys, and the song waiting for them.
    PlayAlong playAlong{shared, transport};
    Exports exports{shared, transport};  // the audio and video export jobs
    // The key overlay, the toggles' notes, the words, the song's neighbours (app/at_hand.cpp).
    AtHand atHand;
    // The song (and the player's keys) on a MIDI instrument chosen in place of the SoundFont.
    MidiPlayback midiPlayback{shared, transport};
    SongLoading loading;
    float shownTime = -1.0f;  // the song time the panels show this frame

    std::unique_ptr<SynthRenderer> synth;
    // The song's render on its own thread, while the song already plays from what it has rendered.
    std::unique_ptr<BackgroundRender> backgroundRender;

    platform::Window* window = nullptr;  // the main window; not owned
    InputSurface* surface = nullptr;     // the window as the input handler sees it; not owned

    // The program's life (app/controller.cpp). Initialise creates the clock, the synth, the
    // panels and the player (on `output`, refilled every `refillPeriod`) and loads the SoundFont named by the
    // settings file; `device` must be set. ReleaseObjects frees what Initialise created.
    void Initialise(platform::SoundOutput& output, const std::string& guideUrl,
                    std::chrono::milliseconds refillPeriod = std::chrono::milliseconds(300));
    void ReleaseObjects();
    // Once per drawn frame, between begin-draw and end-draw: Update, then Draw. Update runs the
    // pending command and action (a dialog opens only there), advances playback, play-along, the
    // render and the exports, and tells the notes view of a new song or a jump. Draw lays out and
    // draws the panels from what Update left, and takes what their presses ask for.
    void Frame();
    void Update();
    void Draw();
    void RunCommand();  // the pending command, at the start of every frame
    // Posts a command from a key or a panel. Refused while one is pending, and during the
    // count-in, so that a press then is dropped. Returns whether it was taken.
    bool Post(Command command);
    // Input (app/input.cpp): key and mouse messages with the cursor in client pixels.
    void OnInput(const platform::InputMessage& message);
    void UpdateHover();
    void TrackMouse(PointI point);  // the cursor from client pixels into design units
    void SetPanelsMouseDown(bool down);
    void OnLeftButtonDown();
    void OnLeftButtonUp();
    void EndSplitterDrag(bool& dragging);
    void SeekToTimeBarX(float x);  // the time-bar column x (design units) as a place in the song
    [[nodiscard]] int64_t FrameAtTimeBarX(float x) const;  // that place in frames; -1 without a song
    void SeekToSeconds(double seconds);
    void OnKeyDown(const platform::InputMessage& message);
    // N, Shift+N, B, F, Z and Shift+Z: the note names, the keyboard fitted to the song and the
    // falling speed; S: the score strip.
    void OnViewOptionKey(const platform::InputMessage& message);

    // The panels' side (app/song_loading.cpp). ViewOfSong and ControlPanelSnapshot are what the
    // panels draw this frame. HandlePanelRequest takes what a press asked for; a large button's
    // action runs from RunPendingPanelAction once the mouse button has been up a while.
    // StepLoading drives a running render one slice per frame.
    [[nodiscard]] SongView ViewOfSong() const;
    [[nodiscard]] PanelSnapshot ControlPanelSnapshot() const;
    void HandlePanelRequest(const PanelRequest& request);
    // Opens a link's address on the desktop, or says why it could not.
    void OpenLink(const LinkButton& link);
    // The control panel's drawing, once it is placed, and what its presses ask for.
    void DrawControlPanel();
    void RunPendingPanelAction();
    void StepLoading();
    // Shows a running render's progress; once it is over, names the song and has it prepared for
    // playback, or says why it failed.
    void TakeRenderStatus(const RenderStatus& status);
    // Drops the song after a render that came to nothing: no notes, no name, no place to resume.
    void ForgetSong();
    // Starts rendering the session's song with the SoundFont; a start that fails drops the song
    // and says why. Returns whether the render runs.
    bool StartSongRender();
    // The loading flow of "Load MIDI" and "Load SoundFont": asks for the file and loads it.
    // Returns false only when the dialog was cancelled or could not be shown.
    bool ChooseAndLoadFile(FileKind kind);
    // The load itself, once a file has been chosen: from the dialog, or from the command line.
    // A file that does not load leaves the current song as it was.
    void LoadChosenFile(FileKind kind, const std::string& path);
    // A file dropped on the window: a MIDI file or a SoundFont, by its extension, loaded as the
    // buttons would load it once they may start an action. Returns whether it was taken.
    bool DropFile(const std::string& path);
    // While a video export runs, says why no file may load and returns true.
    bool RefuseLoadWhileVideoExports();
    void LoadMidi(const std::string& path);
    void LoadSoundFontFile(const std::string& path);

    // Makes the transport's player on `output` (the sound device unless a test hands in its own),
    // refilled every `refillPeriod`, and mixes the player's keys into the same device.
    void CreatePlayer(platform::SoundOutput& output,
                      std::chrono::milliseconds refillPeriod = std::chrono::milliseconds(300));

    // Practice keys (app/input.cpp): [ and ] (speed), 1 to 9 (a part heard or not) and D (the
    // drums); the song plays on with the new choice at once. TakePracticeFromMemory takes the
    // choice kept for the song.
    bool OnPracticeKey(const platform::InputMessage& message);
    void TakePracticeFromMemory(const SongMemory& memory);
};
