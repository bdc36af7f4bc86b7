#include "app/app_shell.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/panel_layout.h"
#include "platform/dialogs_desktop.h"
#include "platform/graphics_sdl.h"
#include "resources/images.h"

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

bool ParseWindowSize(const char* text, int* width, int* height) {
    if (text == nullptr) return false;
    int sizes[2] = {0, 0};
    const char* p = text;
    for (int i = 0; i < 2; ++i) {
        int digits = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            if (++digits > 5) return false;
            sizes[i] = sizes[i] * 10 + (*p - '0');
        }
        if (digits == 0 || sizes[i] <= 0) return false;
        if (i == 0 && *p++ != 'x') return false;
    }
    if (*p != '\0') return false;
    *width = sizes[0];
    *height = sizes[1];
    return true;
}

// --- AppShell ---

AppShell::AppShell() {
    frameClock = std::make_unique<FrameTimer>();
    frameClock->Init();
}

AppShell::~AppShell() {
    client.reset();
    frameClock.reset();
    device.reset();
    target.reset();
    dialogs.reset();
    window.reset();
    video.reset();
}

bool AppShell::Initialise() {
    Made<platform::VideoSystem> display = platform::VideoSystem::Start();
    if (display.value == nullptr) {
        std::fprintf(stderr, "dorvik-midi-player: %s\n", display.failure.text.c_str());
        return false;
    }
    video = std::move(display.value);
    platform::RectI usable;
    if (!video->UsableArea(&usable)) {
        std::fprintf(stderr, "dorvik-midi-player: cannot read the size of the screen\n");
        return false;
    }
    WindowPlacement place = PlaceMainWindow(usable);
    // A testing aid: screenshots and tests of a given window shape.
    if (ParseWindowSize(std::getenv("DORVIK_WINDOW_SIZE"), &place.width, &place.height)) {
        place.x = usable.x;
        place.y = usable.y;
    }
    width = std::max(place.width, kSmallestWindowWidth);
    height = std::max(place.height, kSmallestWindowHeight);
    Made<platform::Window> made =
        platform::Window::Create(WindowCaption(title, kProgramVersion), place.x, place.y, width, height);
    if (made.value == nullptr) {
        std::fprintf(stderr, "dorvik-midi-player: %s\n", made.failure.text.c_str());
        return false;
    }
    window = std::move(made.value);
    window->SetMinimumSize(kSmallestWindowWidth, kSmallestWindowHeight);
    const res::EmbeddedFile icon = res::FindImage(kWindowIconImage);
    if (icon.data != nullptr) window->SetIcon(icon.data, icon.size);  // a missing icon is no failure

    // The scene is the client size the window really got, and follows it from here on.
    const PointI client_size = window->ClientSize();
    Made<platform::WindowRenderTarget> drawn =
        platform::WindowRenderTarget::Create(window->Handle(), client_size.x, client_size.y);
    target = std::move(drawn.value);
    if (target == nullptr) {
        std::fprintf(stderr, "dorvik-midi-player: cannot draw in the window: %s\n",
                     drawn.failure.text.c_str());
        return false;
    }
    target->SetScale(UiScaleFor(client_size.x, client_size.y));
    device = std::make_unique<GraphicsDevice>();
    device->target = target.get();
    device->clientWidth = target->Width();
    device->clientHeight = target->Height();
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
            FollowWindowSize();
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

void AppShell::FollowWindowSize() {
    if (window == nullptr || target == nullptr || device == nullptr) return;
    const PointI size = window->ClientSize();
    if (size.x <= 0 || size.y <= 0) return;  // minimised
    if (size.x == target->PixelWidth() && size.y == target->PixelHeight()) return;
    if (!target->Resize(size.x, size.y, UiScaleFor(size.x, size.y))) return;
    device->clientWidth = target->Width();
    device->clientHeight = target->Height();
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
