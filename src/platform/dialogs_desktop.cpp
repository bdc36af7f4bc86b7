#include "platform/dialogs_desktop.h"

#include <SDL.h>

#include "platform/file_chooser.h"

namespace platform {

bool DesktopDialogs::OpenFile(const std::string& title, const std::string& filterName,
                              const std::vector<std::string>& patterns, std::string& path) {
    return ChooseFileToOpen(title, filterName, patterns, path);
}

bool DesktopDialogs::SaveFile(const SaveRequest& request, SaveAnswer& answer) {
    return ChooseFileToSave(request, answer);
}

bool DesktopDialogs::OpenUrl(const std::string& url) {
    return SDL_OpenURL(url.c_str()) == 0;
}

}  // namespace platform
