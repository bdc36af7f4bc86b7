#include "platform/dialogs_sdl.h"

#include <SDL.h>

#include <cstdio>

namespace platform {

int SdlDialogs::ShowError(const std::string& text, const std::string& caption) {
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), parent_) != 0) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    return kOk;
}

}  // namespace platform
