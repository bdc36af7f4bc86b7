// The window's frame client: the player controller, driven by the message loop.
#pragma once

#include <memory>
#include <string>

#include "app/app_shell.h"
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
    void Frame() override { controller.Frame(); }
    void OnInput(const platform::InputMessage& message) override { controller.OnInput(message); }

    PlayerController controller;

  private:
    class WindowSurface;
    std::unique_ptr<WindowSurface> surface_;
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
