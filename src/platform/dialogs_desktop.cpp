#include "platform/dialogs_desktop.h"

#include <SDL.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/file_chooser.h"

namespace platform {

DialogOwner DesktopDialogs::Owner() {
    return {parent_, [this] { return WhileOpen(); }};
}

int DesktopDialogs::ShowError(const std::string& text, const std::string& caption) {
    // The desktop's own box where GTK works: it runs in this process, so the window goes on being
    // painted under it and it goes away with the program. SDL's box is the fallback.
    if (!ShowErrorBox(Owner(), text, caption)) return SdlDialogs::ShowError(text, caption);
    return kOk;
}

bool DesktopDialogs::OpenFile(const std::string& title, const std::string& filterName,
                              const std::vector<std::string>& patterns, std::string& path) {
    return ChooseFileToOpen(Owner(), title, filterName, patterns, path);
}

bool DesktopDialogs::SaveFile(const SaveRequest& request, SaveAnswer& answer) {
    return ChooseFileToSave(Owner(), request, answer);
}

DesktopDialogs::~DesktopDialogs() {
    // A file added just before the window closes is still written to the desktop's list.
    FinishRecentFiles();
}

void DesktopDialogs::AddRecentFile(const std::string& path) {
    // Written out over the next frames: a frame is not held up for the toolkit's loop.
    AddToRecentFiles(path, false);
}

void DesktopDialogs::Idle() {
    TurnRecentFiles();
}

std::vector<std::string> DesktopDialogs::RecentFiles(size_t most) {
    return RecentFilesOfThisProgram(most);
}

bool DesktopDialogs::OpenUrl(const std::string& url) {
    // SDL hands the address to xdg-open without waiting for it, and reports success even where
    // there is no such program; so the program is looked for first, to tell the user otherwise.
    const char* path = std::getenv("PATH");
    bool found = false;
    for (std::string rest = path != nullptr ? path : "/usr/bin:/bin"; !found && !rest.empty();) {
        const size_t colon = rest.find(':');
        const std::string folder = rest.substr(0, colon);
        rest = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
        found = !folder.empty() && access((folder + "/xdg-open").c_str(), X_OK) == 0;
    }
    return found && SDL_OpenURL(url.c_str()) == 0;
}

}  // namespace platform
