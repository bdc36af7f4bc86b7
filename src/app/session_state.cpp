#include "app/session_state.h"

#include <cstdio>

#include "platform/dialogs.h"
#include "resources/strings.h"

int ShowErrorBox(SessionState& state, int textId, int captionId) {
    const char* text = res::LoadString(textId);
    const char* caption = res::LoadString(captionId);
    if (state.dialogs == nullptr) {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        return platform::Dialogs::kOk;
    }
    return state.dialogs->ShowError(text, caption);
}
