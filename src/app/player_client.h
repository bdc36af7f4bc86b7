// The window's frame client: the player controller, driven by the message loop, and the desktop's
// media controls beside it.
#pragma once

#include <memory>
#include <string>

#include "app/app_shell.h"
#include "app/media_controls.h"
#include "app/player_controller.h"

namespace platform {
class Dialogs;
class SoundOutput;
}  // namespace platform

class PlayerClient final : public FrameClient {
  public:
    // `startupMidi`, when not empty, is loaded once the controller is ready, as if it had been
    // chosen with "Load MIDI".
    PlayerClient(GraphicsDevice* device, platform::Window* window, platform::Dialogs* dialogs,
                 platform::SoundOutput& output, std::string startupMidi);
    ~PlayerClient() override;

    void Initialise() override;
    // What the media controls asked for since the last frame is posted before the frame runs it.
    void Frame() override {
        media_.Poll();
        controller.Frame();
    }
    void OnInput(const platform::InputMessage& message) override { controller.OnInput(message); }

    PlayerController controller;

  private:
    class WindowSurface;
    std::unique_ptr<WindowSurface> surface_;
    MediaControls media_;  // after the controller, which its handlers drive
    platform::SoundOutput& output_;
    std::string startupMidi_;
};

// The application: the shell with the player controller as its frame client.
class PlayerApp : public AppShell {
  public:
    void BeginFrame() override;
    void RenderFrame() override;
    void HandleInput(const platform::InputMessage& message) override;

    // A MIDI file to load once the player is ready, as if chosen with "Load MIDI".
    std::string startupMidi;

  protected:
    // The player controller.
    std::unique_ptr<FrameClient> CreateClient() override;
};
