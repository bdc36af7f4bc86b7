// The central object of the program: it owns the panels, the synth and the players, executes the
// pending command once per frame, derives the song time from the player's position and lays out
// the three panels. This header holds its fields; its behaviour is built on top of them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "app/session_state.h"
#include "core/palette.h"
#include "core/panel_layout.h"
#include "export/export_format.h"
#include "export/video_encoder.h"
#include "export/video_scene.h"
#include "platform/geometry.h"
#include "ui/control_panel.h"
#include "view/notes_view.h"

// The session's availability words are the ones the exporters read.
static_assert(ExportFormatCount == kAudioFormatCount);

struct GraphicsDevice;
class TimeBar;
class SynthRenderer;
struct RenderStatus;
struct WavReader;
class StreamingPlayer;
class StreamPlayback;
struct PlaybackLoop;
class RenderStream;
class BackgroundRender;
class TempoMap;
class WaitMode;
class FollowScorer;
class LiveSynth;
struct SongMemory;
struct FrameTimer;
class ExportJob;
namespace platform {
class Window;
class MidiInput;
class MidiInputWatch;
class MidiThru;
struct MidiMessage;
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

// The file-loading flow's state and what the control panel shows of it (app/song_loading.cpp).
struct SongLoading {
    std::string soundFontLabel;    // the SoundFont's name or "no SoundFont loaded"
    std::string midiLabel;         // the song's name or "no MIDI file loaded"
    bool rendering = false;        // a render runs: one slice per frame until it completes
    float renderProgress = -1.0f;  // percent while rendering; negative: none shown
    // A panel request waiting for the mouse button to come up (a large button's also for
    // kIdleFramesBeforeAction frames after that).
    PanelIntent pending = PanelIntent::None;
    bool pendingWaitsForIdle = false;
    int32_t idleFrames = 0;         // frames with the button up since a large button's click
    float placeBeforeLoad = -1.0f;  // the song time when a load began, kept across a re-render
};

enum HoverPanel : uint16_t { HoverNone = 0, HoverNotesView = 1, HoverTimeBar = 2, HoverControlPanel = 3 };
enum CursorKind : uint16_t { CursorUnset = 0, CursorArrow = 1, CursorResizeNS = 2, CursorResizeWE = 3 };

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

    ViewControls controls;  // the full view, its toggle and its overlay
    // The note names and falling speed the keys choose; the notes view takes them every frame.
    NotesViewOptions viewOptions;
    bool escapeDown = false;  // pressed and not yet released
    bool spaceDown = false;
    uint16_t hoverPanel = HoverNone;
    uint16_t wantedCursor = CursorUnset;
    uint16_t shownCursor = CursorUnset;
    bool draggingHorizontalSplitter = false;
    bool draggingVerticalSplitter = false;
    bool scrubbing = false;        // the left button went down in the time bar: moves seek
    RectF horizontalSplitterRect;  // between notes view and time bar; written each frame in normal view
    RectF verticalSplitterRect;    // between the left column and the control panel

    Palette palette = kDefaultPalette;

    float mouseX = 0, mouseY = 0;  // mouse position in design units
    PointI mousePoint;             // the same as integers; the panels keep a pointer to it

    SessionState shared;
    SongLoading loading;
    bool mouseDownNow = false;  // the left button is down, as the panels were last told
    float shownTime = -1.0f;    // the song time the panels show this frame

    std::unique_ptr<SynthRenderer> synth;
    // The song's render on its own thread, while the song already plays from what it has rendered.
    std::unique_ptr<BackgroundRender> backgroundRender;
    std::string renderFolder;              // the private cache folder songs are rendered into; "" for none
    std::unique_ptr<WavReader> wavReader;  // created when playback of a WAV file is prepared
    // Playback of the song's render as far as it has got; made when its render starts.
    std::unique_ptr<StreamPlayback> streamPlayback;
    // The song plays but is held at seekOffset until its render has got far enough ahead of it.
    bool waitingForRender = false;
    bool mouseShift = false;  // Shift was held at the last mouse message
    // The playback volume as a linear gain, 0..1, from SetVolume; read by the player's refill
    // thread. Exports and renders never see it.
    std::atomic<float> playbackVolume{1.0f};
    std::unique_ptr<FrameTimer> clock;  // the playback clock of the count-in
    // The streaming player, made by CreatePlayer; shared.player points at it.
    std::unique_ptr<StreamingPlayer> soundPlayer;

    bool volumeUnsaved = false;  // a key changed the volume; it is written when the key comes up

    // Practice (app/practice.cpp), as the session's practice chooses it (shared.practice): while
    // the speed and the parts heard are not the song's own, the song plays from a render of its own, made
    // from the place it is heard at (a little before, so that notes struck just before sound on) and on to
    // its end, beside the song's render, which stays what the time bar shows.
    std::unique_ptr<TempoMap> songTempo;       // the song's tempo map: places a render by time
    std::shared_ptr<RenderStream> songStream;  // the song's own render, as written
    std::unique_ptr<SynthRenderer> practiceSynth;
    std::unique_ptr<BackgroundRender> practiceRender;

    // Play-along (app/play_along.cpp), whose state is the session's (shared.playAlong): the parts
    // silenced are the player's. Their keys, from a MIDI keyboard (or, without one, the computer
    // keyboard), light and sound, and the song waits at each of the player's notes until its keys
    // are down.
    std::unique_ptr<LiveSynth> liveSynth;
    // Hands the MIDI keyboard's keys to liveSynth from the input's own thread, as they arrive.
    std::unique_ptr<platform::MidiThru> liveThru;
    // The MIDI inputs; after liveSynth and liveThru, so that it goes first: its thread may be
    // handing them a key until then.
    std::unique_ptr<platform::MidiInput> midiInput;
    std::unique_ptr<WaitMode> waitMode;            // playing along with the song waiting for the player
    std::unique_ptr<FollowScorer> follow;          // or with the song running on, each key judged
    platform::SoundOutput* soundOutput = nullptr;  // the device the player's keys are mixed into
    std::unique_ptr<platform::MidiInputWatch> inputWatch;
    InputListView inputRows;  // what the panel lists of the inputs while playing along

    int32_t totalFrames = 0;  // sample frames of the song's sound (as expected, while it renders)
    uint32_t seekOffset = 0;  // frame at which the player last started from silence
    double songTime = -1.0;   // seconds; -1 when stopped or before the first play

    // Export bookkeeping (app/export_commands.cpp). Both exports run as jobs on threads of their
    // own; the frame loop only polls them. The last audio format is what a name without an
    // extension asks for in the next save dialog.
    std::unique_ptr<ExportJob> audioExport;
    ExportFormat lastExportFormat = ExportFormat::Wav;
    // The video export: its size, rate, quality and view as last chosen (read from settings.ini
    // at the first export of a run), and the running job.
    VideoSettings videoSettings;
    VideoView videoView = VideoView::Full;
    bool videoChoicesRead = false;
    std::unique_ptr<ExportJob> videoExport;

    platform::Window* window = nullptr;  // the main window; not owned
    InputSurface* surface = nullptr;     // the window as the input handler sees it; not owned

    // The program's life (app/controller.cpp). Initialise creates the clock, the synth, the
    // panels and the player (on `output`, refilled every `refillPeriod`) and loads the SoundFont named by the
    // settings file; `device` must be set. ReleaseObjects frees what Initialise created.
    void Initialise(platform::SoundOutput& output, const std::string& guideUrl,
                    std::chrono::milliseconds refillPeriod = std::chrono::milliseconds(300));
    void ReleaseObjects();
    void Frame();       // once per drawn frame, between begin-draw and end-draw
    void RunCommand();  // the pending command, at the start of every frame
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
    // falling speed.
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
    // The control panel's part of a frame, once it is placed: the pending action, the panel's
    // drawing and requests, and the render's next slice.
    void ControlPanelFrame();
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

    // Export (app/export_commands.cpp). ExportAudio runs Command::ExportAudio: the save dialog,
    // then the start of the export job; true when one started, which leaves ExportRunning
    // pending. PollExport runs ExportRunning once per frame: it shows the job's progress and, at
    // the end, clears the command and tells where the file went or why it failed.
    bool ExportAudio();
    void PollExport();
    // ExportVideo runs Command::ExportVideo: it asks for the target and starts the job; false when nothing
    // was started. PollVideoExport runs every frame: it shows the job's progress, passes on a
    // cancel from the button and, at the end, shows where the video went or why it failed.
    bool ExportVideo();
    void PollVideoExport();

    // Playback (app/playback.cpp). Each runs on the UI thread; whatever moves the WAV reader stops
    // the player's refill first, and that waits for a refill in progress.
    //
    // Makes the streaming player on `output` (the sound device unless a test hands in its own),
    // refilled every `refillPeriod`; a period of 0 leaves the refills to whoever calls OnTimer.
    void CreatePlayer(platform::SoundOutput& output,
                      std::chrono::milliseconds refillPeriod = std::chrono::milliseconds(300));
    // Opens a new reader on the rendered WAV, takes its frame count and sets the player up for its
    // format; the play state stays. Returns whether the player is ready. A file that is missing or
    // holds no sample frames leaves nothing playable: totalFrames 0 and the player without a ring.
    bool PreparePlayback();
    // Sets the player up to play `stream`, the render just started, from its start (stopped); the
    // song's length stays the one read until the render completes. Returns whether the player is
    // ready.
    bool PrepareStreamPlayback(std::shared_ptr<RenderStream> stream);
    // The render has completed: the song's length becomes where its sound ends.
    void TakeRenderedLength(int64_t endFrame);
    // Once per frame: holds playback that has caught up with a render still running (or was sent
    // ahead of it), and lets it go on once the render is far enough ahead again.
    void KeepPlaybackBehindRender();
    // Plays `loop` over and over from now on (an inactive one ends the loop), taking effect where
    // the song is heard now; only a song played from its render loops.
    void SetPlaybackLoop(const PlaybackLoop& loop);
    // The L key: marks where a loop starts, then where it ends (the loop plays at once), then ends it.
    void MarkLoop();
    void StartPlayback();
    void StopPlayback();
    void PausePlayback();   // the player's side of the pause command
    void RewindPlayback();  // back to the start, playing on if playing
    // To `frame`, playing on if playing; paused stays paused. A song that is stopped or not yet
    // started waits, paused, at the new place, so that play starts there.
    void SeekPlayback(uint32_t frame);
    // By `seconds` from the place now (negative: back), kept inside the song.
    void SeekBy(double seconds);
    // The frame the player stands at: 0 while stopped or not yet started.
    [[nodiscard]] uint32_t PlaybackFrame() const;
    // The song time the player's position stands for, in seconds; -1 while nothing is playable.
    [[nodiscard]] double PlaybackSongTime() const;
    // The player's fill callback: reads the next frames from the WAV reader and scales them by the
    // playback volume. `context` is the controller.
    static int FillFromWave(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead, void* context);
    // The fill callback of a song played from its render, scaled by the playback volume.
    static int FillFromStream(uint8_t* destination, uint32_t framesWanted, uint32_t* framesRead,
                              void* context);

    // Practice (app/practice.cpp). ApplyPractice plays on with the practice choice from where the song is
    // heard now (or from the song frame `at`), within a moment: from the song's own render when practice is
    // plain, else from a render of the song from there at its speed and with its parts silent. It is kept in
    // the song's memory with the loop (RememberSong). PollPracticeRender reports a render that failed, once
    // per frame; OnPracticeKey takes [ and ] (speed), 1 to 9 (a part heard or not) and D (the drums);
    // PracticeRenderNeeded says whether a seek to `frame` lies outside what the render being played can reach
    // soon.
    void ApplyPractice(int64_t at = -1);
    void RememberSong() const;
    void PollPracticeRender();
    bool OnPracticeKey(const platform::InputMessage& message);
    void TakePracticeFromMemory(const SongMemory& memory);
    void StopPracticeRender();
    [[nodiscard]] bool PracticeRenderNeeded(int64_t frame) const;

    // Play-along (app/play_along.cpp). TogglePlayAlong (the P key) starts it for the parts silenced
    // (the first hand or voice when none is), or ends it. StepPlayAlong runs every frame: it takes
    // the keys played and holds or lets go the song. OnPlayAlongKey plays the computer keyboard
    // while no MIDI keyboard is open; it returns whether it took the key.
    void TogglePlayAlong(bool following = false);
    void StepPlayAlong();
    bool OnPlayAlongKey(const platform::InputMessage& message, bool down);
    // A key of the player's, down or up at `seconds`: it lights, is kept in the take, waited for
    // or scored, and sounds unless it `sounded` already (through liveThru).
    void PlayerNote(int key, bool down, double seconds, bool sounded = false);
    // The MIDI inputs and what the panel lists of them (app/play_along.cpp). WatchMidiInputs looks
    // at the inputs: a keyboard pulled out pauses the song and says so, and one plugged in while
    // the computer keyboard plays is taken up (the one chosen, or else the first keyboard).
    // ChooseInput listens to the panel's row `row` (the last row is the computer keyboard) and
    // remembers the choice; SetKeysVolume sets the player's keys' own volume, which
    // SavePlayAlongChoices keeps with the choice. ReleasePlayerKeys lets go every key held.
    [[nodiscard]] bool ListeningToMidi() const;
    void WatchMidiInputs();
    void ListInputs();
    void ChooseInput(int row);
    void SetKeysVolume(float percent);
    void SavePlayAlongChoices() const;
    void ReleasePlayerKeys();
    void EndPlayAlong();
    // Offers to save the take, if it has a note, and forgets it.
    void OfferTakeSave();
    // A follow pass has ended: its score is shown and, when it beats the best kept for the song and
    // the parts played, kept.
    void TakePassScore();

    // The volume (app/volume_control.cpp). SetVolume takes a percent, rounds and clamps it to
    // 0..100 (NaN is ignored), and makes it the session's volume and, through the volume's curve,
    // playbackVolume; it writes nothing. SaveVolume writes the session's volume to the settings
    // file, leaving the other settings as the file has them. StepVolume moves the volume to the
    // next multiple of kVolumeStep up (`steps` > 0) or down, as the + and - keys do.
    void SetVolume(float percent);
    void SaveVolume();
    void StepVolume(int steps);
};
