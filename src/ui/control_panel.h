// ui/: the control panel and its immediate-mode widgets: the buttons, labels, link, legend
// and transport, and the file-loading flow they start.
//
// The column at the right of the window: the logo, the link to the user guide, "Load SoundFont"
// with the SoundFont's name, "Load MIDI" with the song's name, "Export audio", "Export video", the song time
// in large digits and the three small transport buttons. Between the buttons and the time, the legend of the
// loaded song's colours.
//
// The panel never acts where the user clicks. A press records a pending `action`, which runs once
// the mouse button is up again: for the four large buttons only in the third frame after the
// release (so that a modal dialog never opens under a held button), for the transport buttons in
// the first. The action either runs the file-loading flow or posts a command for the controller.
// While a song renders, the panel drives the render one slice per frame and "Load MIDI" shows
// its progress.
#pragma once

#include <cstdint>
#include <string>

#include "core/time_format.h"
#include "synth/synth_renderer.h"
#include "ui/voice_legend.h"
#include "ui/widgets.h"
#include "view/bitmap.h"
#include "view/panel.h"

enum PanelAction : int32_t {
    ActionNone = 0,
    ActionLoadFile = 1,   // open a file and load it (`fileKind`)
    ActionRendering = 2,  // a render runs: one slice per frame until it completes
    ActionPlay = 3,       // the transport and export actions post the command of the same number
    ActionPause = 4,
    ActionStop = 5,
    ActionRewind = 7,
    ActionExport = 10,
    ActionExportVideo = 13,
};

enum FileKind : int32_t { FileMidi = 1, FileSoundFont = 2 };

enum TransportButton : int { TransportRewind = 0, TransportPlayPause = 1, TransportStop = 2 };

class ControlPanel final : public Panel {
  public:
    bool enabled = false;            // the large buttons may start an action
    SynthRenderer* synth = nullptr;  // not owned; set before Build
    std::string renderFolder;        // the private folder songs are rendered into; set before Build
    Button exportButton;             // "Export audio"
    Button videoButton;              // "Export video"; shows the running export's progress
    // Set by the controller while a video export runs: a click on "Export video" then asks it to
    // stop (`videoCancelRequested`, taken by the controller), and no song or SoundFont may load,
    // since a new render would write the sound file the export is reading.
    bool videoExportRunning = false;
    bool videoCancelRequested = false;
    Bitmap logo;                     // image 145, 174 x 50
    Button soundFontButton;          // "Load SoundFont"
    Button midiButton;               // "Load MIDI"
    LinkButton link;                 // the user guide
    LinkButton exportNotice;         // where the last export went; a click opens its folder
    Label soundFontLabel;            // the SoundFont's name or "no SoundFont loaded"
    Label midiLabel;                 // the song's name or "no MIDI file loaded"
    VoiceLegend legend;              // the song's parts in their colours, in the middle
    RectF transportButtons[3];       // hit areas: back to start, play/pause, stop
    int32_t action = ActionNone;     // pending action
    int32_t fileKind = 0;            // for ActionLoadFile
    int32_t idleFrames = 0;          // frames with the button up since a large button's click
    int32_t mouseX = 0, mouseY = 0;  // copied in by the controller before every Frame
    float placeBeforeLoad = -1.0f;   // the song time when a load began, kept across a re-render

    // Once, after Init and CreateBrushes and after `synth` is set. `guideUrl` is what the link
    // opens; the link shows "User guide".
    void Build(const std::string& guideUrl, ImageLookup lookup = &res::FindImage);

    // Once per frame in the normal view, after the rectangle, the background and the mouse
    // position have been set.
    void Frame();

    // The loading flow of "Load MIDI" (kind 1) and "Load SoundFont" (kind 2): asks for the file
    // and loads it. Returns false only when the dialog was cancelled or could not be shown.
    bool LoadFile(int kind);
    // The load itself, once a file has been chosen: from the dialog, or from the command line.
    void LoadChosenFile(int kind, const std::string& path);
    // A file dropped on the window: a MIDI file or a SoundFont, by its extension, loaded as the
    // buttons would load it once they may start an action. Returns whether it was taken.
    bool DropFile(const std::string& path);

    // Shows where a finished export went ("Saved song.flac in ~/Music"); a click on the notice
    // opens the folder.
    void ShowExportNotice(const std::string& path);

  private:
    // Shows a running render's progress; once it is over, names the song and has it prepared for
    // playback, or says why it failed.
    void TakeRenderStatus(const RenderStatus& status);
    // While a video export runs, says why no file may load and returns true.
    bool RefuseLoadWhileVideoExports();
    void LoadMidi(const std::string& path);
    void LoadSoundFontFile(const std::string& path);
    void DrawTransport();
    void DrawLogo();
    void DrawTime();
};

// The file:// address of the user guide installed with the program, or of the copy in the source
// tree when the program runs from its build folder.
[[nodiscard]] std::string UserGuideUrl();

// Which kind of file a path names by its extension, in any case: FileMidi for .mid, .midi, .kar
// and .rmi, FileSoundFont for .sf2 and .sf3, 0 for anything else.
[[nodiscard]] int FileKindOfPath(const std::string& path);
