#include "app/media_controls.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/player_controller.h"
#include "core/file_access.h"
#include "core/song_folder.h"
#include "platform/window.h"

namespace {

// The name on the bus (after org.mpris.MediaPlayer2.), the name the controls show and the desktop
// file they find the icon in.
constexpr const char* kBusName = "dorvik_midi_player";
constexpr const char* kIdentity = "Dorvik Midi Player";
constexpr const char* kDesktopEntry = "dorvik-midi-player";

}  // namespace

MediaControls::MediaControls(PlayerController& controller, platform::Window* window)
    : controller_(controller), window_(window) {}

MediaControls::~MediaControls() = default;

bool MediaControls::Start() {
    platform::MprisHandlers handlers;
    handlers.command = [this](platform::MprisCommand command) { OnCommand(command); };
    handlers.seek = [this](double seconds) { controller_.SeekToSeconds(seconds); };
    handlers.setVolume = [this](double volume) {
        controller_.transport.SetVolume(static_cast<float>(volume * 100.0));
        controller_.transport.SaveVolume();
    };
    // A file the controls ask to play is taken as a file dropped on the window.
    handlers.open = [this](const std::string& path) { Load(path); };
    Made<platform::MprisService> started =
        platform::MprisService::Start(kBusName, kIdentity, kDesktopEntry, std::move(handlers));
    if (started.value == nullptr) {
        std::fprintf(stderr, "dorvik-midi-player: no media controls: %s\n", started.failure.text.c_str());
        return false;
    }
    service_ = std::move(started.value);
    return true;
}

void MediaControls::Poll() {
    if (service_ == nullptr) return;
    LoadWhenFree();
    service_->Poll(State());
}

void MediaControls::Load(std::string path) {
    waiting_ = std::move(path);
    LoadWhenFree();
}

void MediaControls::LoadWhenFree() {
    const PlayerController& c = controller_;
    if (waiting_.empty() || c.loading.rendering || c.loading.pending != PanelIntent::None ||
        c.shared.command != Command::None || c.transport.CountingIn())
        return;
    // Taken once, whatever comes of it: a file that cannot be loaded is said once, not every frame.
    const std::string path = std::move(waiting_);
    waiting_.clear();
    (void)controller_.DropFile(path);
}

const platform::MprisState& MediaControls::State() {
    const PlayerController& c = controller_;
    const SessionState& shared = c.shared;
    platform::MprisState& state = state_;
    switch (c.transport.Coarse()) {
        case PlayState::Playing:
            state.playback = platform::MprisPlayback::Playing;
            break;
        case PlayState::Paused:
            state.playback = platform::MprisPlayback::Paused;
            break;
        default:
            state.playback = platform::MprisPlayback::Stopped;
            break;
    }
    state.volume = std::clamp(shared.volumePercent, 0, 100) / 100.0;
    state.jumps = c.transport.Jumps();
    if (!shared.session.HasSong() || shared.song == nullptr) {
        state.title.clear();
        state.path.clear();
        state.lengthSeconds = state.positionSeconds = 0.0;
        state.canPlay = state.canSeek = state.canGoNext = state.canGoPrevious = false;
        return state;
    }
    if (songPath_ != shared.midiPath) {
        // The title is the file's, as the panel names the song, and comes with the path: the
        // panel's name waits for the song's render.
        songPath_ = shared.midiPath;
        title_ = FileTitleFromPath(songPath_);
        next_ = NeighbourSong(songPath_, 1);
        previous_ = NeighbourSong(songPath_, -1);
    }
    state.title = title_;
    state.path = songPath_;
    state.lengthSeconds = std::max(0.0, shared.song->duration);
    state.positionSeconds = std::clamp(c.transport.SongTime(), 0.0, state.lengthSeconds);
    state.canPlay = true;
    state.canSeek = c.transport.TotalFrames() > 0;
    state.canGoNext = !next_.empty();
    state.canGoPrevious = !previous_.empty();
    return state;
}

void MediaControls::OnCommand(platform::MprisCommand command) {
    PlayerController& c = controller_;
    const bool song = c.shared.session.HasSong();
    const bool playing = c.transport.Coarse() == PlayState::Playing;
    switch (command) {
        case platform::MprisCommand::Play:
            if (song && !playing) (void)c.Post(Command::Play);
            break;
        case platform::MprisCommand::Pause:
            if (playing) (void)c.Post(Command::Pause);
            break;
        case platform::MprisCommand::PlayPause:
            if (song) (void)c.Post(playing ? Command::Pause : Command::Play);
            break;
        case platform::MprisCommand::Stop:
            if (song) (void)c.Post(Command::Stop);
            break;
        case platform::MprisCommand::Next:
            LoadNeighbour(1);
            break;
        case platform::MprisCommand::Previous:
            LoadNeighbour(-1);
            break;
        case platform::MprisCommand::Raise:
            if (window_ != nullptr) window_->Raise();
            break;
        case platform::MprisCommand::Quit:
            if (window_ != nullptr) window_->RequestQuit();
            break;
    }
}

void MediaControls::LoadNeighbour(int step) {
    if (!controller_.shared.session.HasSong()) return;
    // The folder as it is now: a song added or removed since the song was opened counts.
    std::string path = NeighbourSong(controller_.shared.midiPath, step);
    if (!path.empty()) Load(std::move(path));
}
