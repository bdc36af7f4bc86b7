#include "app/session_state.h"

#include <cstdio>

#include "platform/dialogs.h"
#include "resources/strings.h"

void Report(SessionState& state, const std::string& text, const char* caption) {
    if (caption == nullptr) caption = res::LoadString(res::IdsError);
    if (state.dialogs == nullptr) {
        std::fprintf(stderr, "%s: %s\n", caption, text.c_str());
        return;
    }
    state.dialogs->ShowError(text, caption);
}

void Report(SessionState& state, const Failure& failure, const char* caption) {
    if (failure.Ok() || failure.Cancelled()) return;
    Report(state, failure.text, caption);
}

void ShowErrorBox(SessionState& state, res::StringId textId, res::StringId captionId) {
    Report(state, std::string(res::LoadString(textId)), res::LoadString(captionId));
}
