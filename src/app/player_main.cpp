// dorvik-midi-player: the window.
//
// Usage: dorvik-midi-player [--version] [FILE.mid]
// Exit status 0 when the window was closed, 1 when it could not be opened, 2 on a usage error.
//
// Two environment variables serve tests and screenshots: DORVIK_EXIT_AFTER_FRAMES=N closes the
// window after N frames, and DORVIK_SCREENSHOT=PATH saves that frame (the first, without a
// limit) as a PNG of the window's size.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/player_client.h"

namespace {

uint64_t FramesFromEnvironment() {
    const char* text = std::getenv("DORVIK_EXIT_AFTER_FRAMES");
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const unsigned long long frames = std::strtoull(text, &end, 10);
    return end != nullptr && *end == '\0' ? frames : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("dorvik-midi-player %.1f\n", kProgramVersion);
        return 0;
    }
    if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))) {
        std::fprintf(stderr, "usage: dorvik-midi-player [--version] [FILE.mid]\n");
        return argc == 2 ? 0 : 2;
    }
    int result = 1;
    {
        PlayerApp app;
        if (argc == 2) app.startupMidi = argv[1];
        app.exitAfterFrames = FramesFromEnvironment();
        if (const char* shot = std::getenv("DORVIK_SCREENSHOT")) app.screenshotPath = shot;
        if (app.Initialise()) result = app.Run();
    }
    return result;
}
