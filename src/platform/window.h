// The main window on SDL2 and the input messages the program takes from it.
//
// The window's message queue is polled one message at a time without blocking; when the program
// has nothing to do it may wait for the next message with a time limit instead of spinning. Mouse
// positions are client-area pixels of the window as it is now; the program maps them to its
// design units itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/made.h"
#include "platform/geometry.h"

struct SDL_Window;
struct SDL_Cursor;

namespace platform {

enum class InputKind : uint16_t {
    None = 0,  // a message the program has no use for (window events, text input, ...)
    KeyDown,   // also repeated while a key is held
    KeyUp,
    MouseMove,
    LeftButtonDown,
    LeftButtonUp,
    UserMessage,  // the program's own message 1031, posted with Window::PostUserMessage
    Quit,         // the window was closed: the message loop ends
    FileDropped,  // a file was dropped on the window; its path is in `path`
    Wheel,        // the mouse wheel (or a touchpad's two-finger scroll) turned by `wheel` notches
};

// Key codes of the keys the program reacts to; letters and digits are their ASCII codes.
inline constexpr uint32_t kKeyEscape = 0x1B;
inline constexpr uint32_t kKeySpace = 0x20;
// Keys without a character, numbered above every character code.
inline constexpr uint32_t kKeyLeft = 0x110000;
inline constexpr uint32_t kKeyRight = 0x110001;
inline constexpr uint32_t kKeyHome = 0x110002;
inline constexpr uint32_t kKeyEnd = 0x110003;
inline constexpr uint32_t kKeyF11 = 0x110004;
// The keypad's + and -, told apart from the main keys' characters by the keyboard layer.
inline constexpr uint32_t kKeyKeypadPlus = 0x110005;
inline constexpr uint32_t kKeyKeypadMinus = 0x110006;
inline constexpr uint32_t kKeyF1 = 0x110007;
inline constexpr uint32_t kKeyPageUp = 0x110008;
inline constexpr uint32_t kKeyPageDown = 0x110009;
inline constexpr uint32_t kUserMessageNumber = 1031;

struct InputMessage {
    InputKind kind = InputKind::None;
    uint32_t keyCode = 0;  // key messages only
    bool shift = false;    // key and button messages: a Shift key was held
    bool repeat = false;   // KeyDown: sent again because the key is held
    bool ctrl = false;     // key and button messages: a Control key was held
    bool alt = false;      // key messages: an Alt key was held
    int32_t wheel = 0;     // Wheel only: notches turned, positive away from the user (scrolling up)
    PointI point;          // cursor in client pixels when the message was taken, for every kind
    std::string path;      // FileDropped only: the file, as a local path
};

// True for the kinds the message loop hands to the input handler.
[[nodiscard]] constexpr bool IsInput(InputKind kind) {
    return kind == InputKind::KeyDown || kind == InputKind::KeyUp || kind == InputKind::MouseMove ||
           kind == InputKind::LeftButtonDown || kind == InputKind::LeftButtonUp ||
           kind == InputKind::UserMessage || kind == InputKind::FileDropped || kind == InputKind::Wheel;
}

struct RectI {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// Cursor shapes, numbered as the input handler asks for them.
enum CursorShape : int { kCursorArrow = 1, kCursorResizeVertical = 2, kCursorResizeHorizontal = 3 };

// One reference on SDL's video subsystem: the display must be open before its usable area can be
// read and for as long as any window exists.
class VideoSystem {
  public:
    // Nothing, with the reason, when there is no display to open.
    static Made<VideoSystem> Start();
    ~VideoSystem();
    VideoSystem(const VideoSystem&) = delete;
    VideoSystem& operator=(const VideoSystem&) = delete;

    // The first display's area without task bars and docks, in screen pixels.
    [[nodiscard]] bool UsableArea(RectI* out) const;

  private:
    VideoSystem() = default;
};

class Window {
  public:
    // A resizable window, hidden until Show(), whose client area is `clientWidth` x
    // `clientHeight` with its top-left corner at (x, y) on the screen. Needs a started
    // VideoSystem. Nothing, with the reason, on failure.
    static Made<Window> Create(const std::string& caption, int x, int y, int clientWidth, int clientHeight);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void Show();
    // The client area can be made no smaller than this by the user, nor by SetClientSize.
    void SetMinimumSize(int width, int height);
    // Asks for a new client size; the window manager may give another. For tests and screenshots.
    void SetClientSize(int width, int height);
    // Full screen on the window's display at the desktop's own resolution, or back to the window
    // it was; the client size follows, and the program lays its panels out again as after a resize.
    // False, with nothing changed, when the video driver refuses.
    bool SetFullScreen(bool on);
    [[nodiscard]] bool FullScreen() const;
    bool ToggleFullScreen() { return SetFullScreen(!FullScreen()); }
    // The window icon from PNG bytes; false (and no icon) when they cannot be decoded.
    bool SetIcon(const uint8_t* png, size_t size);

    // Takes one message without blocking; false when the queue is empty.
    bool Poll(InputMessage& message);
    // Waits until a message is queued or `milliseconds` have passed, taking nothing; true when a
    // message is waiting.
    bool WaitForMessage(int milliseconds);
    void PostUserMessage();
    void RequestQuit();  // queues a Quit message, as closing the window does
    void Raise();        // above the other windows, with the input focus, where the desktop allows

    [[nodiscard]] PointI ClientSize() const;
    [[nodiscard]] PointI ClientOrigin() const;  // the client area's top-left corner on the screen
    [[nodiscard]] PointI ScreenToClient(PointI screen) const;
    [[nodiscard]] std::string Caption() const;

    // Shows a cursor shape (1-3, see CursorShape) while the mouse is over the client area; other
    // numbers change nothing.
    void SetCursor(int shape);

    [[nodiscard]] SDL_Window* Handle() const { return window_; }

  private:
    Window() = default;

    SDL_Window* window_ = nullptr;
    std::unique_ptr<VideoSystem> video_;  // keeps the display open while the window exists
    SDL_Cursor* cursors_[3] = {nullptr, nullptr, nullptr};
    uint32_t userEvent_ = 0;  // SDL event type of message 1031
    PointI windowedSize_;     // the client size before full screen, to go back to
};

}  // namespace platform
