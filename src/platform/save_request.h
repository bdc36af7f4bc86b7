// What a save dialog is asked and what it answers, as plain data: the rooms that decide what to
// offer build the request and read the answer without the dialogs layer that shows it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// What a save dialog offers: its file types, a choice of levels beside them, any further choices
// and a proposed name.
struct SaveRequest {
    struct FileType {
        std::string name;     // what the type list shows
        std::string pattern;  // "*.ogg"; matched without regard to case
    };
    std::string title;  // empty: the desktop's own title
    std::vector<FileType> types;
    int initialType = 0;                     // index into `types`
    std::string choiceLabel;                 // "Quality"; empty: no choice
    std::vector<std::string> choiceOptions;  // in the order shown
    int initialChoice = 0;                   // index into `choiceOptions`
    std::string fileName;                    // proposed name, without folder; its type's extension added
    std::string folder;                      // where the dialog opens; "": where the last one was left
    std::string defaultExtension;            // "wav", added to a name typed without any
    // Called with the index of the chosen type when the dialog opens and whenever the user picks
    // another type; the choice is offered only while it returns true. Without it, always offered.
    std::function<bool(int type)> onTypeChange;
    // Choices shown after the first one whatever the type ("Size", "Frame rate"), in this order.
    struct Choice {
        std::string label;
        std::vector<std::string> options;
        int initial = 0;  // index into `options`
    };
    std::vector<Choice> moreChoices;
};

struct SaveAnswer {
    std::string path;
    int type = 0;    // index into the request's `types`
    int choice = 0;  // index into the request's `choiceOptions`, as last offered
    // One index per entry of the request's `moreChoices`, in its order. A dialog that could not
    // show them leaves this shorter; the missing ones are taken as their initial options.
    std::vector<int> moreChoices;
};

}  // namespace platform
