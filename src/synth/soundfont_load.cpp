#include "synth/soundfont_load.h"

#include <fluidsynth.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "core/file_access.h"
#include "platform/library_messages.h"

namespace {

// FluidSynth's first and last errors on this thread since they were cleared.
thread_local std::string firstFluidError;
thread_local std::string lastFluidError;
// Whether FluidSynth's own lines also go to standard error, for a diagnosis; off by default, since
// what they say reaches the user inside the failure they explain.
std::atomic<bool> printFluidMessages{false};

void TakeFluidMessage(int level, const char* message, void*) {
    if (level != FLUID_WARN) {
        if (firstFluidError.empty()) firstFluidError = message;
        lastFluidError = message;
    }
    if (printFluidMessages.load()) {
        std::fprintf(stderr, "fluidsynth: %s: %s\n", level == FLUID_WARN ? "warning" : "error", message);
    }
}

// The SoundFont loader's reason in the user's words; the loader speaks of its own reading.
std::string PlainSoundFontReason(const std::string& raw) {
    if (raw.empty()) return "FluidSynth could not load it";
    if (raw.find("EOF") != std::string::npos || raw.find("size mismatch") != std::string::npos) {
        return "not a SoundFont file, or one cut short";
    }
    if (raw.find("Not a RIFF") != std::string::npos || raw.find("Not a SoundFont") != std::string::npos) {
        return "not a SoundFont file";
    }
    return "a damaged SoundFont (" + raw + ")";
}

}  // namespace

void RouteFluidMessages() {
    if (const char* show = std::getenv("DORVIK_FLUIDSYNTH_MESSAGES"); show != nullptr && *show != '\0') {
        printFluidMessages.store(true);
    }
    fluid_set_log_function(FLUID_PANIC, TakeFluidMessage, nullptr);
    fluid_set_log_function(FLUID_ERR, TakeFluidMessage, nullptr);
    fluid_set_log_function(FLUID_WARN, printFluidMessages.load() ? TakeFluidMessage : nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

void ShowFluidSynthMessages(bool show) {
    printFluidMessages.store(show);
    RouteFluidMessages();
}

const std::string& LastFluidError() {
    return lastFluidError;
}

void ClearFluidErrors() {
    firstFluidError.clear();
    lastFluidError.clear();
}

Failure SoundFontRefused(const std::string& path, const std::string& reason) {
    return Failure::Because(FailureKind::SoundFont,
                            "The SoundFont \"" + path + "\" could not be loaded: " + reason);
}

Failure LoadSoundFontInto(fluid_synth_t* synth, const std::string& path) {
    if (const std::string problem = RegularFileProblem(path); !problem.empty()) {
        return SoundFontRefused(path, problem);
    }
    ClearFluidErrors();
    // A file the SoundFont loader refuses goes on to FluidSynth's DLS loader, whose library prints
    // a failed assertion of its own for anything that is not DLS either; the loaders' errors
    // already say what is wrong.
    const platform::QuietLibraryCriticals quiet;
    if (fluid_synth_sfload(synth, path.c_str(), 1) != FLUID_FAILED) return Failure::None();
    // The first error is the SoundFont loader's own reason ("Not a RIFF file"); the last only
    // says that no loader took the file.
    return SoundFontRefused(path, PlainSoundFontReason(firstFluidError));
}
