#include "app/player_client.h"

#include <utility>

#include "platform/dialogs_sdl.h"
#include "platform/graphics_sdl.h"
#include "platform/sound.h"
#include "platform/window.h"
#include "synth/synth_renderer.h"
#include "ui/control_panel.h"

class PlayerClient::WindowSurface final : public InputSurface {
  public:
    explicit WindowSurface(platform::Window* window) : window_(window) {}
    [[nodiscard]] PointI ClientSize() const override { return window_->ClientSize(); }
    void SetCursor(int kind) override { window_->SetCursor(kind); }

  private:
    platform::Window* window_;
};

PlayerClient::PlayerClient(GraphicsDevice* device, platform::Window* window, platform::Dialogs* dialogs,
                           platform::SoundOutput& output, std::string startupMidi)
    : media_(controller, window), output_(output), startupMidi_(std::move(startupMidi)) {
    controller.device = device;
    controller.window = window;
    controller.shared.dialogs = dialogs;
    if (window != nullptr) {
        surface_ = std::make_unique<WindowSurface>(window);
        controller.surface = surface_.get();
    }
}

PlayerClient::~PlayerClient() {
    controller.ReleaseObjects();
}

void PlayerApp::BeginFrame() {
    device->target->BeginDraw();
}

void PlayerApp::RenderFrame() {
    if (client != nullptr) client->Frame();
    device->target->EndDraw();
}

void PlayerApp::HandleInput(const platform::InputMessage& message) {
    if (client != nullptr) client->OnInput(message);
}

std::unique_ptr<FrameClient> PlayerApp::CreateClient() {
    return std::make_unique<PlayerClient>(device.get(), window.get(), dialogs.get(),
                                          platform::SdlSoundOutput(), startupMidi);
}

void PlayerClient::Initialise() {
    controller.Initialise(output_, UserGuideUrl());
    (void)media_.Start();
    // The SoundFont loaded to check it stays in memory only for a song about to be rendered.
    if (startupMidi_.empty()) {
        controller.synth->ReleaseSoundFont();
        return;
    }
    if (!controller.shared.soundFontLoaded) {
        controller.midiPlayback.SayASongNeedsASoundFont();
        return;
    }
    controller.LoadChosenFile(FileKind::Midi, startupMidi_);
}
