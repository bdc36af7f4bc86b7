// The dialogs of the window build: the desktop's error box, file chooser and browser, with SDL's
// message box where the desktop's cannot be shown.
#pragma once

#include "platform/dialogs_sdl.h"

namespace platform {

struct DialogOwner;

class DesktopDialogs final : public SdlDialogs {
  public:
    using SdlDialogs::SdlDialogs;
    ~DesktopDialogs() override;

    int ShowError(const std::string& text, const std::string& caption) override;
    bool OpenFile(const std::string& title, const std::string& filterName,
                  const std::vector<std::string>& patterns, std::string& path) override;
    bool SaveFile(const SaveRequest& request, SaveAnswer& answer) override;
    bool OpenUrl(const std::string& url) override;
    void AddRecentFile(const std::string& path) override;
    std::vector<std::string> RecentFiles(size_t most) override;
    void Idle() override;

  private:
    DialogOwner Owner();
};

}  // namespace platform
