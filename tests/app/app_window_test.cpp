// The application on a virtual display: the window opens with its caption and size, frames show
// the three panels, input reaches the client before the next frame, and closing the window ends
// the loop with code 0 and writes the settings file. The same is checked of the program itself,
// together with its exit code 1 and untouched settings when there is no display at all.
#include <SDL.h>
#include <SDL_image.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/player_client.h"
#include "app/session_state.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A settings folder of the test's own, named in XDG_CONFIG_HOME while the test runs.
struct ConfigHome {
    ConfigHome() {
        root = fs::temp_directory_path() / ("dorvik-app-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
        setenv("XDG_CONFIG_HOME", root.c_str(), 1);
        setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    }
    ~ConfigHome() {
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_CACHE_HOME");
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    [[nodiscard]] fs::path SettingsFile() const { return root / "Dorvik Midi Player" / "settings.ini"; }
    fs::path root;
};

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

uint32_t PixelOf(SDL_Surface* argb, int x, int y) {
    return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(argb->pixels) + y * argb->pitch)[x];
}

// Checks a saved frame of the window: its size and the three panels at the starting split, probed
// where no widget is drawn.
void ExpectLayoutScreenshot(const fs::path& path, int width, int height) {
    SDL_Surface* loaded = IMG_Load(path.c_str());
    ASSERT_NE(loaded, nullptr) << path << ": " << IMG_GetError();
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(loaded);
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb->w, width);
    EXPECT_EQ(argb->h, height);
    EXPECT_EQ(PixelOf(argb, 10, 10), 0xFF000000u) << "notes view";
    EXPECT_EQ(PixelOf(argb, 10, height - 10), 0xFF051020u) << "time bar";
    EXPECT_EQ(PixelOf(argb, width - 5, 120), 0xFF102040u)
        << "control panel, between the link and the buttons";
    SDL_FreeSurface(argb);
}

TEST(PlayerApp, OpensDrawsClosesAndWritesNoSettingsItDidNotChange) {
    ConfigHome home;
    const fs::path shot = home.root / "frame.png";
    {
        PlayerApp app;
        app.exitAfterFrames = 3;
        app.screenshotPath = shot.string();
        ASSERT_TRUE(app.Initialise());
        EXPECT_EQ(app.window->Caption(), "Dorvik Midi Player 1.0");
        // The virtual screen is 1920 x 1080 without a task bar.
        EXPECT_EQ(app.width, 1536);
        EXPECT_EQ(app.height, 864);
        EXPECT_EQ(app.device->clientWidth, 1536);
        EXPECT_EQ(app.device->clientHeight, 864);
        EXPECT_EQ(app.Run(), 0);
        EXPECT_EQ(app.framesDrawn, 3u);
    }
    EXPECT_FALSE(fs::exists(home.SettingsFile())) << "nothing was chosen, so nothing is written";
    ExpectLayoutScreenshot(shot, 1536, 864);
}

// A second window that closes never writes back the older SoundFont it read at its start: the
// choice another window made meanwhile survives.
TEST(PlayerApp, ClosingAWindowKeepsAnotherWindowsChoice) {
    ConfigHome home;
    fs::create_directories(home.SettingsFile().parent_path());
    std::ofstream(home.SettingsFile()) << "[Soundfont] = /music/Grand Piano.sf2\n";
    {
        PlayerApp app;
        app.exitAfterFrames = 1;
        ASSERT_TRUE(app.Initialise());
        // Meanwhile the first window loads another SoundFont.
        std::ofstream(home.SettingsFile()) << "[Soundfont] = /music/Harpsichord.sf2\n";
        EXPECT_EQ(app.Run(), 0);
    }
    EXPECT_EQ(ReadText(home.SettingsFile()), "[Soundfont] = /music/Harpsichord.sf2\n");
}

// A client that records what reaches it, in order; "frame" marks each Frame().
class RecordingClient final : public FrameClient {
  public:
    void Frame() override { log.push_back("frame"); }
    void OnInput(const platform::InputMessage& m) override {
        switch (m.kind) {
            case platform::InputKind::KeyDown:
                log.push_back("down " + std::to_string(m.keyCode));
                break;
            case platform::InputKind::KeyUp:
                log.push_back("up " + std::to_string(m.keyCode));
                break;
            case platform::InputKind::MouseMove:
                ++moves;
                break;
            case platform::InputKind::LeftButtonDown:
                log.push_back("press " + std::to_string(m.point.x) + "," + std::to_string(m.point.y));
                break;
            case platform::InputKind::LeftButtonUp:
                log.push_back("release");
                break;
            case platform::InputKind::UserMessage:
                log.push_back("user");
                break;
            default:
                log.push_back("unexpected");
                break;
        }
        if (m.kind == platform::InputKind::MouseMove && moves == 200) log.push_back("200 moves");
    }

    std::vector<std::string> log;
    int moves = 0;
};

class RecordingApp final : public PlayerApp {
  public:
    RecordingClient* recorder = nullptr;

  protected:
    std::unique_ptr<FrameClient> CreateClient() override {
        auto client = std::make_unique<RecordingClient>();
        recorder = client.get();
        return client;
    }
};

TEST(PlayerApp, QueuedInputIsHandedOverBeforeTheNextFrame) {
    ConfigHome home;
    RecordingApp app;
    app.exitAfterFrames = 2;
    ASSERT_TRUE(app.Initialise());
    ASSERT_NE(app.recorder, nullptr);

    // A burst of mouse movement and some keys, all queued before the loop starts.
    auto push = [](SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); };
    for (int i = 0; i < 200; ++i) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.x = i;
        e.motion.y = i;
        push(e);
    }
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.sym = SDLK_SPACE;
    push(key);
    key.type = SDL_KEYUP;
    push(key);
    SDL_Event button{};
    button.type = SDL_MOUSEBUTTONDOWN;
    button.button.button = SDL_BUTTON_LEFT;
    button.button.x = 40;
    button.button.y = 50;
    push(button);
    button.type = SDL_MOUSEBUTTONUP;
    push(button);
    SDL_Event resized{};  // not input: the client never sees it
    resized.type = SDL_WINDOWEVENT;
    resized.window.event = SDL_WINDOWEVENT_RESIZED;
    push(resized);
    app.window->PostUserMessage();

    EXPECT_EQ(app.Run(), 0);
    const std::vector<std::string> want = {"200 moves", "down 32", "up 32", "press 40,50",
                                           "release",   "user",    "frame", "frame"};
    // Moves the display itself may add (the pointer entering the window) are counted, not logged.
    EXPECT_EQ(app.recorder->log, want);
}

// Ends the loop once the player has a song loaded and rendered.
class UntilSongReadyApp final : public PlayerApp {
  public:
    void RenderFrame() override {
        PlayerApp::RenderFrame();
        const SessionState& s = static_cast<PlayerClient&>(*client).controller.shared;
        if (!ready && s.session.Ready()) {
            ready = true;
            window->RequestQuit();
        }
    }
    bool ready = false;
};

TEST(PlayerApp, LoadsASongDroppedOnTheWindow) {
    constexpr const char* kSmallSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!fs::exists(kSmallSoundFont)) GTEST_SKIP() << kSmallSoundFont << " is not installed";
    ConfigHome home;
    fs::create_directories(home.SettingsFile().parent_path());
    std::ofstream(home.SettingsFile()) << "[Soundfont] = " << kSmallSoundFont << "\n";
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // A file manager drops "file:///.../dropped%20song.mid"; SDL hands over the decoded path.
    const fs::path song = home.root / "dropped song.mid";
    fs::copy_file(fs::path(std::getenv("DORVIK_SOURCE_DIR")) / "examples" / "demo_song.mid", song);

    UntilSongReadyApp app;
    app.exitAfterFrames = 3000;  // about a minute at most
    ASSERT_TRUE(app.Initialise());
    SDL_Event drop{};
    drop.type = SDL_DROPFILE;
    drop.drop.file = SDL_strdup(song.c_str());
    drop.drop.windowID = SDL_GetWindowID(app.window->Handle());
    ASSERT_EQ(SDL_PushEvent(&drop), 1) << SDL_GetError();
    EXPECT_EQ(app.Run(), 0);
    EXPECT_TRUE(app.ready) << "the dropped song did not load within " << app.framesDrawn << " frames";
    const SessionState& state = static_cast<PlayerClient&>(*app.client).controller.shared;
    EXPECT_EQ(state.midiPath, song.string());
    EXPECT_EQ(state.midiName, "dropped song");
}

// ---------------------------------------------------------------------------------------------
// The program itself

struct Outcome {
    int exitCode = -1;
    std::string errors;  // its standard error
};

// Runs the player with the environment changed as given ("NAME=value" sets, "NAME" removes).
Outcome RunPlayer(const std::vector<std::string>& changes, const fs::path& errorFile) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& c : changes) {
            const std::string name = c.substr(0, c.find('='));
            if (entry.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        }
        if (!replaced) env.push_back(entry);
    }
    for (const std::string& c : changes) {
        if (c.find('=') != std::string::npos) env.push_back(c);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::string program = DORVIK_PLAYER_PROGRAM;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    Outcome outcome;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return outcome;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    outcome.errors = ReadText(errorFile);
    return outcome;
}

TEST(PlayerProgram, ExitsWithZeroAfterTheWindowCloses) {
    ConfigHome home;
    const fs::path shot = home.root / "program-frame.png";
    const Outcome run = RunPlayer({"XDG_CONFIG_HOME=" + home.root.string(), "DORVIK_EXIT_AFTER_FRAMES=4",
                                   "DORVIK_SCREENSHOT=" + shot.string()},
                                  home.root / "stderr.txt");
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_FALSE(fs::exists(home.SettingsFile())) << "nothing was chosen, so nothing is written";
    ExpectLayoutScreenshot(shot, 1536, 864);
}

TEST(PlayerProgram, WithoutADisplayExitsWithOneAndLeavesTheSettingsAlone) {
    ConfigHome home;
    const Outcome run = RunPlayer({"XDG_CONFIG_HOME=" + home.root.string(), "DISPLAY", "WAYLAND_DISPLAY",
                                   "SDL_VIDEODRIVER", "DORVIK_EXIT_AFTER_FRAMES=4"},
                                  home.root / "stderr.txt");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("dorvik-midi-player: "), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(home.SettingsFile()));
}

}  // namespace
