#include "platform/window.h"

#include <SDL.h>
#include <SDL_image.h>

#if defined(__SANITIZE_ADDRESS__)
#define DORVIK_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DORVIK_LEAK_CHECKED 1
#endif
#endif

#ifdef DORVIK_LEAK_CHECKED
#include <dlfcn.h>

// A concession to the leak checker, in sanitizer builds only. SDL opens some system libraries
// itself and unloads them again when the display is closed: the D-Bus client of its input-method
// support, whose global data lives until a dbus_shutdown() that SDL leaves to the application,
// and the OpenGL driver it probes when a window is made, which keeps a little memory until the
// process ends. The checker would report that memory as leaked from unknown modules at every exit.
// The libraries are kept mapped so that their frames have names, and those names are not ours to
// answer for. The desktop's dialogs add the font matcher, whose caches live as long as the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libGLX_mesa.so\nleak:_dri.so\nleak:libGL.so\nleak:libglapi.so\n"
           "leak:libfontconfig.so\n";
}
namespace {

void KeepSystemLibrariesMapped() {
    static const bool once = [] {
        const char* const libraries[] = {"libdbus-1.so.3", "libGL.so.1", "libGLX_mesa.so.0",
                                         "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"};
        for (const char* library : libraries) dlopen(library, RTLD_NOW | RTLD_NODELETE);
        return true;
    }();
    (void)once;
}
}  // namespace
#endif

namespace platform {

namespace {

// SDL's key symbol as the program numbers it: characters keep their code, the few named keys the
// program reacts to get their own numbers, and other keys pass through (the program ignores them).
uint32_t KeyCode(SDL_Keycode sym) {
    switch (sym) {
        case SDLK_LEFT:
            return kKeyLeft;
        case SDLK_RIGHT:
            return kKeyRight;
        case SDLK_HOME:
            return kKeyHome;
        case SDLK_END:
            return kKeyEnd;
        case SDLK_F11:
            return kKeyF11;
        case SDLK_KP_PLUS:
            return kKeyKeypadPlus;
        case SDLK_KP_MINUS:
            return kKeyKeypadMinus;
        case SDLK_F1:
            return kKeyF1;
        case SDLK_PAGEUP:
            return kKeyPageUp;
        case SDLK_PAGEDOWN:
            return kKeyPageDown;
        default:
            return static_cast<uint32_t>(sym);
    }
}

}  // namespace

// --- VideoSystem ---

Made<VideoSystem> VideoSystem::Start() {
    // A desktop player is not a game: leave the compositor and the screen saver alone.
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // An empty poll must mean an empty queue: the loop draws only then, after all pending input.
    SDL_SetHint(SDL_HINT_POLL_SENTINEL, "0");
#ifdef DORVIK_LEAK_CHECKED
    KeepSystemLibrariesMapped();
#endif
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {  // reference-counted by SDL
        return Made<VideoSystem>::Not(FailureKind::TargetOpen,
                                      std::string("cannot open the display: ") + SDL_GetError());
    }
    // Without a display SDL falls back to drivers that show nothing, and the program would run
    // on unseen. Those are for tests, which ask for them by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* requested = SDL_getenv("SDL_VIDEODRIVER");
    const bool invisible =
        driver != nullptr && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0);
    if (invisible && (requested == nullptr || *requested == '\0')) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return Made<VideoSystem>::Not(
            FailureKind::TargetOpen,
            "no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    }
    return Made<VideoSystem>::Of(std::unique_ptr<VideoSystem>(new VideoSystem()));
}

VideoSystem::~VideoSystem() {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool VideoSystem::UsableArea(RectI* out) const {
    SDL_Rect r{};
    if (SDL_GetDisplayUsableBounds(0, &r) != 0 || r.w <= 0 || r.h <= 0) return false;
    *out = {r.x, r.y, r.w, r.h};
    return true;
}

// --- Window ---

Made<Window> Window::Create(const std::string& caption, int x, int y, int clientWidth, int clientHeight) {
    auto fail = [&](const char* what) {
        return Made<Window>::Not(FailureKind::TargetOpen, std::string(what) + ": " + SDL_GetError());
    };
    std::unique_ptr<Window> window(new Window());
    Made<VideoSystem> video = VideoSystem::Start();
    if (video.value == nullptr) return {nullptr, std::move(video.failure)};
    window->video_ = std::move(video.value);
    if (clientWidth <= 0 || clientHeight <= 0) return fail("the window needs a positive size");
    window->window_ = SDL_CreateWindow(caption.c_str(), x, y, clientWidth, clientHeight,
                                       SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (window->window_ == nullptr) return fail("cannot create the window");
    window->userEvent_ = SDL_RegisterEvents(1);
    // The program reads keys, never text: no input-method editor pops up over the keyboard view.
    SDL_StopTextInput();
    return Made<Window>::Of(std::move(window));
}

Window::~Window() {
    for (SDL_Cursor*& cursor : cursors_) {
        if (cursor != nullptr) SDL_FreeCursor(cursor);
        cursor = nullptr;
    }
    if (window_ != nullptr) SDL_DestroyWindow(window_);
}

void Window::SetMinimumSize(int width, int height) {
    SDL_SetWindowMinimumSize(window_, width, height);
}

void Window::SetClientSize(int width, int height) {
    SDL_SetWindowSize(window_, width, height);
}

void Window::Show() {
    SDL_ShowWindow(window_);
}

bool Window::SetFullScreen(bool on) {
    if (on == FullScreen()) return true;
    if (on) SDL_GetWindowSize(window_, &windowedSize_.x, &windowedSize_.y);
    if (SDL_SetWindowFullscreen(window_, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0) return false;
    // Without a window manager (a bare X server) nothing gives the window its old size back.
    if (!on && windowedSize_.x > 0 && windowedSize_.y > 0)
        SDL_SetWindowSize(window_, windowedSize_.x, windowedSize_.y);
    return true;
}

bool Window::FullScreen() const {
    return (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
}

bool Window::SetIcon(const uint8_t* png, size_t size) {
    if (png == nullptr || size == 0 || size > static_cast<size_t>(INT32_MAX)) return false;
    SDL_RWops* rw = SDL_RWFromConstMem(png, static_cast<int>(size));
    if (rw == nullptr) return false;
    SDL_Surface* icon = IMG_isPNG(rw) ? IMG_LoadPNG_RW(rw) : nullptr;
    SDL_RWclose(rw);
    if (icon == nullptr) return false;
    SDL_SetWindowIcon(window_, icon);
    SDL_FreeSurface(icon);
    return true;
}

bool Window::Poll(InputMessage& message) {
    SDL_Event event;
    if (SDL_PollEvent(&event) == 0) return false;
    message = InputMessage{};
    SDL_GetMouseState(&message.point.x, &message.point.y);
    switch (event.type) {
        case SDL_QUIT:
            message.kind = InputKind::Quit;
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            message.kind = event.type == SDL_KEYDOWN ? InputKind::KeyDown : InputKind::KeyUp;
            message.keyCode = KeyCode(event.key.keysym.sym);
            message.shift = (event.key.keysym.mod & KMOD_SHIFT) != 0;
            message.ctrl = (event.key.keysym.mod & KMOD_CTRL) != 0;
            message.alt = (event.key.keysym.mod & KMOD_ALT) != 0;
            message.repeat = event.key.repeat != 0;
            // '?' is Shift with '/' on most layouts, and SDL names the key, not the character.
            if (message.keyCode == '/' && message.shift) message.keyCode = '?';
            break;
        case SDL_MOUSEWHEEL:
            message.kind = InputKind::Wheel;
            message.wheel = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
            break;
        case SDL_DROPFILE:
            if (event.drop.file != nullptr) {
                message.kind = InputKind::FileDropped;
                message.path = event.drop.file;
                SDL_free(event.drop.file);
            }
            break;
        case SDL_MOUSEMOTION:
            message.kind = InputKind::MouseMove;
            message.point = {event.motion.x, event.motion.y};
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            if (event.button.button == SDL_BUTTON_LEFT) {
                message.kind =
                    event.type == SDL_MOUSEBUTTONDOWN ? InputKind::LeftButtonDown : InputKind::LeftButtonUp;
                message.point = {event.button.x, event.button.y};
                message.shift = (SDL_GetModState() & KMOD_SHIFT) != 0;
                message.ctrl = (SDL_GetModState() & KMOD_CTRL) != 0;
            }
            break;
        default:
            if (userEvent_ != 0 && userEvent_ != static_cast<uint32_t>(-1) && event.type == userEvent_) {
                message.kind = InputKind::UserMessage;
            }
            break;
    }
    return true;
}

bool Window::WaitForMessage(int milliseconds) {
    return SDL_WaitEventTimeout(nullptr, milliseconds < 0 ? 0 : milliseconds) == 1;
}

void Window::PostUserMessage() {
    if (userEvent_ == 0 || userEvent_ == static_cast<uint32_t>(-1)) return;
    SDL_Event event{};
    event.type = userEvent_;
    event.user.code = static_cast<Sint32>(kUserMessageNumber);
    SDL_PushEvent(&event);
}

void Window::RequestQuit() {
    SDL_Event event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
}

void Window::Raise() {
    SDL_RaiseWindow(window_);
}

PointI Window::ClientSize() const {
    PointI size;
    SDL_GetWindowSize(window_, &size.x, &size.y);
    return size;
}

PointI Window::ClientOrigin() const {
    PointI origin;
    SDL_GetWindowPosition(window_, &origin.x, &origin.y);
    return origin;
}

PointI Window::ScreenToClient(PointI screen) const {
    const PointI origin = ClientOrigin();
    return {screen.x - origin.x, screen.y - origin.y};
}

std::string Window::Caption() const {
    const char* title = SDL_GetWindowTitle(window_);
    return title != nullptr ? title : "";
}

void Window::SetCursor(int shape) {
    if (shape < kCursorArrow || shape > kCursorResizeHorizontal) return;
    SDL_Cursor*& cursor = cursors_[shape - 1];
    if (cursor == nullptr) {
        static constexpr SDL_SystemCursor kSystem[3] = {SDL_SYSTEM_CURSOR_ARROW, SDL_SYSTEM_CURSOR_SIZENS,
                                                        SDL_SYSTEM_CURSOR_SIZEWE};
        cursor = SDL_CreateSystemCursor(kSystem[shape - 1]);
    }
    if (cursor != nullptr) SDL_SetCursor(cursor);
}

}  // namespace platform
