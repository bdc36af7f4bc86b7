// How many voices a render's synthesiser may sound at once. Past the limit the quietest voice
// gives way to the new one. The limit is the process's: set once at start from the settings or
// the command line; while none is set, each render takes its own default (synth_renderer.h).
#pragma once

#include <string>

// The range a limit may be set in. The top is what the synthesiser's own setting accepts.
inline constexpr int kLeastVoiceLimit = 1;
inline constexpr int kMostVoiceLimit = 65535;

// The limit set, or 0 when none is.
[[nodiscard]] int RenderVoiceLimit();
// A limit outside the range (0 among them) goes back to each render's default.
void SetRenderVoiceLimit(int voices);

// A limit as the user writes it: a whole number from kLeastVoiceLimit to kMostVoiceLimit,
// nothing else on the line; false otherwise, and `voices` is left as it was.
[[nodiscard]] bool ParseVoiceLimit(const std::string& text, int& voices);
