// Loading a SoundFont into a FluidSynth synthesiser, the one way every synthesiser of the program
// does it, and FluidSynth's own messages, kept to say why a load or a render failed.
//
// FluidSynth reports through one process-wide log function, on the thread that called it. What it
// says is kept per thread, so that a render on its own thread and a load on the window's never
// read (or clear) each other's messages.
#pragma once

#include <fluidsynth/types.h>

#include <string>

#include "core/failure.h"

// Loads the SoundFont at `path` into `synth`, which holds none yet, and sets its channels' presets
// from it. Anything but a regular file (a pipe, a device, a folder) is refused before FluidSynth
// opens it: its loader reads with blocking calls, and a pipe in the file's place would hold the
// program for ever. On failure (SoundFont), the text names the file and says why in plain words.
[[nodiscard]] Failure LoadSoundFontInto(fluid_synth_t* synth, const std::string& path);

// The failure of the SoundFont at `path`, for `reason`: "The SoundFont "PATH" could not be loaded:
// REASON".
[[nodiscard]] Failure SoundFontRefused(const std::string& path, const std::string& reason);

// Routes FluidSynth's messages to this program's log function; called once a synthesiser is to be
// made. Errors are kept (see below) and stay off the terminal unless ShowFluidSynthMessages asked
// for them or DORVIK_FLUIDSYNTH_MESSAGES is set in the environment.
void RouteFluidMessages();
// FluidSynth's last error on this thread since ClearFluidErrors, or "".
[[nodiscard]] const std::string& LastFluidError();
void ClearFluidErrors();

// With `show` set, FluidSynth's errors and warnings are printed on standard error as well, for a
// diagnosis. The setting is process-wide.
void ShowFluidSynthMessages(bool show);
