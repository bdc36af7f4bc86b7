// A stand-in for the window on the media controls: a player of the songs named on its command line
// whose every answer is exact and immediate (a command changes the state shown at the next frame,
// the position moves only when sought), so that a test driving it through the session bus can
// check each request's effect. Prints "ready BUSNAME" once it can be reached, then one line per
// request. Ends on Quit, SIGTERM or SIGINT.
//
// Usage: mpris_stand_in SONG...
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/mpris.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) {
    gStop = 1;
}

std::string TitleOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> songs(argv + 1, argv + argc);
    size_t song = 0;
    platform::MprisState state;
    bool quit = false;
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);

    auto show = [&](size_t index) {
        song = index;
        state.path = songs[song];
        state.title = TitleOf(songs[song]);
        state.lengthSeconds = 60.0;
        state.positionSeconds = 0.0;
        state.canPlay = state.canSeek = true;
        state.canGoNext = song + 1 < songs.size();
        state.canGoPrevious = song > 0;
        ++state.jumps;
    };
    if (!songs.empty()) show(0);

    platform::MprisHandlers handlers;
    handlers.command = [&](platform::MprisCommand command) {
        using platform::MprisCommand;
        using platform::MprisPlayback;
        static constexpr const char* kNames[] = {"Play", "Pause",    "PlayPause", "Stop",
                                                 "Next", "Previous", "Raise",     "Quit"};
        std::printf("command %s\n", kNames[static_cast<int>(command)]);
        switch (command) {
            case MprisCommand::Play:
                if (state.canPlay) state.playback = MprisPlayback::Playing;
                break;
            case MprisCommand::Pause:
                if (state.playback == MprisPlayback::Playing) state.playback = MprisPlayback::Paused;
                break;
            case MprisCommand::PlayPause:
                state.playback =
                    state.playback == MprisPlayback::Playing ? MprisPlayback::Paused : MprisPlayback::Playing;
                break;
            case MprisCommand::Stop:
                state.playback = MprisPlayback::Stopped;
                state.positionSeconds = 0.0;
                ++state.jumps;
                break;
            case MprisCommand::Next:
                if (state.canGoNext) show(song + 1);
                break;
            case MprisCommand::Previous:
                if (state.canGoPrevious) show(song - 1);
                break;
            case MprisCommand::Raise:
                break;
            case MprisCommand::Quit:
                quit = true;
                break;
        }
    };
    handlers.seek = [&](double seconds) {
        std::printf("seek %.3f\n", seconds);
        state.positionSeconds = seconds;
        ++state.jumps;
    };
    handlers.setVolume = [&](double volume) {
        std::printf("volume %.3f\n", volume);
        state.volume = volume;
    };
    handlers.open = [&](const std::string& path) {
        std::printf("open %s\n", path.c_str());
        songs.push_back(path);
        show(songs.size() - 1);
    };

    Made<platform::MprisService> started = platform::MprisService::Start(
        "dorvik_midi_player", "Dorvik Midi Player", "dorvik-midi-player", std::move(handlers));
    if (started.value == nullptr) {
        std::fprintf(stderr, "mpris_stand_in: no media controls: %s\n", started.failure.text.c_str());
        return 1;
    }
    const std::unique_ptr<platform::MprisService> service = std::move(started.value);
    service->Poll(state);
    std::printf("ready %s\n", service->BusName().c_str());
    std::fflush(stdout);
    // A frame loop as the window's: poll, then wait for the next frame. A stand-in left behind by
    // a test that failed ends on its own.
    for (int frame = 0; !quit && gStop == 0 && frame < 60 * 120; ++frame) {
        service->Poll(state);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    service->Poll(state);  // the reply to Quit
    return 0;
}
