#include <gtk/gtk.h>

#include <cctype>

#include "platform/file_chooser.h"

namespace platform {

namespace {

// Lets GTK finish tearing a dialog down; without this the closed dialog stays on screen while the
// program goes on with the chosen file.
void DrainGtkEvents() {
    while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace

bool EnsureGtk() {
    static const bool ready = gtk_init_check(nullptr, nullptr) != FALSE;
    return ready;
}

std::string CaseInsensitivePattern(const std::string& pattern) {
    std::string out;
    for (const char c : pattern) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalpha(u)) {
            out += '[';
            out += static_cast<char>(std::tolower(u));
            out += static_cast<char>(std::toupper(u));
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

bool ChooseFileToOpen(const std::string& title, const std::string& filterName,
                      const std::vector<std::string>& patterns, std::string& path) {
    if (!EnsureGtk()) return false;
    GtkWidget* dialog =
        gtk_file_chooser_dialog_new(title.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                    GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, filterName.c_str());
    for (const std::string& p : patterns)
        gtk_file_filter_add_pattern(filter, CaseInsensitivePattern(p).c_str());
    gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the filter

    bool chosen = false;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = gtk_file_chooser_get_filename(chooser)) {
            path = name;
            g_free(name);
            chosen = true;
        }
    }
    gtk_widget_destroy(dialog);
    DrainGtkEvents();
    return chosen;
}

}  // namespace platform
