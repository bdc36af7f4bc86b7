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

// The name a save dialog proposes: `name` with `.ext` added, unless it ends in it already (in any
// case), so that a caller's "Song.mid" is never offered as "Song.mid.mid".
std::string ProposedSaveName(const std::string& name, const std::string& ext);

// The desktop's recently used files (GTK's list, which its file managers and "Recent" places read):
// `path` added as used by this program, and the files this program used, most recent first, that
// still exist. Both do nothing without a display. The list is written out by the toolkit's loop a
// moment after a file is added: with `wait`, AddToRecentFiles turns that loop until it has been
// (some 0.4 s); without, it returns at once, and TurnRecentFiles, called often, turns the loop
// without waiting until then, or FinishRecentFiles waits for what is left of that time.
void AddToRecentFiles(const std::string& path, bool wait = true);
void TurnRecentFiles();
void FinishRecentFiles();
std::vector<std::string> RecentFilesOfThisProgram(size_t most);

// "*.ogg" -> "ogg"; "" when the pattern has no extension.
std::string PatternExtension(const std::string& pattern);

// "*.mid" becomes "*.[mM][iI][dD]"; characters without case stay as they are.
std::string CaseInsensitivePattern(const std::string& pattern);

}  // namespace platform
