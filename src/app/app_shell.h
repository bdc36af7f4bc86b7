// app/: the roof of the program: the entry point, the window shell, the controller with its
// input, playback and export commands. Nothing below includes from here.
//
// The application shell: the window, its drawing device, the frame clock and the message loop.
//
// AppShell owns the window and the device and runs the loop; what a frame draws and what input does
// is the business of a FrameClient, which PlayerApp creates once the window and the device exist.
// The loop takes one message per pass and hands key and mouse messages to the client. When the
// queue is empty it draws a frame if at least 1/60 s has passed since the last one (0.1 s once
// half a second of frames has changed nothing on the screen); otherwise it sleeps until the next
// message or until the next frame is due, whichever comes first, so that an idle window costs next
// to no processor time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/frame_timer.h"
#include "core/version.h"
#include "platform/window.h"
#include "view/graphics_device.h"

struct SessionState;
namespace platform {
class WindowRenderTarget;
class SdlDialogs;
}  // namespace platform

// What the loop drives: one Frame() per drawn frame, between the device's begin-draw and
// end-draw, and every key and mouse message.
class FrameClient {
  public:
    virtual ~FrameClient() = default;
    virtual void Initialise() {}  // the window is shown by now
    virtual void Frame() = 0;
    virtual void OnInput(const platform::InputMessage& message) = 0;
};

// The window's place and size on the screen.
struct WindowPlacement {
    int x = 0, y = 0;           // top-left corner of the client area
    int width = 0, height = 0;  // client area
};

// A client area of 80 % of the usable area in each direction (whole pixels, rounded down),
// centred on it: 1920 x 1040 gives 1536 x 832 at (192, 104).
[[nodiscard]] WindowPlacement PlaceMainWindow(const platform::RectI& usable);

// The caption: the title and the version with one decimal, "Dorvik Midi Player 1.0".
[[nodiscard]] std::string WindowCaption(const std::string& title, double version);

inline constexpr int kWindowIconImage = 105;

// The smallest client area the user can give the window: the interface is drawn at its smallest
// scale there, and every label is still legible.
inline constexpr int kSmallestWindowWidth = 800;
inline constexpr int kSmallestWindowHeight = 500;

// "WxH" as a client size, for DORVIK_WINDOW_SIZE; false when the text is not two positive whole
// numbers of at most five digits joined by an x.
[[nodiscard]] bool ParseWindowSize(const char* text, int* width, int* height);

class AppShell {
  public:
    AppShell();
    // Writes the settings file when a client exists, then releases the client, the device and
    // the window in that order.
    virtual ~AppShell();
    AppShell(const AppShell&) = delete;
    AppShell& operator=(const AppShell&) = delete;

    // Opens the display, creates the window (80 % of the usable area, centred, with its icon;
    // DORVIK_WINDOW_SIZE=WxH asks for another client size, for tests and screenshots), the
    // drawing device of the client size and the client, then shows the window and
    // initialises the client. Returns false, with the reason on standard error, when the window
    // or the device cannot be made; nothing is shown to the user then.
    virtual bool Initialise();

    virtual void BeginFrame() = 0;
    virtual void RenderFrame() = 0;
    virtual void HandleInput(const platform::InputMessage& message) = 0;

    // The message loop; returns the exit code (0) once the window has been closed.
    int Run();

    std::unique_ptr<platform::VideoSystem> video;
    std::unique_ptr<platform::Window> window;
    int width = 0;  // wanted client size, from the usable area
    int height = 0;
    std::string title = "Dorvik Midi Player";
    std::unique_ptr<platform::WindowRenderTarget> target;
    std::unique_ptr<GraphicsDevice> device;  // its target is `target`
    std::unique_ptr<platform::SdlDialogs> dialogs;
    std::unique_ptr<FrameClient> client;
    float lastFrameTime = 0;  // frame clock's total seconds at the last drawn frame
    float now = 0;            // ... at this pass of the loop
    float frameDelta = 0;     // their difference
    std::unique_ptr<FrameTimer> frameClock;

    // For tests and screenshots: after this many frames the loop ends as if the window had been
    // closed (0: never), and the scene of that frame (of the first, without a limit) is saved
    // as a PNG to screenshotPath when it is set.
    uint64_t exitAfterFrames = 0;
    std::string screenshotPath;
    uint64_t framesDrawn = 0;

  protected:
    // The client for this application, made once the window and the device exist.
    virtual std::unique_ptr<FrameClient> CreateClient() = 0;

    // Makes the scene the window's client size if that changed, at the scale for it, and gives
    // the device the new size in design units. Called before every frame.
    void FollowWindowSize();

  private:
    void AfterFrame();

    uint64_t framesPresented = 0;  // the target's count after the last frame
    uint64_t unchangedFrames = 0;  // frames in a row that changed nothing on the screen
};
