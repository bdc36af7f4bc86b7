// The offline render of a song through FluidSynth into a WAV file.
//
// The program never synthesises while it plays: once a MIDI file is loaded, the whole song is
// rendered with the loaded SoundFont into "output.wav" in the settings folder, and playback
// streams that file. The render runs on the user-interface thread, one slice per drawn frame, so
// the window keeps redrawing and the "Load MIDI" button can show how far it has got.
//
// Life of a render:  idle --StartRender--> rendering --RenderStep per frame--> the player stops
//   --> completion: the song is named, the overview of the file is read, playback is prepared
//   (command 9), and the control panel goes back to idle.
//
// FluidSynth is used only through its public interface: settings, synthesiser, SoundFont
// loading, MIDI file player and file renderer. No audio driver is ever created.
#pragma once

#include <fluidsynth/types.h>

#include <memory>
#include <string>

#include "core/session_state.h"

// What the render needs of the control panel. The panel implements it; so does the command-line
// renderer, with a progress bar.
class RenderProgressSink {
  public:
    // The "Load MIDI" button's progress value in percent; -1 switches the display off.
    virtual void SetRenderProgress(float percent) = 0;
    // The MIDI label's text once the render is over: the song's name, or "no MIDI file loaded".
    virtual void SetMidiLabel(const std::string& text) = 0;
    // The render is over and the panel leaves its rendering state.
    virtual void EndRender() = 0;

  protected:
    ~RenderProgressSink() = default;
};

enum class RenderOutcome {
    Running,   // a slice was rendered; call again next frame
    Finished,  // the song was rendered and completed (named, overview read when it was parsed)
    Failed,    // nothing playable came of it; `lastError` says why
};

namespace fluid_detail {
struct DeleteSettings {
    void operator()(fluid_settings_t* p) const;
};
struct DeleteSynth {
    void operator()(fluid_synth_t* p) const;
};
struct DeletePlayer {
    void operator()(fluid_player_t* p) const;  // stops and joins the player first
};
struct DeleteFileRenderer {
    void operator()(fluid_file_renderer_t* p) const;
};
}  // namespace fluid_detail

// One per program, created by the controller's initialisation and kept for the whole run. The
// fields are public so that the panel and the tests can see where a render stands; only the
// operations below change them.
class SynthRenderer {
  public:
    // Creates the FluidSynth settings and a synthesiser on them. The SoundFont is loaded
    // afterwards with LoadSoundFont. Check Valid(): without them nothing can be rendered.
    explicit SynthRenderer(SessionState& shared);
    ~SynthRenderer();
    SynthRenderer(const SynthRenderer&) = delete;
    SynthRenderer& operator=(const SynthRenderer&) = delete;

    [[nodiscard]] bool Valid() const { return fluidSettings != nullptr && fluidSynth != nullptr; }

    // Loads the SoundFont at shared.soundFontPath into the synthesiser. Each call adds one to the
    // synthesiser's stack; only StartRender begins again from a synthesiser holding just the
    // current SoundFont.
    bool LoadSoundFont();

    // Begins rendering shared.midiPath: any earlier render is dropped, a fresh synthesiser loads
    // the current SoundFont, and the player and file renderer are set up to write
    // shared.outputWavPath, which becomes outputPath or, when that is empty, "output.wav" in the
    // settings folder. Returns false, with nothing left running and `lastError` set, when the
    // player or the output file cannot be set up.
    [[nodiscard]] bool StartRender(const std::string& outputPath = {});

    // One slice, once per frame while the panel is rendering: renders blocks until the progress
    // has risen more than 1.6 points past what the panel last showed, then hands the panel the
    // new value. When the player has stopped, or a block cannot be written, completes the render
    // and returns the panel to idle.
    RenderOutcome RenderStep(RenderProgressSink& panel);

    bool rendering = false;  // an offline render is in progress
    float progress = 0;      // last computed progress, percent
    std::string pathBuffer;  // the last path handed to FluidSynth: the output file, then the MIDI file
    SessionState* shared;    // not owned
    std::unique_ptr<fluid_settings_t, fluid_detail::DeleteSettings> fluidSettings;  // for the program's life
    std::unique_ptr<fluid_synth_t, fluid_detail::DeleteSynth> fluidSynth;  // replaced at every render start
    std::unique_ptr<fluid_player_t, fluid_detail::DeletePlayer> fluidPlayer;  // during a render only
    std::unique_ptr<fluid_file_renderer_t, fluid_detail::DeleteFileRenderer> fileRenderer;  // likewise
    float shownProgress = 0;         // progress last handed to the panel, percent
    bool soundFontReloaded = false;  // the last StartRender could load the SoundFont again
    std::string lastError;           // why the last start or render failed, for the user

  private:
    int totalTicks_ = 0;  // the song's length in ticks, once the player has read the file

    void ReleaseRender();
    RenderOutcome Complete(RenderProgressSink& panel);
};

// FluidSynth logs to the terminal by default. Routes its messages to standard error, keeping
// errors and, when `warnings` is set, warnings; informational and debug messages are dropped.
// The setting is process-wide.
void ShowFluidSynthMessages(bool warnings);
