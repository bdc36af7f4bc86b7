// The offline render of a song through FluidSynth into a WAV file.
//
// The program never synthesises while it plays: once a MIDI file is loaded, the whole song is
// rendered with the loaded SoundFont into the player's own file in the settings folder
// ("output-<process id>.wav"), and playback streams that file. The render runs on the
// user-interface thread, one bounded slice per drawn frame, so the window keeps redrawing and
// the "Load MIDI" button can show how far it has got.
//
// Life of a render:  idle --StartRender--> rendering --RenderStep per frame--> the player stops
//   --> completion: the synthesiser goes, with the SoundFont's samples, the song is named, the
//   overview of the file is read, playback is prepared (command 9), and the control panel goes
//   back to idle. The SoundFont is loaded again from its path for the next render.
//
// FluidSynth is used only through its public interface: settings, synthesiser, SoundFont
// loading and MIDI player. The synthesiser's float output is turned into 16-bit samples exactly
// as FluidSynth's own file renderer does, and the WAV file is written here, into a file this
// program created and holds open. No audio driver is ever created.
//
// A render ends when FluidSynth's player has finished, as FluidSynth's own renderer would end
// it, but never later than the song's length as the program's reader reads it plus a release
// tail: a file that FluidSynth's player reads differently (a damaged tempo, say) cannot render
// on without end.
#pragma once

#include <fluidsynth/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/session_state.h"
#include "synth/render_file.h"

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
}  // namespace fluid_detail

// One per program, created by the controller's initialisation and kept for the whole run. The
// fields are public so that the panel and the tests can see where a render stands; only the
// operations below change them.
class SynthRenderer {
  public:
    // Creates the FluidSynth settings. No synthesiser is made yet: one exists only while a
    // SoundFont is wanted in memory. Check Valid(): without the settings nothing can be rendered.
    explicit SynthRenderer(SessionState& shared);
    ~SynthRenderer();
    SynthRenderer(const SynthRenderer&) = delete;
    SynthRenderer& operator=(const SynthRenderer&) = delete;

    [[nodiscard]] bool Valid() const { return fluidSettings != nullptr; }

    // Loads the SoundFont at shared.soundFontPath into a fresh synthesiser, `loadedSynth`, which
    // the next render takes over; a SoundFont loaded before and not yet rendered with is dropped
    // first, so two sets of samples are never held at once (a render in progress keeps its own).
    // Asking again for the path already loaded keeps what is loaded. On failure nothing stays
    // loaded and `lastError` holds FluidSynth's own reason.
    bool LoadSoundFont();
    // Drops the SoundFont loaded for a render that is not coming: its samples are most of the
    // program's memory. The next render loads it again from its path.
    void ReleaseSoundFont() { loadedSynth.reset(); }

    // Begins rendering shared.midiPath into the player's own file in the settings folder, which
    // becomes shared.outputWavPath. Any earlier render is dropped, and the render takes the
    // synthesiser LoadSoundFont left, or loads the current SoundFont into a fresh one. Returns
    // false, with nothing left running and `lastError` set, when the SoundFont, the MIDI file, the
    // player or the output file cannot be set up; a SoundFont that cannot be loaded again leaves
    // the file of the previous render where it was.
    [[nodiscard]] bool StartRender();
    // The same into a file the caller has created (a temporary file beside the command line's
    // output); the renderer keeps it in `renderFile` for the caller to commit.
    [[nodiscard]] bool StartRender(std::unique_ptr<RenderFile> file);

    // One slice, once per frame while the panel is rendering: renders blocks until the progress
    // has risen more than 1.6 points past what the panel last showed, then hands the panel the
    // new value; a slice also ends after a bounded number of blocks, so that a frame never waits
    // long. When the player has stopped or the song's length and tail are reached, completes the
    // render, frees the synthesiser with the SoundFont's samples (playback streams the file) and
    // returns the panel to idle. A render that cannot be written, that FluidSynth
    // played nothing of, or that is silence for a song with notes fails with `lastError` set.
    RenderOutcome RenderStep(RenderProgressSink& panel);

    bool rendering = false;  // an offline render is in progress
    float progress = 0;      // last computed progress, percent
    SessionState* shared;    // not owned
    std::unique_ptr<fluid_settings_t, fluid_detail::DeleteSettings> fluidSettings;  // for the program's life
    std::unique_ptr<fluid_synth_t, fluid_detail::DeleteSynth> fluidSynth;           // during a render only
    std::unique_ptr<fluid_synth_t, fluid_detail::DeleteSynth> loadedSynth;  // a SoundFont awaiting its render
    std::string loadedPath;  // the SoundFont `loadedSynth` holds
    std::unique_ptr<fluid_player_t, fluid_detail::DeletePlayer> fluidPlayer;  // during a render only
    std::unique_ptr<RenderFile> renderFile;  // the file being or last rendered into; kept open and locked
    float shownProgress = 0;                 // progress last handed to the panel, percent
    bool soundFontReloaded = false;          // the last StartRender had the SoundFont loaded
    std::string lastError;                   // why the last start or render failed, for the user

    // Past the song's last note, what sounds on (releases, reverb) is rendered for at most this
    // long; FluidSynth's player ends its own renders about two seconds after the last voice.
    static constexpr double kReleaseTailSeconds = 10.0;

  private:
    int totalTicks_ = 0;       // the song's length in ticks, once the player has read the file
    int64_t frames_ = 0;       // frames rendered so far
    int64_t songFrames_ = 0;   // the song's length as read, in frames; 0 when unknown
    int64_t limitFrames_ = 0;  // the render ends here at the latest
    bool songHasNotes_ = false;
    bool heardSound_ = false;  // a sample louder than silence has been rendered
    uint32_t sampleRate_ = 44100;
    std::unique_ptr<uint8_t[]> pending_;  // samples waiting to be written
    size_t pendingBytes_ = 0;
    bool writeFailed_ = false;
    std::string writeError_;

    void ReleaseRender();
    bool ReadMidiBytes(std::unique_ptr<uint8_t[]>& bytes, size_t& size);
    bool RenderBlock();
    bool Flush();
    bool Finish();
    RenderOutcome Complete(RenderProgressSink& panel);
};

// FluidSynth logs to the terminal by default. Routes its messages to standard error, keeping
// errors and, when `warnings` is set, warnings; informational and debug messages are dropped.
// The setting is process-wide.
void ShowFluidSynthMessages(bool warnings);
