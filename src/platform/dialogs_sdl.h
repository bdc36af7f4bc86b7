// Message boxes of the window build: SDL's own modal box over the main window.
#pragma once

#include <string>

#include "platform/dialogs.h"

struct SDL_Window;

namespace platform {

class SdlDialogs : public Dialogs {
  public:
    explicit SdlDialogs(SDL_Window* parent = nullptr) : parent_(parent) {}

    // When no box can be shown (no display any more), the message goes to standard error so
    // that it is never lost.
    int ShowError(const std::string& text, const std::string& caption) override;

  private:
    SDL_Window* parent_;  // not owned; the box is modal to it
};

}  // namespace platform
