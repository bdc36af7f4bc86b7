// The desktop's media controls: the player as an MPRIS media player on the session bus, so that
// media keys, the desktop's sound menu and tools such as playerctl can play, pause, stop, skip,
// seek and set the volume, and show the song's title and length.
//
// The layer knows nothing of songs or of the window. Its owner reports what it shows in an
// MprisState and is told what was asked through MprisHandlers, both from the owner's own loop:
// Poll, once a frame, never waits on the bus. No thread is started; every handler runs inside
// Poll, on the owner's thread.
//
// Index:
//   MprisCommand, MprisHandlers   what the controls ask
//   MprisState                    what the owner reports
//   MprisService                  the connection, its name and its one object
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/made.h"

namespace platform {

// The transport requests, as the controls send them.
enum class MprisCommand : uint8_t { Play, Pause, PlayPause, Stop, Next, Previous, Raise, Quit };

// What runs when the controls ask something. Any handler may be empty: the request is then taken
// and nothing happens.
struct MprisHandlers {
    std::function<void(MprisCommand)> command;
    // A position in seconds from the song's start, already clamped to the song: relative seeks
    // are resolved against the position last reported.
    std::function<void(double seconds)> seek;
    std::function<void(double volume)> setVolume;       // 0 to 1
    std::function<void(const std::string& path)> open;  // a local file the controls asked to play
};

enum class MprisPlayback : uint8_t { Stopped, Playing, Paused };

// What the player shows now. Reported in full every frame; the layer tells the bus what changed.
struct MprisState {
    MprisPlayback playback = MprisPlayback::Stopped;
    // The song: its title, the file it was read from (a local path, "" for none) and its length in
    // seconds (0 while unknown). A new path is a new track for the controls.
    std::string title;
    std::string path;
    double lengthSeconds = 0.0;
    double positionSeconds = 0.0;
    double volume = 1.0;   // 0 to 1
    bool canPlay = false;  // a song is loaded and ready
    bool canGoNext = false;
    bool canGoPrevious = false;
    bool canSeek = false;
    // Counts the jumps of the position that did not come from playing on (a seek by any means, a
    // restart): each change is announced to the controls, which otherwise extrapolate the position.
    uint64_t jumps = 0;
};

class MprisService {
  public:
    // Connects to the session bus and registers the player as org.mpris.MediaPlayer2.`name`, or,
    // when another process holds that name, as `name`.instance<pid>, as the MPRIS convention has
    // it. `identity` is the name the controls show; `desktopEntry` the desktop file's name without
    // ".desktop". Nothing, with the failure saying why, when there is no session bus or
    // the name cannot be had: the player then simply has no media controls.
    static Made<MprisService> Start(const std::string& name, const std::string& identity,
                                    const std::string& desktopEntry, MprisHandlers handlers);
    ~MprisService();  // gives the name up and closes the connection
    MprisService(const MprisService&) = delete;
    MprisService& operator=(const MprisService&) = delete;

    // Takes `state`, announces what changed in it since the last poll, answers every request that
    // has arrived (running the handlers) and sends what is queued, all without waiting. Once the
    // bus has gone away it does nothing.
    void Poll(const MprisState& state);

    // The bus name the player took.
    [[nodiscard]] const std::string& BusName() const;

    struct Impl;

  private:
    explicit MprisService(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
