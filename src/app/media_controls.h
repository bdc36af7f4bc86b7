// The window on the desktop's media controls: the media keys, the sound menu and playerctl see the
// player as an MPRIS media player, and what they ask for reaches the controller as the window's own
// buttons and keys would ask it.
//
// The window's frame client owns it and polls it once per frame, before the controller's frame, so
// that a request from the bus is a pending command by the time the frame runs commands, and what
// the controls read is what the frame before left. Without a session bus the player simply has no
// media controls; that is said once on standard error.
#pragma once

#include <memory>
#include <string>

#include "platform/mpris.h"

struct PlayerController;
namespace platform {
class Window;
}

class MediaControls {
  public:
    // `window` is raised and closed when the controls ask; may be null.
    MediaControls(PlayerController& controller, platform::Window* window);
    ~MediaControls();
    MediaControls(const MediaControls&) = delete;
    MediaControls& operator=(const MediaControls&) = delete;

    // Takes the player's name on the session bus; false, with the reason said on standard error,
    // when there is none to be had.
    bool Start();
    // Once per frame: tells the controls where the player stands and runs what they asked for.
    void Poll();

    // What the controls are shown now: the song, its place and length, the volume, and what can be
    // asked of the player. Kept from frame to frame, so that an unchanged song costs no allocation.
    const platform::MprisState& State();

  private:
    void OnCommand(platform::MprisCommand command);
    // Loads the song `step` places from the current one in its folder (+1 next, -1 previous).
    void LoadNeighbour(int step);
    // Loads `path` as a file dropped on the window, as soon as the window may load one: a request
    // made while a song renders or a command is pending waits for it, rather than being lost.
    void Load(std::string path);
    void LoadWhenFree();

    PlayerController& controller_;
    platform::Window* window_;
    std::unique_ptr<platform::MprisService> service_;
    // The song last shown, its title and its neighbours: its folder is read once per song, not
    // once per frame.
    std::string songPath_;
    std::string title_;
    std::string next_, previous_;
    platform::MprisState state_;
    std::string waiting_;  // a file asked for that waits for the window to be free; "" for none
};
