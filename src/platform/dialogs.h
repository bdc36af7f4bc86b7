// Modal dialogs the program shows on top of its window. The window build backs this with the
// desktop's own dialogs; tests and the command-line tool use the forms below.
#pragma once

#include <string>
#include <vector>

namespace platform {

class Dialogs {
  public:
    virtual ~Dialogs() = default;

    // A modal error box with the error icon and one OK button. Returns when the user has
    // dismissed it; the result is the button pressed (kOk).
    virtual int ShowError(const std::string& text, const std::string& caption) = 0;

    static constexpr int kOk = 1;
};

// Writes each error box to standard error as "caption: text"; for programs without a window.
class ConsoleDialogs final : public Dialogs {
  public:
    int ShowError(const std::string& text, const std::string& caption) override;
};

// Records what would have been shown, for tests.
class ScriptedDialogs final : public Dialogs {
  public:
    struct ErrorBox {
        std::string text;
        std::string caption;
    };

    int ShowError(const std::string& text, const std::string& caption) override {
        errorBoxes.push_back({text, caption});
        return kOk;
    }

    std::vector<ErrorBox> errorBoxes;  // in the order they were shown
};

}  // namespace platform
