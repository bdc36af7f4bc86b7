#include "app/app_shell.h"

#include <cmath>
#include <cstdio>

#include "platform/dialogs_desktop.h"
#include "platform/graphics_sdl.h"
#include "resources/images.h"
#include "settings/settings.h"

WindowPlacement PlaceMainWindow(const platform::RectI& usable) {
    WindowPlacement p;
    p.width = usable.width * 80 / 100;
    p.height = usable.height * 80 / 100;
    p.x = usable.x + usable.width / 2 - p.width / 2;
    p.y = usable.y + usable.height / 2 - p.height / 2;
    return p;
}

std::string WindowCaption(const std::string& title, double version) {
    char text[256];
    std::snprintf(text, sizeof text, "%s %.1f", title.c_str(), version);
    return text;
}

// --- AppShell ---

AppShell::AppShell() {
    frameClock = std::make_unique<FrameTimer>();
    frameClock->Init();
}

AppShell::~AppShell() {
    if (client != nullptr) WriteSettings(client->Settings());
    client.reset();
    frameClock.reset();
    device.reset();
    target.reset();
    dialogs.reset();
    window.reset();
    video.reset();
}

bool AppShell::Initialise() {
    std::string error;
    video = platform::VideoSystem::Start(&error);
    if (video == nullptr) {
        std::fprintf(stderr, "dorvik-midi-player: %s\n", error.c_str());
        return false;
    }
    platform::RectI usable;
    if (!video->UsableArea(&usable)) {
        std::fprintf(stderr, "dorvik-midi-player: cannot read the size of the screen\n");
        return false;
    }
    const WindowPlacement place = PlaceMainWindow(usable);
    width = place.width;
    height = place.height;
    window = platform::Window::Create(WindowCaption(title, kProgramVersion), place.x, place.y, width, height,
                                      &error);
    if (window == nullptr) {
        std::fprintf(stderr, "dorvik-midi-player: %s\n", error.c_str());
        return false;
    }
    const res::EmbeddedFile icon = res::FindImage(kWindowIconImage);
    if (icon.data != nullptr) window->SetIcon(icon.data, icon.size);  // a missing icon is no failure

    // The design size is the client size the window really got; it stays fixed from here on.
    const PointI client_size = window->ClientSize();
    target = platform::WindowRenderTarget::Create(window->Handle(), client_size.x, client_size.y, &error);
    if (target == nullptr) {
        std::fprintf(stderr, "dorvik-midi-player: cannot draw in the window: %s\n", error.c_str());
        return false;
    }
    device = std::make_unique<GraphicsDevice>();
    device->target = target.get();
    device->clientWidth = client_size.x;
    device->clientHeight = client_size.y;
    dialogs = std::make_unique<platform::DesktopDialogs>(window->Handle());
    // A dialog holds the loop up until it closes; meanwhile the last frame is shown again wherever
    // the window is uncovered. Drawing a new one would run the client, which opened the dialog.
    dialogs->KeepPaintingWith([this] { target->PresentAgain(); });

    client = CreateClient();
    window->Show();
    if (client != nullptr) client->Initialise();
    return true;
}

int AppShell::Run() {
    constexpr double kFrameSeconds = 1.0 / 60.0;
    // Once frames stop changing, the loop only looks ten times a second whether anything has: a
    // change of state without input (a render finishing, the song ending) shows within 0.1 s, and
    // any message brings the full rate back at once.
    constexpr double kRestingFrameSeconds = 0.1;
    constexpr uint64_t kUnchangedBeforeResting = 30;
    platform::InputMessage message;
    for (;;) {
        if (window->Poll(message)) {
            if (message.kind == platform::InputKind::Quit) return 0;
            if (platform::IsInput(message.kind)) HandleInput(message);
            unchangedFrames = 0;
            continue;
        }
        frameClock->Tick();
        if (lastFrameTime == 0.0f) lastFrameTime = frameClock->totalSeconds;
        now = frameClock->totalSeconds;
        frameDelta = now - lastFrameTime;
        const double interval =
            unchangedFrames >= kUnchangedBeforeResting ? kRestingFrameSeconds : kFrameSeconds;
        if (static_cast<double>(frameDelta) >= interval) {
            BeginFrame();
            RenderFrame();
            lastFrameTime = now;
            AfterFrame();
        } else {
            // Nothing to do until the next message or the next frame. Rounded up, so that the
            // wait never ends a little early and leaves the loop spinning through the remainder.
            const double wait = (interval - static_cast<double>(frameDelta)) * 1000.0;
            window->WaitForMessage(static_cast<int>(std::ceil(wait)));
        }
    }
}

void AppShell::AfterFrame() {
    ++framesDrawn;
    const uint64_t presented = target != nullptr ? target->FramesPresented() : framesDrawn;
    unchangedFrames = presented == framesPresented ? unchangedFrames + 1 : 0;
    framesPresented = presented;
    const uint64_t shotFrame = exitAfterFrames > 0 ? exitAfterFrames : 1;
    if (!screenshotPath.empty() && framesDrawn == shotFrame && target != nullptr)
        target->SavePng(screenshotPath);
    if (exitAfterFrames > 0 && framesDrawn == exitAfterFrames) window->RequestQuit();
}
