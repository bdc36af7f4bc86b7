// Modal dialogs the program shows on top of its window. The window build backs this with the
// desktop's own dialogs; tests and the command-line tool use the forms below.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/save_request.h"

namespace platform {

class Dialogs {
  public:
    virtual ~Dialogs() = default;

    // A modal error box with the error icon and one OK button. Returns when the user has
    // dismissed it; the result is the button pressed (kOk).
    virtual int ShowError(const std::string& text, const std::string& caption) = 0;

    // A modal open-file dialog offering one filter: `filterName` for files whose names match one of
    // `patterns` ("*.mid"). Only existing files can be chosen. A `path` that names a folder on entry
    // is where the dialog opens (otherwise where the last one was left). Returns false when the user
    // cancels or the dialog cannot be shown; otherwise the chosen path is in `path`.
    virtual bool OpenFile(const std::string& title, const std::string& filterName,
                          const std::vector<std::string>& patterns, std::string& path) {
        (void)title, (void)filterName, (void)patterns, (void)path;
        return false;
    }

    // A modal save dialog that asks before it replaces an existing file. Returns false when the
    // user cancels or the dialog cannot be shown; `answer` is then untouched.
    virtual bool SaveFile(const SaveRequest& request, SaveAnswer& answer) {
        (void)request, (void)answer;
        return false;
    }

    // Opens an address (a web page or a local file:// page) in the desktop's browser. Returns
    // whether the desktop accepted it.
    virtual bool OpenUrl(const std::string& url) {
        (void)url;
        return false;
    }

    // Adds a file the user opened to the desktop's list of recently used files, which the desktop's
    // own "Recent" places show too; and that list's files this program opened, the most recent
    // first, at most `most`. Without a desktop there is no such list.
    virtual void AddRecentFile(const std::string& path) { (void)path; }
    // Called between frames: what the desktop finishes a little at a time, such as writing out
    // the list of recent files, without holding a frame up.
    virtual void Idle() {}
    [[nodiscard]] virtual std::vector<std::string> RecentFiles(size_t most) {
        (void)most;
        return {};
    }

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

    struct OpenRequest {
        std::string title;
        std::string filterName;
        std::vector<std::string> patterns;
        std::string folder;  // where it was asked to open
    };

    int ShowError(const std::string& text, const std::string& caption) override {
        errorBoxes.push_back({text, caption});
        return kOk;
    }

    // Answers with the next queued path; an empty answer, or none left, is a cancel.
    bool OpenFile(const std::string& title, const std::string& filterName,
                  const std::vector<std::string>& patterns, std::string& path) override {
        openRequests.push_back({title, filterName, patterns, path});
        if (openAnswers.empty()) return false;
        path = openAnswers.front();
        openAnswers.pop_front();
        return !path.empty();
    }

    // One scripted save dialog: the types the user picks in turn, then the answer, or a cancel.
    struct SaveScript {
        std::vector<int> typeChanges;
        bool accept = true;
        SaveAnswer answer;
    };
    struct SaveRecord {
        SaveRequest request;
        std::vector<bool> choiceShown;  // the type-change verdicts: at opening, then after each change
    };

    // Plays the next script against the request; none left is a cancel.
    bool SaveFile(const SaveRequest& request, SaveAnswer& answer) override {
        SaveRecord record{request, {}};
        auto verdict = [&request](int type) { return !request.onTypeChange || request.onTypeChange(type); };
        record.choiceShown.push_back(verdict(request.initialType));
        if (saveScripts.empty()) {
            saveRequests.push_back(std::move(record));
            return false;
        }
        const SaveScript script = saveScripts.front();
        saveScripts.pop_front();
        for (const int type : script.typeChanges) record.choiceShown.push_back(verdict(type));
        saveRequests.push_back(std::move(record));
        if (script.accept) answer = script.answer;
        return script.accept;
    }

    bool OpenUrl(const std::string& url) override {
        openedUrls.push_back(url);
        return true;
    }

    void AddRecentFile(const std::string& path) override {
        std::erase(recentFiles, path);
        recentFiles.insert(recentFiles.begin(), path);
    }
    std::vector<std::string> RecentFiles(size_t most) override {
        return {recentFiles.begin(),
                recentFiles.begin() + static_cast<long>(std::min(most, recentFiles.size()))};
    }

    std::vector<ErrorBox> errorBoxes;  // in the order they were shown
    std::deque<std::string> openAnswers;
    std::vector<OpenRequest> openRequests;
    std::vector<std::string> openedUrls;
    std::deque<SaveScript> saveScripts;
    std::vector<SaveRecord> saveRequests;
    std::vector<std::string> recentFiles;  // the most recent first
};

}  // namespace platform
