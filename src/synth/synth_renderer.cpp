// Index:
// - FluidSynth handle owners and log routing
// - creation and SoundFont loading
// - starting a render
// - render slices and completion

#include "synth/synth_renderer.h"

#include <fluidsynth.h>

#include <cstdio>
#include <limits>

#include "resources/strings.h"
#include "settings/settings.h"
#include "synth/render_overview.h"

//-----------------------------------------------------------------------------
// FluidSynth handle owners and log routing
//-----------------------------------------------------------------------------

namespace fluid_detail {

void DeleteSettings::operator()(fluid_settings_t* p) const {
    delete_fluid_settings(p);
}
void DeleteSynth::operator()(fluid_synth_t* p) const {
    delete_fluid_synth(p);
}
// A player may only be deleted once it has stopped: join returns as soon as stop has marked it
// done, since with the sample timing source there is no timer thread to wait for.
void DeletePlayer::operator()(fluid_player_t* p) const {
    fluid_player_stop(p);
    fluid_player_join(p);
    delete_fluid_player(p);
}
void DeleteFileRenderer::operator()(fluid_file_renderer_t* p) const {
    delete_fluid_file_renderer(p);  // closes the file, which writes the final header sizes
}

}  // namespace fluid_detail

namespace {

void PrintFluidMessage(int level, const char* message, void*) {
    std::fprintf(stderr, "fluidsynth: %s: %s\n", level == FLUID_WARN ? "warning" : "error", message);
}

}  // namespace

void ShowFluidSynthMessages(bool warnings) {
    fluid_set_log_function(FLUID_PANIC, PrintFluidMessage, nullptr);
    fluid_set_log_function(FLUID_ERR, PrintFluidMessage, nullptr);
    fluid_set_log_function(FLUID_WARN, warnings ? PrintFluidMessage : nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

//-----------------------------------------------------------------------------
// Creation and SoundFont loading
//-----------------------------------------------------------------------------

SynthRenderer::SynthRenderer(SessionState& state) : shared(&state) {
    fluidSettings.reset(new_fluid_settings());
    if (fluidSettings) fluidSynth.reset(new_fluid_synth(fluidSettings.get()));
}

SynthRenderer::~SynthRenderer() {
    // The player and the file renderer hang on the synthesiser, which hangs on the settings.
    ReleaseRender();
    fluidSynth.reset();
    fluidSettings.reset();
}

bool SynthRenderer::LoadSoundFont() {
    if (!fluidSynth) return false;
    return fluid_synth_sfload(fluidSynth.get(), shared->soundFontPath.c_str(), 1) != FLUID_FAILED;
}

void SynthRenderer::ReleaseRender() {
    fluidPlayer.reset();
    fileRenderer.reset();
}

//-----------------------------------------------------------------------------
// Starting a render
//-----------------------------------------------------------------------------

bool SynthRenderer::StartRender(const std::string& outputPath) {
    // A render still running, or one abandoned, is dropped first; its output file is overwritten.
    ReleaseRender();
    rendering = false;
    lastError.clear();
    if (!fluidSettings) {
        lastError = "FluidSynth could not be set up";
        return false;
    }

    // A fresh synthesiser, so that SoundFonts loaded since the last render do not stack up. Its
    // result is kept for the command line; the window renders whatever the synthesiser holds.
    fluidSynth.reset();
    fluidSynth.reset(new_fluid_synth(fluidSettings.get()));
    if (!fluidSynth) {
        lastError = "FluidSynth could not create a synthesiser";
        return false;
    }
    soundFontReloaded = LoadSoundFont();

    shared->outputWavPath = outputPath.empty() ? SettingsFolder() + "/output.wav" : outputPath;
    // A path holding a NUL byte would reach FluidSynth cut short and name another file.
    if (shared->outputWavPath.find('\0') != std::string::npos ||
        shared->midiPath.find('\0') != std::string::npos) {
        lastError = "a file name holds a NUL byte";
        return false;
    }

    // These settings reach the synthesiser created above and the player and file renderer made
    // below; half gain leaves headroom for full two-handed chords.
    pathBuffer = shared->outputWavPath;
    fluid_settings_setstr(fluidSettings.get(), "audio.file.name", pathBuffer.c_str());
    fluid_settings_setstr(fluidSettings.get(), "player.timing-source", "sample");
    fluid_settings_setint(fluidSettings.get(), "synth.lock-memory", 0);
    fluid_settings_setnum(fluidSettings.get(), "synth.gain", 0.5);

    pathBuffer = shared->midiPath;
    fluidPlayer.reset(new_fluid_player(fluidSynth.get()));
    if (!fluidPlayer || fluid_player_add(fluidPlayer.get(), pathBuffer.c_str()) != FLUID_OK ||
        fluid_player_play(fluidPlayer.get()) != FLUID_OK) {
        ReleaseRender();
        lastError = "FluidSynth could not start its MIDI player";
        return false;
    }
    fileRenderer.reset(new_fluid_file_renderer(fluidSynth.get()));
    if (!fileRenderer) {
        ReleaseRender();
        lastError = "cannot write " + shared->outputWavPath;
        return false;
    }

    rendering = true;
    shownProgress = 0;
    totalTicks_ = 0;
    return true;
}

//-----------------------------------------------------------------------------
// Render slices and completion
//-----------------------------------------------------------------------------

namespace {

// Percent of the song's ticks played. Until the player has read the file it reports no total,
// and the result is not a number: compared with anything it is false, so the slice simply
// carries on rendering.
//
// The player runs on for about three seconds past the song's last event, counting ticks beyond
// the song's length (a three-second song reaches 200 %), so the count is held at 100: the button
// never shows more than all of it, and the tail is rendered in the slice that reaches 100.
float ProgressPercent(int currentTicks, int totalTicks) {
    if (totalTicks == 0) return std::numeric_limits<float>::quiet_NaN();
    const float percent = static_cast<float>(static_cast<double>(static_cast<float>(currentTicks)) * 100.0 /
                                             static_cast<double>(static_cast<float>(totalTicks)));
    return percent > 100.0f ? 100.0f : percent;
}

}  // namespace

RenderOutcome SynthRenderer::RenderStep(RenderProgressSink& panel) {
    if (!rendering) return Complete(panel);
    for (;;) {
        // The ticks are read before the block is rendered, so a slice shows where it began. The
        // player counts the song's length by walking every event of every track, so the length
        // is asked for only until the player has read the file; it cannot change after that.
        if (totalTicks_ == 0) totalTicks_ = fluid_player_get_total_ticks(fluidPlayer.get());
        const int total = totalTicks_;
        const int current = fluid_player_get_current_tick(fluidPlayer.get());
        const int status = fluid_player_get_status(fluidPlayer.get());
        if (status != FLUID_PLAYER_PLAYING) {
            ReleaseRender();  // closing the file renderer completes the WAV header
            rendering = false;
            shared->rendered = true;
            return Complete(panel);
        }
        if (fluid_file_renderer_process_block(fileRenderer.get()) != FLUID_OK) {
            // The file cannot take any more (a full disk, say). What was written is only part of
            // the song, so it is not offered for playback.
            ReleaseRender();
            rendering = false;
            shared->rendered = false;
            shared->songReady = false;
            lastError = "could not write the rendered audio to " + shared->outputWavPath;
            return Complete(panel);
        }
        rendering = true;
        progress = ProgressPercent(current, total);
        // Showing only steps of more than 1.6 points spreads any render over about 62 frames, so
        // the window keeps redrawing whatever the song's length.
        if (static_cast<double>(progress) - 1.6 > static_cast<double>(shownProgress)) {
            shownProgress = progress;
            panel.SetRenderProgress(progress);
            return RenderOutcome::Running;
        }
    }
}

RenderOutcome SynthRenderer::Complete(RenderProgressSink& panel) {
    std::string label;
    if (shared->rendered) {
        shared->midiName = FileTitleFromPath(shared->midiPath);
        label = shared->midiName;
        if (shared->midiParsed) {
            shared->songReady = ReadRenderOverview(*shared);
            shared->overviewLoaded = true;
            shared->command = CmdPreparePlayback;
        }
    } else {
        label = res::LoadString(res::IdsNoMidiFileLoaded);
    }
    panel.SetMidiLabel(label);
    panel.SetRenderProgress(-1.0f);
    panel.EndRender();
    return shared->rendered ? RenderOutcome::Finished : RenderOutcome::Failed;
}
