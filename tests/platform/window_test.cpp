// The SDL window on a virtual display: how SDL's events become the program's input messages,
// waiting for messages, the window's geometry, and the window's render target, which presents a
// frame only when it differs from the last one.
#include "platform/window.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/graphics_sdl.h"

namespace platform {
namespace {

// What a factory made; the reason it made nothing is added to the test's failures.
template <class T>
std::unique_ptr<T> MadeOrFailed(Made<T> made) {
    if (made.value == nullptr) ADD_FAILURE() << made.failure.text;
    return std::move(made.value);
}

struct WindowFixture : ::testing::Test {
    void SetUp() override {
        Made<Window> made = Window::Create("Window test", 100, 80, 320, 200);
        ASSERT_NE(made.value, nullptr) << made.failure.text;
        window = std::move(made.value);
        while (NextInput().kind != InputKind::None) {
        }
    }

    // The next message that is not InputKind::None; None when the queue runs dry first. SDL may
    // report an empty queue once per pump of the display's events while messages remain, so an
    // empty poll is tried again a few times.
    InputMessage NextInput() {
        InputMessage m;
        for (int emptyPolls = 0; emptyPolls < 8;) {
            if (!window->Poll(m)) {
                ++emptyPolls;
            } else if (m.kind != InputKind::None) {
                return m;
            }
        }
        return {};
    }

    std::unique_ptr<Window> window;
};

SDL_Event KeyEvent(Uint32 type, SDL_Keycode sym) {
    SDL_Event e{};
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    return e;
}

SDL_Event ButtonEvent(Uint32 type, Uint8 button, int x, int y) {
    SDL_Event e{};
    e.type = type;
    e.button.button = button;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    return e;
}

SDL_Event MotionEvent(int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x;
    e.motion.y = y;
    return e;
}

TEST_F(WindowFixture, SdlEventsBecomeInputMessages) {
    struct Case {
        SDL_Event event;
        InputKind kind;
        uint32_t key;
        PointI point;  // checked for mouse messages only
    };
    const Case cases[] = {
        {KeyEvent(SDL_KEYDOWN, SDLK_ESCAPE), InputKind::KeyDown, kKeyEscape, {}},
        {KeyEvent(SDL_KEYUP, SDLK_SPACE), InputKind::KeyUp, kKeySpace, {}},
        {KeyEvent(SDL_KEYDOWN, SDLK_a), InputKind::KeyDown, 'a', {}},
        {KeyEvent(SDL_KEYDOWN, SDLK_F11), InputKind::KeyDown, kKeyF11, {}},
        {MotionEvent(12, 34), InputKind::MouseMove, 0, {12, 34}},
        {ButtonEvent(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 5, 6), InputKind::LeftButtonDown, 0, {5, 6}},
        {ButtonEvent(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 7, 8), InputKind::LeftButtonUp, 0, {7, 8}},
    };
    for (const Case& c : cases) {
        SDL_Event e = c.event;
        ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        const InputMessage m = NextInput();
        EXPECT_EQ(m.kind, c.kind) << "event type " << c.event.type;
        EXPECT_EQ(m.keyCode, c.key) << "event type " << c.event.type;
        if (c.kind != InputKind::KeyDown && c.kind != InputKind::KeyUp) {
            EXPECT_EQ(m.point.x, c.point.x);
            EXPECT_EQ(m.point.y, c.point.y);
        }
    }

    // The right button is none of the program's business: its messages come back as None.
    SDL_Event right = ButtonEvent(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 1, 1);
    SDL_PushEvent(&right);
    EXPECT_EQ(NextInput().kind, InputKind::None);

    window->PostUserMessage();
    EXPECT_EQ(NextInput().kind, InputKind::UserMessage);
    window->RequestQuit();
    EXPECT_EQ(NextInput().kind, InputKind::Quit);
}

TEST_F(WindowFixture, AHeldKeySaysItRepeats) {
    for (const bool repeat : {false, true}) {
        SDL_Event e = KeyEvent(SDL_KEYDOWN, SDLK_F11);
        e.key.repeat = repeat ? 1 : 0;
        ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        EXPECT_EQ(NextInput().repeat, repeat);
    }
}

TEST_F(WindowFixture, FullScreenCoversTheDisplayAndComesBack) {
    window->Show();
    ASSERT_FALSE(window->FullScreen());
    ASSERT_TRUE(window->ToggleFullScreen()) << SDL_GetError();
    EXPECT_TRUE(window->FullScreen());
    SDL_Rect display{};
    ASSERT_EQ(SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window->Handle()), &display), 0);
    // The window manager answers in its own time; the size is read again until it has.
    auto settledSize = [&](PointI wanted) {
        PointI size = window->ClientSize();
        for (int i = 0; i < 100 && (size.x != wanted.x || size.y != wanted.y); ++i) {
            SDL_PumpEvents();
            SDL_Delay(10);
            size = window->ClientSize();
        }
        return size;
    };
    const PointI full = settledSize({display.w, display.h});
    EXPECT_EQ(full.x, display.w);
    EXPECT_EQ(full.y, display.h);

    ASSERT_TRUE(window->ToggleFullScreen()) << SDL_GetError();
    EXPECT_FALSE(window->FullScreen());
    const PointI back = settledSize({320, 200});
    EXPECT_EQ(back.x, 320);
    EXPECT_EQ(back.y, 200);
}

TEST_F(WindowFixture, WaitingLeavesTheMessageQueued) {
    EXPECT_FALSE(window->WaitForMessage(1)) << "nothing was queued";
    window->PostUserMessage();
    EXPECT_TRUE(window->WaitForMessage(1000));
    EXPECT_EQ(NextInput().kind, InputKind::UserMessage) << "the wait must not take the message";
}

TEST_F(WindowFixture, GeometryCaptionCursorsAndIcon) {
    EXPECT_EQ(window->Caption(), "Window test");
    const PointI size = window->ClientSize();
    EXPECT_EQ(size.x, 320);
    EXPECT_EQ(size.y, 200);
    const PointI origin = window->ClientOrigin();
    const PointI p = window->ScreenToClient({origin.x + 5, origin.y + 7});
    EXPECT_EQ(p.x, 5);
    EXPECT_EQ(p.y, 7);

    for (int shape = 0; shape <= 4; ++shape) window->SetCursor(shape);  // 0 and 4 change nothing

    const uint8_t notPng[] = {1, 2, 3, 4};
    EXPECT_FALSE(window->SetIcon(notPng, sizeof notPng));
    EXPECT_FALSE(window->SetIcon(nullptr, 0));
}

TEST(VideoSystem, UsableAreaIsTheVirtualScreen) {
    Made<VideoSystem> made = VideoSystem::Start();
    ASSERT_NE(made.value, nullptr) << made.failure.text;
    auto video = std::move(made.value);
    RectI area;
    ASSERT_TRUE(video->UsableArea(&area));
    // The virtual display has no task bar.
    EXPECT_EQ(area.width, 1920);
    EXPECT_EQ(area.height, 1080);
}

TEST_F(WindowFixture, WindowTargetPresentsOnlyChangedFrames) {
    auto target = MadeOrFailed(WindowRenderTarget::Create(window->Handle(), 64, 48));
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->Width(), 64);
    EXPECT_EQ(target->Height(), 48);

    auto frame = [&](ColourF fill) {
        target->BeginDraw();
        target->Clear({0, 0, 0, 1});
        target->FillRect({8, 8, 24, 16}, fill);
        target->DrawText("Play", {14.0f, 700, TextAlign::Centre, true, false, true}, {0, 20, 64, 40},
                         {1, 1, 1, 1});
        target->EndDraw();
    };
    frame({1, 0, 0, 1});
    EXPECT_EQ(target->FramesPresented(), 1u);
    frame({1, 0, 0, 1});
    EXPECT_EQ(target->FramesPresented(), 1u) << "an unchanged frame is not drawn again";
    frame({0, 0, 1, 1});
    EXPECT_EQ(target->FramesPresented(), 2u) << "a changed colour is a changed frame";
    EXPECT_LT(target->LastRedrawnPixels(), 64u * 48u / 4) << "only the changed rectangle is drawn again";

    std::vector<uint32_t> pixels = target->ReadPixels();
    ASSERT_EQ(pixels.size(), 64u * 48u);
    EXPECT_EQ(pixels[10 * 64 + 10], 0xFF0000FFu) << std::hex << pixels[10 * 64 + 10];
    EXPECT_EQ(pixels[2 * 64 + 2], 0xFF000000u);

    // An uncovered window needs the same frame presented again, without redrawing it.
    SDL_Event exposed{};
    exposed.type = SDL_WINDOWEVENT;
    exposed.window.event = SDL_WINDOWEVENT_EXPOSED;
    exposed.window.windowID = SDL_GetWindowID(window->Handle());
    SDL_PushEvent(&exposed);
    frame({0, 0, 1, 1});
    EXPECT_EQ(target->FramesPresented(), 3u);
    frame({0, 0, 1, 1});
    EXPECT_EQ(target->FramesPresented(), 3u);
}

// A group kept from the last frame is not made again, yet a frame that moves something across it
// draws it where it was, as an off-screen target drawing every call shows; a new key is a new group.
TEST_F(WindowFixture, WindowTargetKeepsAGroupOfCallsBetweenFrames) {
    auto onWindow = MadeOrFailed(WindowRenderTarget::Create(window->Handle(), 48, 32));
    ASSERT_NE(onWindow, nullptr);
    auto offscreen = MadeOrFailed(OffscreenRenderTarget::Create(48, 32));
    ASSERT_NE(offscreen, nullptr);
    // Returns whether the target asked for the group's calls.
    auto frame = [](RenderTarget& t, uint64_t key, float barX, float columns) {
        t.BeginDraw();
        t.Clear({0, 0, 0, 1});
        const bool made = t.BeginGroup(key);
        if (made) {
            for (int x = 0; x < 40; ++x) {
                const float fx = static_cast<float>(x) + 4.5f;
                t.DrawLine(fx, 4, fx, 4 + columns + static_cast<float>(x % 9), {0.2f, 0.8f, 0.4f, 1}, 1);
            }
        }
        t.EndGroup();
        t.FillRect({barX, 0, barX + 3, 32}, {1, 1, 1, 0.5f});
        t.EndDraw();
        return made;
    };
    const struct {
        uint64_t key;
        float barX, columns;
        bool made;  // by the window's target
    } steps[] = {
        {7, 2, 10, true}, {7, 2, 10, false}, {7, 20, 10, false}, {8, 20, 16, true}, {8, 30, 16, false}};
    for (const auto& step : steps) {
        EXPECT_EQ(frame(*onWindow, step.key, step.barX, step.columns), step.made) << "key " << step.key;
        EXPECT_TRUE(frame(*offscreen, step.key, step.barX, step.columns));
        EXPECT_EQ(onWindow->ReadPixels(), offscreen->ReadPixels()) << "bar at " << step.barX;
    }
}

TEST_F(WindowFixture, WindowTargetDrawsTheSamePixelsAsTheOffscreenTarget) {
    auto onWindow = MadeOrFailed(WindowRenderTarget::Create(window->Handle(), 40, 30));
    ASSERT_NE(onWindow, nullptr);
    auto offscreen = MadeOrFailed(OffscreenRenderTarget::Create(40, 30));
    ASSERT_NE(offscreen, nullptr);
    // A 4 x 4 image of 16 different colours, as PNG bytes.
    SDL_Surface* pattern = SDL_CreateRGBSurfaceWithFormat(0, 4, 4, 32, SDL_PIXELFORMAT_ARGB8888);
    ASSERT_NE(pattern, nullptr);
    for (int i = 0; i < 16; ++i) {
        static_cast<uint32_t*>(pattern->pixels)[(i / 4) * (pattern->pitch / 4) + i % 4] =
            0xFF000000u | static_cast<uint32_t>(i * 0x0F0A05);
    }
    std::vector<uint8_t> png(4096);
    SDL_RWops* out = SDL_RWFromMem(png.data(), static_cast<int>(png.size()));
    ASSERT_EQ(IMG_SavePNG_RW(pattern, out, 0), 0) << IMG_GetError();
    png.resize(static_cast<size_t>(SDL_RWtell(out)));
    SDL_RWclose(out);
    SDL_FreeSurface(pattern);

    for (RenderTarget* t :
         {static_cast<RenderTarget*>(onWindow.get()), static_cast<RenderTarget*>(offscreen.get())}) {
        auto image = t->DecodePng(png.data(), png.size());
        ASSERT_NE(image, nullptr);
        t->BeginDraw();
        t->Clear({0.0f, 0.0f, 0.0f, 1.0f});
        t->FillRect({1.5f, 2.5f, 17.25f, 9.0f}, {0.2f, 0.6f, 0.4f, 1.0f});
        t->DrawLine(3, 20.5f, 35, 20.5f, {1, 1, 1, 1}, 3);
        t->DrawLine(30, 2, 30, 28, {0.5f, 0.5f, 0.5f, 1}, 1);
        t->DrawRect({20, 4, 36, 14}, {0.8f, 0.1f, 0.1f, 1}, 2);
        t->DrawLine(2, 28, 14, 22, {0.9f, 0.9f, 0.2f, 1}, 2);
        t->DrawImage(*image, {22, 16, 38, 28}, {0, 0, 4, 4}, 1.0f);
        t->DrawImage(*image, {4, 10, 12, 18}, {0.5f, 1, 2.5f, 3}, 1.0f);  // fractional source
        t->EndDraw();
    }
    const std::vector<uint32_t> a = onWindow->ReadPixels();
    const std::vector<uint32_t> b = offscreen->ReadPixels();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i], b[i]) << "pixel (" << i % 40 << ", " << i / 40 << ")";
    }
}

// After a resize to a new size and scale, a frame that differs from the last one in a few places
// is drawn again only there, in pixels, and shows what an off-screen target at that scale draws;
// an image decoded before the resize still draws.
TEST_F(WindowFixture, AResizedWindowTargetRedrawsWhatChangedAtItsScale) {
    auto onWindow = MadeOrFailed(WindowRenderTarget::Create(window->Handle(), 64, 48));
    ASSERT_NE(onWindow, nullptr);
    auto offscreen = MadeOrFailed(OffscreenRenderTarget::Create(96, 72));
    ASSERT_NE(offscreen, nullptr);
    offscreen->SetScale(1.5f);
    SDL_Surface* pattern = SDL_CreateRGBSurfaceWithFormat(0, 2, 2, 32, SDL_PIXELFORMAT_ARGB8888);
    ASSERT_NE(pattern, nullptr);
    const uint32_t colours[4] = {0xFF2040A0u, 0xFFA04020u, 0xFF40A020u, 0xFFFFFFFFu};
    for (int i = 0; i < 4; ++i)
        static_cast<uint32_t*>(pattern->pixels)[(i / 2) * (pattern->pitch / 4) + i % 2] = colours[i];
    std::vector<uint8_t> png(4096);
    SDL_RWops* out = SDL_RWFromMem(png.data(), static_cast<int>(png.size()));
    ASSERT_EQ(IMG_SavePNG_RW(pattern, out, 0), 0) << IMG_GetError();
    png.resize(static_cast<size_t>(SDL_RWtell(out)));
    SDL_RWclose(out);
    SDL_FreeSurface(pattern);
    auto windowImage = onWindow->DecodePng(png.data(), png.size());
    auto offscreenImage = offscreen->DecodePng(png.data(), png.size());
    ASSERT_NE(windowImage, nullptr);
    ASSERT_NE(offscreenImage, nullptr);

    auto frame = [](RenderTarget& t, const Image& image, float x, const char* text) {
        t.BeginDraw();
        t.Clear({0, 0, 0, 1});
        t.FillRect({x, 4, x + 10, 12.5f}, {0.2f, 0.6f, 0.4f, 1});
        t.DrawLine(2, 40, 60, 30, {1, 1, 1, 1}, 1.5f);
        t.DrawImage(image, {44, 4, 60, 20}, {0, 0, 2, 2}, 1);
        t.DrawText(text, {14.0f, 700, TextAlign::Centre, true, false, true}, {0, 20, 64, 36}, {1, 1, 1, 1});
        t.EndDraw();
    };
    frame(*onWindow, *windowImage, 4, "Play");
    ASSERT_TRUE(onWindow->Resize(96, 72, 1.5f));
    EXPECT_EQ(onWindow->Width(), 64);
    EXPECT_EQ(onWindow->Height(), 48);
    frame(*onWindow, *windowImage, 4, "Play");
    frame(*onWindow, *windowImage, 20, "Pause");
    EXPECT_LT(onWindow->LastRedrawnPixels(), 96u * 72u / 2) << "only what changed is drawn again";
    frame(*offscreen, *offscreenImage, 20, "Pause");

    const std::vector<uint32_t> a = onWindow->ReadPixels();
    const std::vector<uint32_t> b = offscreen->ReadPixels();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(a[i], b[i]) << "pixel (" << i % 96 << ", " << i / 96 << ")";
}

}  // namespace
}  // namespace platform
