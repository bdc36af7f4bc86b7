// ui/: the control panel and its immediate-mode widgets: the buttons, labels, link, legend
// and transport. They draw what they are given and say what was pressed; their owner acts on it.
//
// The column at the right of the window: the logo, the link to the user guide, "Load SoundFont"
// with the SoundFont's name, "Load MIDI" with the song's name, "Export audio", "Export video", the song time
// in large digits, the volume slider and the three small transport buttons. Between the buttons and the
// time, the legend of the loaded song's colours.
//
// The panel never acts where the user clicks. Frame returns what a press asks for; its owner
// decides when it happens (the large buttons' actions wait until the mouse button has been up a
// while, so that a modal dialog never opens under a held button).
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/time_format.h"
#include "ui/input_list.h"
#include "ui/output_list.h"
#include "ui/voice_legend.h"
#include "ui/widgets.h"
#include "view/bitmap.h"
#include "view/panel.h"

enum TransportButton : int { TransportRewind = 0, TransportPlayPause = 1, TransportStop = 2 };

// What the control panel shows in one frame, made by its owner.
struct PanelSnapshot {
    SongView song;
    std::string_view soundFontLabel;  // the SoundFont's name or "no SoundFont loaded"
    std::string_view midiLabel;       // the song's name or "no MIDI file loaded"
    float renderProgress = -1.0f;     // percent while the song renders; negative: not rendering
    bool canStart = true;             // the large buttons may start an action now
    // Why the export buttons cannot act now; empty when they can. They then look unavailable,
    // and this is said while the mouse is over one of them.
    std::string_view exportBlocked;
    float volumePercent = 100;  // the playback volume the slider shows, 0..100
    // The beats a minute heard at the song's place, at the practice speed; 0 when not known.
    float beatsPerMinute = 0;
    // While playing along: the keyboards it may listen to, under the legend; null otherwise.
    const InputListView* inputs = nullptr;
    // Whether a SoundFont is loaded: without one "Load MIDI" cannot act, and says so.
    bool soundFontLoaded = true;
    // While playing along: the parts the player plays, lit in the legend; null otherwise.
    const std::bitset<kMaxParts>* played = nullptr;
    // The exports' progress in percent, negative while none runs. While a video exports, a click
    // on "Export video" asks to stop it.
    float audioExportProgress = -1.0f;
    float videoExportProgress = -1.0f;
    // What the song may sound on (the SoundFont, MIDI outputs), under the legend; null for no choice.
    const OutputListView* outputs = nullptr;
};

class ControlPanel final : public Panel {
  public:
    Button exportButton;        // "Export audio"; shows the running export's progress
    Button videoButton;         // "Export video"; the same, and stops a running export
    Bitmap logo;                // ImageLogo, drawn at most 50 high
    Button soundFontButton;     // "Load SoundFont"
    Button midiButton;          // "Load MIDI"; shows the render's progress
    LinkButton link;            // the user guide
    LinkButton exportNotice;    // where the last export went; a click opens its folder
    Label soundFontLabel;       // the SoundFont's name or "no SoundFont loaded"
    Label midiLabel;            // the song's name or "no MIDI file loaded"
    VoiceLegend legend;         // the song's parts in their colours, in the middle
    RectF transportButtons[3];  // hit areas: back to start, play/pause, stop
    Slider volume;              // the playback volume, between the song time and the transport
    Slider speed;               // the practice speed, above the volume
    InputList inputs;           // while playing along: the keyboards, under the legend
    OutputList outputs;         // what the song sounds on, under the legend (and the keyboards)
    // How far the buttons and the notice stand above their places in a panel of full height: a
    // short window moves them up, and closer together, so that the legend has room for its rows.
    float lift = 0;
    // The control under the mouse, how many frames it has been there, and the tip drawn for it
    // (empty while none is): a tip waits for the mouse to rest, so that one passing over the panel
    // does not flash every tip on its way. A control that cannot act says why at once.
    static constexpr int kTipFrames = 24;
    int tipControl = -1;
    int tipFrames = 0;
    std::string tip;

    // Once, after Init and CreateBrushes. `guideUrl` is what the link asks to open; the link shows
    // "User guide".
    void Build(const std::string& guideUrl, ImageLookup lookup = &res::FindImage);

    // Once per frame, after the rectangle and the background have been set: takes the mouse,
    // draws `shown` and returns what a press asked for. A panel without a mouse only draws.
    PanelRequest Frame(const PanelSnapshot& shown);

    // The song is about to be replaced: the legend forgets it, since the next may take its address.
    void ForgetSong() { legend.SetSong(nullptr); }

    // Shows where a finished export went ("Saved song.flac in ~/Music"); a click on the notice
    // opens the folder. The notice goes `kNoticeFrames` frames later, or at the next press elsewhere.
    void ShowExportNotice(const std::string& path);
    static constexpr int kNoticeFrames = 60 * 20;
    int noticeFrames = 0;  // frames the notice has shown

  private:
    PanelIntent DrawTransport(const SongView& song);
    void LayOut();  // the lift and the notice's lines for the panel's rectangle now
    // Where a control that stands `offset` below the panel's top at full height stands now.
    [[nodiscard]] float Lifted(float offset) const;
    [[nodiscard]] float LegendTop() const;
    void DrawExportHint(std::string_view why, float offset);
    void DrawLogo();
    void DrawTime(const SongView& song);
    // The tip of the control under the mouse, and why it cannot act when it cannot.
    void DrawTip(const PanelSnapshot& shown);
};

// The file:// address of the user guide installed with the program, or of the copy in the source
// tree when the program runs from its build folder.
[[nodiscard]] std::string UserGuideUrl();
