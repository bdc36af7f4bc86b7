// The desktop's file chooser (GTK 3). The window build reaches it through the dialogs layer.
#pragma once

#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace platform {

// Makes GTK usable from a program whose window is not GTK's; false when there is no display.
bool EnsureGtk();

// A modal open dialog with one filter. Patterns such as "*.mid" match without regard to case, since
// Linux names are case-sensitive and songs arrive as .MID as often as .mid.
bool ChooseFileToOpen(const std::string& title, const std::string& filterName,
                      const std::vector<std::string>& patterns, std::string& path);

// A modal save dialog: one filter per file type, the request's choice shown while its
// type-change callback allows, and the desktop's own question before an existing file is
// replaced. Picking another type gives the proposed name that type's extension; a name typed
// without an extension gets the chosen type's.
bool ChooseFileToSave(const SaveRequest& request, SaveAnswer& answer);

// "*.ogg" -> "ogg"; "" when the pattern has no extension.
std::string PatternExtension(const std::string& pattern);

// "*.mid" becomes "*.[mM][iI][dD]"; characters without case stay as they are.
std::string CaseInsensitivePattern(const std::string& pattern);

}  // namespace platform
