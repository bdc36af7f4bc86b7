// Message boxes of the window build: SDL's own modal box over the main window, and what every
// dialog of the window build does for that window while it is open.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "platform/dialogs.h"

struct SDL_Window;

namespace platform {

class SdlDialogs : public Dialogs {
  public:
    explicit SdlDialogs(SDL_Window* parent = nullptr) : parent_(parent) {}

    // When no box can be shown (no display any more), the message goes to standard error so
    // that it is never lost.
    int ShowError(const std::string& text, const std::string& caption) override;

    // The window's owner paints it again with this while a dialog is open over it, since its own
    // loop is held up until the dialog closes. Set once, before any dialog opens.
    void KeepPaintingWith(std::function<void()> paint) { paint_ = std::move(paint); }

  protected:
    // Called every few hundredths of a second while a dialog of ours is open: takes the window's
    // messages, drops the input among them (the window is not to be used meanwhile, and clicks
    // made on it must not act once the dialog closes), and paints it again. Releases of keys and
    // buttons stay queued, so that a press made before the dialog opened is completed. False when
    // the program has been asked to end (the window closed, a quit signal): the dialog then closes
    // as if cancelled, and the quit stays queued for the message loop.
    bool WhileOpen();

    SDL_Window* parent_;  // not owned; the box is modal to it

  private:
    std::function<void()> paint_;
};

}  // namespace platform
