// The desktop's dialogs (GTK 3): the file chooser and the error box. The window build reaches them
// through the dialogs layer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/dialogs.h"

struct SDL_Window;

namespace platform {

// The window a dialog belongs to. The dialog stays above `window` (where both are on the same X
// display), and `whileOpen` is called every few hundredths of a second until the dialog closes; when
// it returns false the dialog closes as if cancelled.
struct DialogOwner {
    SDL_Window* window = nullptr;
    std::function<bool()> whileOpen;
};

// Makes GTK usable from a program whose window is not GTK's; false when there is no display.
bool EnsureGtk();

// A modal error box with one OK button; false, with nothing shown, when GTK cannot be used.
bool ShowErrorBox(const DialogOwner& owner, const std::string& text, const std::string& caption);

// A modal open dialog with one filter. Patterns such as "*.mid" match without regard to case, since
// Linux names are case-sensitive and songs arrive as .MID as often as .mid.
bool ChooseFileToOpen(const DialogOwner& owner, const std::string& title, const std::string& filterName,
                      const std::vector<std::string>& patterns, std::string& path);

// A modal save dialog: one filter per file type, the request's choice shown while its
// type-change callback allows, and the desktop's own question before an existing file is
// replaced. Picking another type gives the proposed name that type's extension; a name typed
// without an extension gets the chosen type's.
bool ChooseFileToSave(const DialogOwner& owner, const SaveRequest& request, SaveAnswer& answer);

// "*.ogg" -> "ogg"; "" when the pattern has no extension.
std::string PatternExtension(const std::string& pattern);

// "*.mid" becomes "*.[mM][iI][dD]"; characters without case stay as they are.
std::string CaseInsensitivePattern(const std::string& pattern);

}  // namespace platform
