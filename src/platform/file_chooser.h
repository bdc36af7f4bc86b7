// The desktop's file chooser (GTK 3). The window build reaches it through the dialogs layer.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Makes GTK usable from a program whose window is not GTK's; false when there is no display.
bool EnsureGtk();

// A modal open dialog with one filter. Patterns such as "*.mid" match without regard to case, since
// Linux names are case-sensitive and songs arrive as .MID as often as .mid.
bool ChooseFileToOpen(const std::string& title, const std::string& filterName,
                      const std::vector<std::string>& patterns, std::string& path);

// "*.mid" becomes "*.[mM][iI][dD]"; characters without case stay as they are.
std::string CaseInsensitivePattern(const std::string& pattern);

}  // namespace platform
