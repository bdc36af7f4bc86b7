// export_frames: runs one export through the controller's commands (the job on its own thread,
// polled once per frame) under the window's frame pacing (a frame at most every 1/60 s, sleeping in between),
// with a stand-in for the drawing that keeps the processor busy for a given time per frame. Prints the
// elapsed time and the frame count, for bench/window_export_ratio.sh to set against `dorvik-midi export`.
// Usage: export_frames IN.wav OUT.ext [--quality 0|1|2] [--draw-ms N]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/player_controller.h"
#include "export/transcoder.h"
#include "platform/dialogs.h"
#include "tests/session_steps.h"
#include "ui/control_panel.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: export_frames IN.wav OUT.ext [--quality 0|1|2] [--draw-ms N]\n");
        return 2;
    }
    int quality = 0;
    double drawMs = 3.0;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--quality") == 0) quality = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--draw-ms") == 0) drawMs = std::atof(argv[i + 1]);
    }
    platform::ScriptedDialogs dialogs;
    platform::ScriptedDialogs::SaveScript script;
    script.answer.path = argv[2];
    script.answer.choice = quality;
    dialogs.saveScripts.push_back(script);

    PlayerController c;
    c.shared.dialogs = &dialogs;
    c.shared.outputWavPath = argv[1];
    c.shared.midiName = "song";
    BringTo(c.shared.session, SongStage::Ready);
    c.shared.song = std::make_unique<SongData>();
    ProbeEncoders(c.shared.exportFormatFlags);
    c.controlPanel = std::make_unique<ControlPanel>();

    using Clock = std::chrono::steady_clock;
    constexpr double kFrameSeconds = 1.0 / 60.0;
    const auto start = Clock::now();
    auto lastFrame = start - std::chrono::seconds(1);
    int frames = 0;
    c.shared.Post(Command::ExportAudio);
    while (c.shared.command != Command::None) {
        const auto now = Clock::now();
        const double since = std::chrono::duration<double>(now - lastFrame).count();
        if (since < kFrameSeconds) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(static_cast<int>(std::ceil((kFrameSeconds - since) * 1000.0))));
            continue;
        }
        lastFrame = now;
        c.RunCommand();
        ++frames;
        const auto drawEnd = Clock::now() + std::chrono::duration<double, std::milli>(drawMs);
        while (Clock::now() < drawEnd) {
        }
    }
    c.controlPanel.reset();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!dialogs.errorBoxes.empty()) {
        std::fprintf(stderr, "export_frames: %s\n", dialogs.errorBoxes[0].text.c_str());
        return 1;
    }
    std::printf("%.3f %d\n", seconds, frames);
    return 0;
}
