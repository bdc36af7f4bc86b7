#include <cstdio>

#include "platform/dialogs.h"

namespace platform {

int ConsoleDialogs::ShowError(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return kOk;
}

}  // namespace platform
