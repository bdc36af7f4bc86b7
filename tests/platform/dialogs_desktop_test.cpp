// The desktop's dialogs on a virtual display, over a window of the program's: while one is open,
// the window is shown again wherever it is uncovered, input to it is dropped (releases excepted),
// and a quit closes the dialog as cancelled while staying queued for the message loop.
#include "platform/dialogs_desktop.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include "platform/file_chooser.h"
#include "platform/graphics_sdl.h"
#include "platform/window.h"

namespace platform {
namespace {

std::vector<Uint32> QueuedTypes() {
    std::vector<Uint32> types;
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PollEvent(&e) != 0) {
        if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP || e.type == SDL_MOUSEBUTTONDOWN ||
            e.type == SDL_QUIT)
            types.push_back(e.type);
    }
    return types;
}

TEST(DesktopDialogs, PaintTheWindowUnderThemAndCloseOnQuit) {
    alarm(120);  // a dialog that never closes fails the test rather than holding it up
    // No accessibility bus on the virtual display: GTK's bridge to it would only fail to connect,
    // and keep a few strings from the attempt that the leak checker reports.
    setenv("NO_AT_BRIDGE", "1", 1);
    Made<Window> madeWindow = Window::Create("Owner", 0, 0, 320, 200);
    ASSERT_NE(madeWindow.value, nullptr) << madeWindow.failure.text;
    std::unique_ptr<Window> window = std::move(madeWindow.value);
    window->Show();
    Made<WindowRenderTarget> madeTarget = WindowRenderTarget::Create(window->Handle(), 320, 200);
    ASSERT_NE(madeTarget.value, nullptr) << madeTarget.failure.text;
    std::unique_ptr<WindowRenderTarget> target = std::move(madeTarget.value);
    target->BeginDraw();
    target->Clear({0.2f, 0.4f, 0.6f, 1});
    target->EndDraw();
    QueuedTypes();

    DesktopDialogs dialogs(window->Handle());
    int calls = 0;
    uint64_t presentedAtExpose = 0;
    uint64_t presentedAfterExpose = 0;
    dialogs.KeepPaintingWith([&] {
        ++calls;
        if (calls == 1) {
            // What the window is sent when the dialog moves off it, and a click and a key on it.
            SDL_Event e{};
            e.type = SDL_WINDOWEVENT;
            e.window.event = SDL_WINDOWEVENT_EXPOSED;
            e.window.windowID = SDL_GetWindowID(window->Handle());
            SDL_PushEvent(&e);
            e = SDL_Event{};
            e.type = SDL_MOUSEBUTTONDOWN;
            e.button.button = SDL_BUTTON_LEFT;
            SDL_PushEvent(&e);
            e = SDL_Event{};
            e.type = SDL_KEYDOWN;
            SDL_PushEvent(&e);
            e.type = SDL_KEYUP;
            SDL_PushEvent(&e);
            presentedAtExpose = target->FramesPresented();
        }
        target->PresentAgain();
        if (calls == 1) presentedAfterExpose = target->FramesPresented();
        if (calls == 3) window->RequestQuit();
    });

    const struct {
        const char* name;
        std::function<bool()> open;  // true when the dialog answered as accepted
    } cases[] = {
        {"error box", [&] { return dialogs.ShowError("Something went wrong.", "Error") != Dialogs::kOk; }},
        {"open dialog",
         [&] {
             std::string path;
             return dialogs.OpenFile("Open", "MIDI files", {"*.mid"}, path);
         }},
        {"save dialog",
         [&] {
             SaveRequest request;
             request.types = {{"WAV", "*.wav"}};
             request.fileName = "song";
             SaveAnswer answer;
             return dialogs.SaveFile(request, answer);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls = 0;
        EXPECT_FALSE(c.open());
        EXPECT_EQ(calls, 3);
        EXPECT_EQ(presentedAfterExpose, presentedAtExpose + 1);
        const std::vector<Uint32> left = QueuedTypes();
        EXPECT_EQ(left, (std::vector<Uint32>{SDL_KEYUP, SDL_QUIT}));
    }
    alarm(0);
}

// The file chooser open at the moment, found among GTK's windows; null when none is.
GtkFileChooser* OpenChooser() {
    GList* windows = gtk_window_list_toplevels();
    GtkFileChooser* found = nullptr;
    for (GList* w = windows; w != nullptr; w = w->next) {
        if (GTK_IS_FILE_CHOOSER(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
            found = GTK_FILE_CHOOSER(w->data);
    }
    g_list_free(windows);
    return found;
}

// Every choice of a save request is in the desktop's dialog, set as asked, and comes back as the
// user left it; the quality choice shows only while its type allows.
TEST(DesktopDialogs, SaveDialogCarriesEveryChoice) {
    alarm(120);
    setenv("NO_AT_BRIDGE", "1", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();  // the dialog pumps its messages
    DesktopDialogs dialogs(nullptr);
    SaveRequest request;
    request.types = {{"MP4", "*.mp4"}};
    request.fileName = "song";
    request.choiceLabel = "Quality";
    request.choiceOptions = {"standard", "high", "maximum"};
    request.initialChoice = 1;
    request.moreChoices = {{"Size", {"a", "b", "c", "d"}, 2}, {"Frame rate", {"60 fps", "30 fps"}, 0}};
    const std::string folder = "/tmp/dorvik-dialog-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    std::vector<std::string> seen;
    std::chrono::steady_clock::time_point answered;
    dialogs.KeepPaintingWith([&] {
        GtkFileChooser* chooser = OpenChooser();
        if (chooser == nullptr) return;
        // The answer takes a moment. On a busy machine the chooser can still be loading its folder
        // when the first answer comes and let it go by, so an answer left unheard is given again.
        if (!seen.empty() && std::chrono::steady_clock::now() - answered < std::chrono::seconds(3)) return;
        if (seen.empty()) {
            for (const char* id : {"choice", "more0", "more1"}) {
                const char* value = gtk_file_chooser_get_choice(chooser, id);
                seen.push_back(value != nullptr ? value : "none");
            }
        }
        answered = std::chrono::steady_clock::now();
        gtk_file_chooser_set_choice(chooser, "more0", "3");
        gtk_file_chooser_set_current_folder(chooser, folder.c_str());
        gtk_file_chooser_set_current_name(chooser, "picked.mp4");
        gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    });
    SaveAnswer answer;
    const bool accepted = dialogs.SaveFile(request, answer);
    std::filesystem::remove_all(folder);
    alarm(0);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "0"}));
    EXPECT_EQ(answer.path, folder + "/picked.mp4");
    EXPECT_EQ(answer.choice, 1);
    EXPECT_EQ(answer.moreChoices, (std::vector<int>{3, 0}));
}

// A song opened is in the desktop's own list of recent files, written where the desktop reads it,
// and comes back first among this program's.
// GLib reads the data folder once, at its first use in the process: it is set before any test runs,
// so that no test touches the user's own list.
const std::filesystem::path kRecentHome = [] {
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("dorvik-recent-" + std::to_string(getpid()));
    std::filesystem::create_directories(home / "data");
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    return home;
}();

TEST(DesktopDialogs, RecentFilesAreTheDesktopsOwn) {
    namespace fs = std::filesystem;
    const fs::path& home = kRecentHome;
    setenv("NO_AT_BRIDGE", "1", 1);
    if (!EnsureGtk()) GTEST_SKIP() << "no display";
    std::vector<std::string> songs;
    for (const char* name : {"first song.mid", "second.kar"}) {
        songs.push_back((home / name).string());
        std::FILE* f = std::fopen(songs.back().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        AddToRecentFiles(songs.back());
    }
    const std::vector<std::string> recent = RecentFilesOfThisProgram(10);
    ASSERT_GE(recent.size(), 2u);
    EXPECT_EQ(recent[0], songs[1]) << "the latest first";
    std::string xbel;
    if (std::FILE* f = std::fopen((home / "data" / "recently-used.xbel").c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) xbel.append(buffer, n);
        std::fclose(f);
    }
    EXPECT_NE(xbel.find("second.kar"), std::string::npos) << "written where the desktop reads it";
    fs::remove_all(home);
}

}  // namespace
}  // namespace platform
