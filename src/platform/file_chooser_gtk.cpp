#include <SDL.h>
#include <SDL_syswm.h>
#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/file_chooser.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace platform {

namespace {

// Lets GTK finish tearing a dialog down; without this the closed dialog stays on screen while the
// program goes on with the chosen file.
void DrainGtkEvents() {
    while (gtk_events_pending()) gtk_main_iteration();
}

// Keeps a dialog above its owner's window, as a dialog of that window. Only where both live on
// the same X display; elsewhere the dialog is shown on its own.
void StayAbove(GtkWidget* dialog, SDL_Window* window) {
#ifdef GDK_WINDOWING_X11
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE ||
        info.subsystem != SDL_SYSWM_X11)
        return;
    GdkDisplay* display = gtk_widget_get_display(dialog);
    if (!GDK_IS_X11_DISPLAY(display)) return;
    GdkWindow* owner = gdk_x11_window_foreign_new_for_display(display, info.info.x11.window);
    if (owner == nullptr) return;
    gtk_widget_realize(dialog);
    if (GdkWindow* own = gtk_widget_get_window(dialog)) gdk_window_set_transient_for(own, owner);
    g_object_unref(owner);  // the dialog's window keeps what it needs of it
#else
    (void)dialog, (void)window;
#endif
}

struct RunningDialog {
    GtkDialog* dialog;
    const DialogOwner* owner;
};

gboolean WhileDialogOpen(gpointer data) {
    const RunningDialog& running = *static_cast<const RunningDialog*>(data);
    if (!running.owner->whileOpen()) gtk_dialog_response(running.dialog, GTK_RESPONSE_DELETE_EVENT);
    return G_SOURCE_CONTINUE;
}

// The file chooser's location entry fails two assertions of its own when a path is typed faster
// than the chooser reads the folders it completes from: a key reaches the entry before it is ready,
// and completion looks into a folder list not yet made. Both are harmless (the dialog goes on
// working) but print a critical message per key. Those two are dropped; any other goes out as usual.
void FilterGtkCriticals(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
    if (message != nullptr && (std::strstr(message, "WIDGET_REALIZED_FOR_EVENT") != nullptr ||
                               std::strstr(message, "gtk_tree_model_get_iter_first") != nullptr))
        return;
    g_log_default_handler(domain, level, message, data);
}

// gtk_dialog_run, with the owner's call made every 50 ms while the dialog waits for its answer:
// that is soon enough for the window under it to look alive when it is uncovered.
int RunDialog(GtkWidget* dialog, const DialogOwner& owner) {
    constexpr guint kIntervalMs = 50;
    RunningDialog running{GTK_DIALOG(dialog), &owner};
    const guint source = owner.whileOpen ? g_timeout_add(kIntervalMs, WhileDialogOpen, &running) : 0;
    const guint filter = g_log_set_handler("Gtk", G_LOG_LEVEL_CRITICAL, FilterGtkCriticals, nullptr);
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    g_log_remove_handler("Gtk", filter);
    if (source != 0) g_source_remove(source);
    return response;
}

// The save dialog's live state, shared with its signal handler.
struct SaveChooser {
    GtkFileChooser* chooser = nullptr;
    const SaveRequest* request = nullptr;
    std::vector<GtkFileFilter*> filters;  // one per type, in order; owned by the chooser
    bool choiceAdded = false;
    std::string choice;  // the choice's option id, kept while the choice is hidden
};

constexpr const char* kChoiceId = "choice";

std::string OptionId(int index) {
    return std::to_string(index);
}

std::string MoreChoiceId(size_t index) {
    return "more" + std::to_string(index);
}

// Adds a choice with options "0", "1", ... labelled `labels`, set to `initial`.
void AddChoice(GtkFileChooser* chooser, const std::string& id, const std::string& label,
               const std::vector<std::string>& labels, int initial) {
    std::vector<std::string> ids;
    for (size_t i = 0; i < labels.size(); ++i) ids.push_back(OptionId(static_cast<int>(i)));
    std::vector<const char*> idPtrs, labelPtrs;
    for (size_t i = 0; i < ids.size(); ++i) {
        idPtrs.push_back(ids[i].c_str());
        labelPtrs.push_back(labels[i].c_str());
    }
    idPtrs.push_back(nullptr);
    labelPtrs.push_back(nullptr);
    gtk_file_chooser_add_choice(chooser, id.c_str(), label.c_str(), idPtrs.data(), labelPtrs.data());
    gtk_file_chooser_set_choice(chooser, id.c_str(), OptionId(initial).c_str());
}

int TypeIndex(const SaveChooser& s) {
    GtkFileFilter* current = gtk_file_chooser_get_filter(s.chooser);
    for (size_t i = 0; i < s.filters.size(); ++i) {
        if (s.filters[i] == current) return static_cast<int>(i);
    }
    return s.request->initialType;
}

std::string TypeExtension(const SaveChooser& s, int type) {
    const std::vector<SaveRequest::FileType>& types = s.request->types;
    std::string ext;
    if (type >= 0 && static_cast<size_t>(type) < types.size()) ext = PatternExtension(types[type].pattern);
    return ext.empty() ? s.request->defaultExtension : ext;
}

// The extension of a file name, without the dot; "" when it has none.
std::string NameExtension(const std::string& name) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash + 2)) return "";
    return name.substr(dot + 1);
}

bool IsOfferedExtension(const SaveChooser& s, const std::string& ext) {
    for (const SaveRequest::FileType& t : s.request->types) {
        if (strcasecmp(PatternExtension(t.pattern).c_str(), ext.c_str()) == 0) return true;
    }
    return false;
}

void ShowOrHideChoice(SaveChooser& s, int type) {
    const SaveRequest& r = *s.request;
    if (r.choiceLabel.empty() || r.choiceOptions.empty()) return;
    const bool shown = !r.onTypeChange || r.onTypeChange(type);
    if (shown && !s.choiceAdded) {
        AddChoice(s.chooser, kChoiceId, r.choiceLabel, r.choiceOptions, std::atoi(s.choice.c_str()));
        s.choiceAdded = true;
    } else if (!shown && s.choiceAdded) {
        // GTK has no way to hide a choice, so it is taken away and its value kept for its return.
        if (const char* value = gtk_file_chooser_get_choice(s.chooser, kChoiceId)) s.choice = value;
        gtk_file_chooser_remove_choice(s.chooser, kChoiceId);
        s.choiceAdded = false;
    }
}

void OnFilterChanged(GObject* /*object*/, GParamSpec* /*spec*/, gpointer data) {
    SaveChooser& s = *static_cast<SaveChooser*>(data);
    const int type = TypeIndex(s);
    ShowOrHideChoice(s, type);
    // Give the proposed name the new type's extension, unless the user typed one of their own.
    if (gchar* current = gtk_file_chooser_get_current_name(s.chooser)) {
        std::string name = current;
        g_free(current);
        const std::string ext = NameExtension(name);
        const std::string wanted = TypeExtension(s, type);
        if (!ext.empty() && !wanted.empty() && IsOfferedExtension(s, ext) && ext != wanted) {
            name.replace(name.size() - ext.size(), ext.size(), wanted);
            gtk_file_chooser_set_current_name(s.chooser, name.c_str());
        }
    }
}

bool ConfirmReplace(GtkWidget* parent, const DialogOwner& owner, const std::string& path) {
    const char* slash = std::strrchr(path.c_str(), '/');
    GtkWidget* box = gtk_message_dialog_new(
        GTK_WINDOW(parent), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO,
        "A file named \"%s\" already exists. Replace it?", slash != nullptr ? slash + 1 : path.c_str());
    const bool yes = RunDialog(box, owner) == GTK_RESPONSE_YES;
    gtk_widget_destroy(box);
    return yes;
}

}  // namespace

std::string ProposedSaveName(const std::string& name, const std::string& ext) {
    if (name.empty() || ext.empty()) return name;
    if (strcasecmp(NameExtension(name).c_str(), ext.c_str()) == 0) return name;
    return name + "." + ext;
}

namespace {

// Until when (GLib's monotonic microseconds) the loop must still be turned for the recent list to
// be written out; 0 when nothing is left to write.
gint64 recentWrittenBy = 0;

}  // namespace

void AddToRecentFiles(const std::string& path, bool wait) {
    if (path.empty() || !EnsureGtk()) return;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri == nullptr) return;
    GtkRecentManager* recent = gtk_recent_manager_get_default();
    (void)gtk_recent_manager_add_item(recent, uri);
    g_free(uri);
    // The list is written out a moment later from the main loop, which this program runs only while
    // a dialog is open: the loop is turned until it has been (a quarter of a second, and a little).
    recentWrittenBy = g_get_monotonic_time() + 400000;
    if (wait) FinishRecentFiles();
}

void TurnRecentFiles() {
    if (recentWrittenBy == 0) return;
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (g_get_monotonic_time() >= recentWrittenBy) recentWrittenBy = 0;
}

void FinishRecentFiles() {
    while (recentWrittenBy != 0) {
        TurnRecentFiles();
        if (recentWrittenBy != 0) g_usleep(10000);
    }
}

std::vector<std::string> RecentFilesOfThisProgram(size_t most) {
    std::vector<std::string> paths;
    if (most == 0 || !EnsureGtk()) return paths;
    GList* items = gtk_recent_manager_get_items(gtk_recent_manager_get_default());
    struct Item {
        time_t used;
        std::string path;
    };
    std::vector<Item> mine;
    const char* app = g_get_application_name();
    for (GList* i = items; i != nullptr; i = i->next) {
        auto* info = static_cast<GtkRecentInfo*>(i->data);
        if (app != nullptr && gtk_recent_info_has_application(info, app) && gtk_recent_info_is_local(info) &&
            gtk_recent_info_exists(info)) {
            if (gchar* file = g_filename_from_uri(gtk_recent_info_get_uri(info), nullptr, nullptr)) {
                mine.push_back({gtk_recent_info_get_modified(info), file});
                g_free(file);
            }
        }
        gtk_recent_info_unref(info);
    }
    g_list_free(items);
    std::stable_sort(mine.begin(), mine.end(), [](const Item& a, const Item& b) { return a.used > b.used; });
    for (size_t i = 0; i < mine.size() && paths.size() < most; ++i) paths.push_back(mine[i].path);
    return paths;
}

std::string PatternExtension(const std::string& pattern) {
    const size_t dot = pattern.find_last_of('.');
    if (dot == std::string::npos) return "";
    return pattern.substr(dot + 1);
}

bool ChooseFileToSave(const DialogOwner& owner, const SaveRequest& request, SaveAnswer& answer) {
    if (!EnsureGtk()) return false;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        request.title.empty() ? "Save As" : request.title.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_SAVE,
        "_Cancel", GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    SaveChooser s;
    s.chooser = GTK_FILE_CHOOSER(dialog);
    s.request = &request;
    s.choice = OptionId(request.initialChoice);
    gtk_file_chooser_set_local_only(s.chooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(s.chooser, TRUE);
    // A second export usually goes where the first went: the dialog opens in that folder.
    static std::string lastFolder;
    if (!lastFolder.empty()) gtk_file_chooser_set_current_folder(s.chooser, lastFolder.c_str());
    for (const SaveRequest::FileType& t : request.types) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, t.name.c_str());
        gtk_file_filter_add_pattern(filter, CaseInsensitivePattern(t.pattern).c_str());
        gtk_file_chooser_add_filter(s.chooser, filter);  // the chooser takes the filter
        s.filters.push_back(filter);
    }
    const int initial = request.initialType;
    if (initial >= 0 && static_cast<size_t>(initial) < s.filters.size()) {
        gtk_file_chooser_set_filter(s.chooser, s.filters[initial]);
    }
    if (!request.folder.empty()) gtk_file_chooser_set_current_folder(s.chooser, request.folder.c_str());
    gtk_file_chooser_set_current_name(s.chooser,
                                      ProposedSaveName(request.fileName, TypeExtension(s, initial)).c_str());
    ShowOrHideChoice(s, initial);
    for (size_t i = 0; i < request.moreChoices.size(); ++i) {
        const SaveRequest::Choice& c = request.moreChoices[i];
        if (!c.options.empty()) AddChoice(s.chooser, MoreChoiceId(i), c.label, c.options, c.initial);
    }
    g_signal_connect(dialog, "notify::filter", G_CALLBACK(OnFilterChanged), &s);
    StayAbove(dialog, owner.window);

    bool chosen = false;
    while (!chosen && RunDialog(dialog, owner) == GTK_RESPONSE_ACCEPT) {
        gchar* file = gtk_file_chooser_get_filename(s.chooser);
        if (file == nullptr) continue;
        std::string path = file;
        g_free(file);
        const int type = TypeIndex(s);
        // The dialog's own question covered the name as typed; a name completed here needs its own.
        if (NameExtension(path).empty()) {
            const std::string typeExt = TypeExtension(s, type);
            if (!typeExt.empty()) {
                path += "." + typeExt;
                struct stat info {};
                if (::stat(path.c_str(), &info) == 0 && !ConfirmReplace(dialog, owner, path)) continue;
            }
        }
        if (s.choiceAdded) {
            if (const char* value = gtk_file_chooser_get_choice(s.chooser, kChoiceId)) s.choice = value;
        }
        answer.path = path;
        lastFolder = path.substr(0, path.find_last_of('/') + 1);
        answer.type = type;
        answer.choice = std::atoi(s.choice.c_str());
        answer.moreChoices.clear();
        for (size_t i = 0; i < request.moreChoices.size(); ++i) {
            const char* value = request.moreChoices[i].options.empty()
                                    ? nullptr
                                    : gtk_file_chooser_get_choice(s.chooser, MoreChoiceId(i).c_str());
            answer.moreChoices.push_back(value != nullptr ? std::atoi(value)
                                                          : request.moreChoices[i].initial);
        }
        chosen = true;
    }
    g_signal_handlers_disconnect_by_data(dialog, &s);
    gtk_widget_destroy(dialog);
    DrainGtkEvents();
    return chosen;
}

bool EnsureGtk() {
    static const bool ready = [] {
        // Without a session bus GTK cannot store its chooser settings and warns about it on every
        // frame of the dialog; keeping them in memory for the run is all we lose.
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) setenv("GSETTINGS_BACKEND", "memory", 0);
        // The recently used files are kept under the program's name, as its desktop entry calls it.
        if (g_get_prgname() == nullptr) g_set_prgname("dorvik-midi-player");
        return gtk_init_check(nullptr, nullptr) != FALSE;
    }();
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

bool ShowErrorBox(const DialogOwner& owner, const std::string& text, const std::string& caption) {
    if (!EnsureGtk()) return false;
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK,
                                            "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    StayAbove(box, owner.window);
    RunDialog(box, owner);
    gtk_widget_destroy(box);
    DrainGtkEvents();
    return true;
}

bool ChooseFileToOpen(const DialogOwner& owner, const std::string& title, const std::string& filterName,
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
    // The next file is usually beside the last one: the dialog opens where the caller says (the
    // folder kept from the last run), else where the last choice was in this one.
    static std::string lastFolder;
    GStatBuf info;
    const bool folderGiven = !path.empty() && g_stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (folderGiven) {
        gtk_file_chooser_set_current_folder(chooser, path.c_str());
    } else if (!lastFolder.empty()) {
        gtk_file_chooser_set_current_folder(chooser, lastFolder.c_str());
    }

    StayAbove(dialog, owner.window);

    bool chosen = false;
    if (RunDialog(dialog, owner) == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = gtk_file_chooser_get_filename(chooser)) {
            path = name;
            g_free(name);
            chosen = true;
            if (gchar* folder = gtk_file_chooser_get_current_folder(chooser)) {
                lastFolder = folder;
                g_free(folder);
            }
        }
    }
    gtk_widget_destroy(dialog);
    DrainGtkEvents();
    return chosen;
}

}  // namespace platform
