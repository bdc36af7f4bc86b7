// The dialogs of the window build: SDL's message box, the desktop's file chooser and browser.
#pragma once

#include "platform/dialogs_sdl.h"

namespace platform {

class DesktopDialogs final : public SdlDialogs {
  public:
    using SdlDialogs::SdlDialogs;

    bool OpenFile(const std::string& title, const std::string& filterName,
                  const std::vector<std::string>& patterns, std::string& path) override;
    bool SaveFile(const SaveRequest& request, SaveAnswer& answer) override;
    bool OpenUrl(const std::string& url) override;
};

}  // namespace platform
