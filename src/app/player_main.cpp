// dorvik-midi-player: the window.
//
// Usage: dorvik-midi-player [--help] [--version] [[--] FILE.mid]
// Exit status 0 when the window was closed, 1 when it could not be opened, 2 on a usage error.
//
// Two environment variables serve tests and screenshots: DORVIK_EXIT_AFTER_FRAMES=N closes the
// window after N frames, and DORVIK_SCREENSHOT=PATH saves that frame (the first, without a
// limit) as a PNG of the window's size.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/player_client.h"

namespace {

constexpr const char* kHelp =
    "usage: dorvik-midi-player [FILE.mid]\n"
    "       dorvik-midi-player --version\n"
    "\n"
    "Plays Standard MIDI Files through a SoundFont with the notes falling onto an 88-key keyboard.\n"
    "A MIDI file named here is loaded at start-up, as if it had been chosen with \"Load MIDI\".\n"
    "\n"
    "Options:\n"
    "  -h, --help  print this help\n"
    "  --version   print the version\n"
    "  --          the next argument is the file, even when it begins with a dash\n"
    "\n"
    "Exit status: 0 when the window was closed, 1 when it could not be opened, 2 for a usage error.\n";

uint64_t FramesFromEnvironment() {
    const char* text = std::getenv("DORVIK_EXIT_AFTER_FRAMES");
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const unsigned long long frames = std::strtoull(text, &end, 10);
    return end != nullptr && *end == '\0' ? frames : 0;
}

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "dorvik-midi-player: %s\nsee dorvik-midi-player --help\n", problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // One file at most, named after the options; "--" lets a file whose name begins with a dash
    // through. Anything else that looks like an option is a mistake, never a file to open.
    const char* file = nullptr;
    bool optionsOver = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsOver && std::strcmp(arg, "--version") == 0) {
            std::printf("dorvik-midi-player %.1f\n", kProgramVersion);
            return 0;
        }
        if (!optionsOver && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (!optionsOver && std::strcmp(arg, "--") == 0) {
            optionsOver = true;
        } else if (!optionsOver && arg[0] == '-' && arg[1] != '\0') {
            return UsageError(std::string("unknown option ") + arg);
        } else if (file != nullptr) {
            return UsageError("the player opens one MIDI file");
        } else {
            file = arg;
        }
    }
    int result = 1;
    {
        PlayerApp app;
        if (file != nullptr) app.startupMidi = file;
        app.exitAfterFrames = FramesFromEnvironment();
        if (const char* shot = std::getenv("DORVIK_SCREENSHOT")) app.screenshotPath = shot;
        if (app.Initialise()) result = app.Run();
    }
    return result;
}
