#include "settings/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/file_access.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

void SetEnv(const char* name, const std::optional<std::string>& value) {
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

::Settings With(const std::string& path, int volume = kFullVolume) {
    ::Settings settings;
    settings.soundFontPath = path;
    settings.volumePercent = volume;
    return settings;
}

std::optional<std::string> GetEnv(const char* name) {
    const char* value = getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// Each test gets its own configuration and home folders in a fresh temporary folder, so nothing
// touches the real ones; the environment is put back afterwards.
class SettingsFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dorvik-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        SetEnv("XDG_CONFIG_HOME", root + "/config");
        SetEnv("HOME", root + "/home");
    }
    void TearDown() override {
        SetEnv("XDG_CONFIG_HOME", savedXdg);
        SetEnv("HOME", savedHome);
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string Folder() const { return root + "/config/Dorvik Midi Player"; }
    std::string File() const { return Folder() + "/settings.ini"; }
    std::string Default() const { return root + "/default-GM.sf2"; }
    ::Settings Read() const { return ReadSettings(Default()); }
    static bool Write(const std::string& path, int volume = kFullVolume) {
        return WriteSettings(With(path, volume));
    }
    static std::string FileText(const std::string& path, int volume) {
        return "[Soundfont] = " + path + "\n[Volume] = " + std::to_string(volume) + "\n";
    }

    std::optional<std::string> savedXdg = GetEnv("XDG_CONFIG_HOME"), savedHome = GetEnv("HOME");
    std::string root;
};

TEST(SettingsText, ParsingRules) {
    struct Case {
        const char* what;
        std::string text, path, name;  // "/keep.sf2" and "keep": the text was ignored
    } const cases[] = {
        {"only line", "[Soundfont] = /A/B.sf2\n", "/A/B.sf2", "B"},
        {"CRLF, no final line end", "# x\r\n[Soundfont] = /A/B.sf2\r\n[Soundfont] = /C.sf2", "/C.sf2", "C"},
        {"later line overrides", "[Soundfont] = /a.sf2\r\n[Soundfont] = /b/c.sf2\r\n[X] = y\r\n", "/b/c.sf2",
         "c"},
        {"key without brackets", "Soundfont = /A/B.sf2\n", "/keep.sf2", "keep"},
        {"'=' without a blank", "[Soundfont] =/A/B.sf2\n", "/keep.sf2", "keep"},
        {"line shorter than the key", "[Sound] = /A\n", "/keep.sf2", "keep"},
        {"key and separator only", "[Soundfont] = \n", "", ""},
        {"first separator splits", "[Soundfont] = /a = b.sf2\n", "/a = b.sf2", "a = b"},
        {"key after the separator", "x = [Soundfont]\n", "[Soundfont]", "[Soundfont]"},
        {"NUL bytes", "\0[Soundfont] = /a\0b.sf2\n[Sound\0font] = /c.sf2"s, "/a\0b.sf2"s, "a\0b"s},
    };
    for (const Case& c : cases) {
        ::Settings settings = With("/keep.sf2");
        ParseSettingsText(settings, c.text.data(), c.text.size());
        EXPECT_EQ(settings.soundFontPath, c.path) << c.what;
        EXPECT_EQ(FileTitleFromPath(settings.soundFontPath), c.name) << c.what;
    }
}

TEST(SettingsText, VolumeLines) {
    struct Case {
        const char* what;
        std::string text;
        int volume;                      // 42: the text left the volume alone
        std::string path = "/keep.sf2";  // "/keep.sf2": the text left the SoundFont alone
    } const cases[] = {
        {"plain", "[Volume] = 80\n", 80},
        {"blanks, tab, percent sign, CRLF", "  [Volume]\t=  65 % \r\n", 65},
        {"beside the SoundFont", "[Soundfont] = /s.sf2\r\n[Volume] = 35\r\n", 35, "/s.sf2"},
        {"above 100 is clamped", "[Volume] = 150\n", 100},
        {"below 0 is clamped", "[Volume] = -20\n", 0},
        {"more digits than any integer", "[Volume] = 99999999999999999999999999\n", 100},
        {"a fraction rounds", "[Volume] = 72.5\n", 73},
        {"a plus sign", "[Volume] = +7\n", 7},
        {"later line wins", "[Volume] = 10\n[Volume] = 20", 20},
        {"a damaged later line keeps the earlier", "[Volume] = 10\n[Volume] = 2x\n", 10},
        {"words", "[Volume] = loud\n", 42},
        {"a unit after the number", "[Volume] = 80 dB\n", 42},
        {"not a finite number", "[Volume] = nan\n[Volume] = inf\n[Volume] = 1e999\n", 42},
        {"hexadecimal", "[Volume] = 0x40\n", 42},
        {"no value", "[Volume] = \n", 42},
        {"'=' without a blank", "[Volume] =80\n", 42},
        {"key in lower case", "[volume] = 80\n", 42},
        {"text before the key", "x [Volume] = 80\n", 42},
        {"a NUL in the number", "[Volume] = 8\0\n"s, 42},
        // A line the first versions took for the SoundFont is still one, whatever else it holds.
        {"a SoundFont path holding the volume key", "[Soundfont] = /a/[Volume] = 3.sf2\n", 42,
         "/a/[Volume] = 3.sf2"},
        {"a volume line holding the SoundFont key", "[Volume] = [Soundfont]\n", 42, "[Soundfont]"},
    };
    for (const Case& c : cases) {
        ::Settings settings = With("/keep.sf2", 42);
        ParseSettingsText(settings, c.text.data(), c.text.size());
        EXPECT_EQ(settings.volumePercent, c.volume) << c.what;
        EXPECT_EQ(settings.soundFontPath, c.path) << c.what;
    }
}

TEST(SettingsText, FileTitleFromPath) {
    const std::pair<std::string, std::string> cases[] = {
        {"/Sounds/Grand Piano.sf2", "Grand Piano"},
        {"/Sounds/Piano", "Piano"},
        {"/Old.Sounds/Piano", "Piano"},
        {"", ""},
        {"Piano.sf2", "Piano"},
        {"/a/b.tar.gz", "b.tar"},
        {"/Sounds/.sf2", ""},
    };
    for (const auto& [path, title] : cases)
        EXPECT_EQ(FileTitleFromPath(path), title) << "path \"" << path << '"';
}

TEST_F(SettingsFiles, FolderChoiceAndCreation) {
    const std::string fromHome = root + "/home/.config/Dorvik Midi Player";
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {root + "/a/b/", root + "/a/b/Dorvik Midi Player"},  // missing parents, trailing slash
        {"relative/config", fromHome},
        {"", fromHome},
        {std::nullopt, fromHome},
    };
    for (const auto& [xdg, expected] : cases) {
        SetEnv("XDG_CONFIG_HOME", xdg);
        EXPECT_EQ(SettingsFolder(), expected) << "XDG_CONFIG_HOME " << xdg.value_or("unset");
        EXPECT_TRUE(fs::is_directory(expected)) << expected << " not created";
    }
}

TEST_F(SettingsFiles, WriteThenReadRoundTrips) {
    fs::create_directories(Folder());
    WriteFile(File(), "[Soundfont] = /a longer previous path than any of the ones below.sf2\r\n# x\n");
    WriteFile(Default(), "sfbk");
    const std::pair<std::string, int> cases[] = {
        {"/Sounds/Grand Piano.sf2", 100}, {"/home/jürgen/Klänge/Flügel №1.sf2", 35}, {"", 0}};
    for (const auto& [path, volume] : cases) {
        ASSERT_TRUE(Write(path, volume)) << path;
        EXPECT_EQ(ReadFile(File()), FileText(path, volume)) << "the file is replaced whole";
        EXPECT_EQ(Read().soundFontPath, path) << "an existing file wins over the default SoundFont";
        EXPECT_EQ(Read().volumePercent, volume) << path;
    }
    ASSERT_TRUE(Write("/s/Loud.sf2", 250));
    EXPECT_EQ(ReadFile(File()), FileText("/s/Loud.sf2", 100)) << "a volume out of range is written clamped";
    WriteFile(File(), "[Soundfont] = /s/Old.sf2\r\n");
    EXPECT_EQ(Read().volumePercent, kFullVolume) << "a file of the first versions plays at full volume";
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), {}), 1) << "a temporary file was left behind";

    const mode_t mask = umask(022);
    ASSERT_TRUE(Write("/s/Mine.sf2"));
    umask(mask);
    EXPECT_EQ(fs::status(File()).permissions(), fs::perms(0644)) << "the file gets the usual permissions";
}

// The keyboard chosen for playing along and its volume go through the file; a name that would
// read back as something else is left out rather than written.
TEST_F(SettingsFiles, PlayAlongChoicesRoundTrip) {
    struct Case {
        std::string input;
        int keysVolume;
        std::string readInput;  // what reads back
        int readVolume;
    } const cases[] = {
        {"Keystation:Keystation MIDI 1", 60, "Keystation:Keystation MIDI 1", 60},
        {kComputerKeyboardInput, 100, kComputerKeyboardInput, 100},
        {"", 0, "", 0},
        {"Two\nlines", 130, "", 100},
        {"My [Soundfont] pad", 50, "", 50},
    };
    for (const Case& c : cases) {
        ::Settings settings = With("/s/a.sf2", 70);
        settings.midiInput = c.input;
        settings.keysVolumePercent = c.keysVolume;
        ASSERT_TRUE(WriteSettings(settings)) << c.input;
        const ::Settings read = Read();
        EXPECT_EQ(read.midiInput, c.readInput) << c.input;
        EXPECT_EQ(read.keysVolumePercent, c.readVolume) << c.input;
        EXPECT_EQ(read.soundFontPath, "/s/a.sf2") << c.input;
        EXPECT_EQ(read.volumePercent, 70) << c.input;
    }
}

// The memory a song may take, set by hand in the file in the units people write, survives the
// program writing the file for another setting; a value that is no size leaves the default.
TEST_F(SettingsFiles, MemoryLimitIsReadInUnitsAndSurvivesAWrite) {
    const std::pair<std::string, int64_t> cases[] = {
        {"[Memory limit] = 2G\n", int64_t{2} << 30},
        {"[Memory limit] = 1500 MB\r\n", int64_t{1500} << 20},
        {"[Memory limit] = 123456789\n", 123456789},
        {"[Memory limit] = lots\n", 0},
        {"[Memory limit] = 0\n", 0},
        {"[Memory limit] = -5G\n", 0},
        {"[Memory limit] = 3Q\n", 0},
    };
    for (const auto& [text, bytes] : cases) {
        ::Settings settings;
        ParseSettingsText(settings, text.data(), text.size());
        EXPECT_EQ(settings.memoryLimitBytes, bytes) << text;
        settings.volumePercent = 30;
        ASSERT_TRUE(WriteSettings(settings));
        EXPECT_EQ(Read().memoryLimitBytes, bytes) << text;
    }
}

// The voices a render sounds at once, set by hand, survive a write; anything but a whole number in
// the synthesiser's range leaves each render its default.
TEST_F(SettingsFiles, VoiceLimitIsReadInRangeAndSurvivesAWrite) {
    const std::pair<std::string, int> cases[] = {
        {"[Voice limit] = 1024\n", 1024},   {" [Voice limit]  =  1 \r\n", 1},
        {"[Voice limit] = 65535\n", 65535}, {"[Voice limit] = 65536\n", 0},
        {"[Voice limit] = 0\n", 0},         {"[Voice limit] = -8\n", 0},
        {"[Voice limit] = 12k\n", 0},       {"[Voice limit] = 99999999999\n", 0},
    };
    for (const auto& [text, voices] : cases) {
        ::Settings settings;
        ParseSettingsText(settings, text.data(), text.size());
        EXPECT_EQ(settings.voiceLimit, voices) << text;
        settings.volumePercent = 30;
        ASSERT_TRUE(WriteSettings(settings));
        EXPECT_EQ(Read().voiceLimit, voices) << text;
    }
}

// The instrument the song sounds on and its delay; a name that would read back as another line is
// not kept, and a delay out of range is clamped on writing and refused on reading.
TEST_F(SettingsFiles, SoundOutputRoundTrips) {
    struct Case {
        std::string output;
        int delay;
        std::string readOutput;
        int readDelay;
    } const cases[] = {
        {"Digital Piano:Digital Piano MIDI 1", 35, "Digital Piano:Digital Piano MIDI 1", 35},
        {"", 0, "", 0},
        {"Two\nlines", 900, "", kMaxOutputDelayMs},
        {"My [Soundfont] synth", -4, "", 0},
    };
    for (const Case& c : cases) {
        ::Settings settings = With("/s/a.sf2", 70);
        settings.soundOutput = c.output;
        settings.outputDelayMs = c.delay;
        ASSERT_TRUE(WriteSettings(settings)) << c.output;
        const ::Settings read = Read();
        EXPECT_EQ(read.soundOutput, c.readOutput) << c.output;
        EXPECT_EQ(read.outputDelayMs, c.readDelay) << c.output;
        EXPECT_EQ(read.soundFontPath, "/s/a.sf2") << c.output;
    }
    ::Settings edited;
    const std::string text = "[Output delay] = 40\n[Output delay] = 501\n[Output delay] = -3\n";
    ParseSettingsText(edited, text.data(), text.size());
    EXPECT_EQ(edited.outputDelayMs, 40) << "a delay the player cannot take leaves the one before";
}

// Each kind of file dialog reopens where it was left, in the next run too; a folder whose name would
// read back as another line is not kept, and a kind never used stays unset.
TEST_F(SettingsFiles, DialogFoldersRoundTripByKind) {
    ::Settings settings = With("/s/a.sf2", 70);
    settings.Folder(FolderKind::Midi) = "/home/u/Songs with spaces";
    settings.Folder(FolderKind::Take) = "/home/u/Takes";
    settings.Folder(FolderKind::Export) = "/two\nlines";
    settings.Folder(FolderKind::Video) = "/a [Soundfont] folder";
    ASSERT_TRUE(WriteSettings(settings));
    const ::Settings read = Read();
    EXPECT_EQ(read.Folder(FolderKind::Midi), "/home/u/Songs with spaces");
    EXPECT_EQ(read.Folder(FolderKind::Take), "/home/u/Takes");
    EXPECT_EQ(read.Folder(FolderKind::SoundFont), "");
    EXPECT_EQ(read.Folder(FolderKind::Export), "");
    EXPECT_EQ(read.Folder(FolderKind::Video), "");
    EXPECT_EQ(read.soundFontPath, "/s/a.sf2");
}

TEST_F(SettingsFiles, DefaultSoundFontOnFirstRunOnly) {
    EXPECT_EQ(Read().soundFontPath, "") << "no settings file, no default SoundFont either";
    WriteFile(Default(), "sfbk");
    EXPECT_EQ(Read().soundFontPath, Default());

    WriteFile(File(), std::string(2 << 20, '#') + "\n[Soundfont] = /s/Mine.sf2\n");
    EXPECT_EQ(Read().soundFontPath, "") << "an oversized settings file is unreadable, and not a first run";
}

TEST_F(SettingsFiles, SomethingElseInPlaceOfTheFolderOrTheFile) {
    WriteFile(Default(), "sfbk");
    fs::create_directories(File());  // a folder named settings.ini: unreadable, and the rename fails
    EXPECT_EQ(Read().soundFontPath, "");
    EXPECT_FALSE(Write("/s/Mine.sf2"));
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), {}), 1) << "a temporary file was left behind";

    fs::remove_all(Folder());
    WriteFile(Folder(), "not a folder");
    EXPECT_EQ(SettingsFolder(), Folder()) << "the path comes back even though it is no folder";
    EXPECT_FALSE(Write("/s/Mine.sf2"));
    EXPECT_EQ(Read().soundFontPath, "");
    EXPECT_EQ(ReadFile(Folder()), "not a folder");
}

TEST_F(SettingsFiles, WriteKeepsThePreviousFileOnRefusalAndFollowsLinks) {
    fs::create_directories(Folder());
    WriteFile(File(), "[Soundfont] = /s/Old.sf2\n");
    for (const std::string path : {"/s/two\nlines.sf2", "/s/ends in CR.sf2\r"}) {
        EXPECT_FALSE(Write(path)) << "would read back differently: " << path;
        EXPECT_EQ(ReadFile(File()), "[Soundfont] = /s/Old.sf2\n");
    }
    const std::string linked = root + "/dotfiles-settings.ini";
    fs::rename(File(), linked);
    fs::create_symlink(linked, File());
    ASSERT_TRUE(Write("/s/New.sf2"));
    EXPECT_TRUE(fs::is_symlink(File())) << "a linked settings file is written through the link";
    EXPECT_EQ(ReadFile(linked), FileText("/s/New.sf2", 100));
}

// Each window writes only the setting it changed, over what the file holds now: another window's
// choice made since this one started survives, and so does everything on a first run.
TEST_F(SettingsFiles, UpdateChangesOneSettingAndKeepsTheOther) {
    auto volume = [](int v) { return [v](::Settings& s) { s.volumePercent = v; }; };
    auto soundFont = [](std::string p) { return [p](::Settings& s) { s.soundFontPath = p; }; };
    WriteFile(Default(), "sfbk");
    ASSERT_TRUE(UpdateSettings(volume(30), Default()));
    EXPECT_EQ(ReadFile(File()), FileText(Default(), 30)) << "a first run keeps the default SoundFont";

    WriteFile(File(), "[Soundfont] = /s/Other window's.sf2\n");  // written by a window of the first versions
    ASSERT_TRUE(UpdateSettings(volume(55), Default()));
    EXPECT_EQ(ReadFile(File()), FileText("/s/Other window's.sf2", 55));
    ASSERT_TRUE(UpdateSettings(soundFont("/s/Mine.sf2"), Default()));
    EXPECT_EQ(ReadFile(File()), FileText("/s/Mine.sf2", 55)) << "the volume survives a SoundFont change";

    // A file that is there but cannot be read is not replaced: what it holds would be lost.
    const std::string oversized = std::string(2 << 20, '#') + "\n[Soundfont] = /s/Kept.sf2\n";
    WriteFile(File(), oversized);
    EXPECT_FALSE(UpdateSettings(volume(10), Default()));
    EXPECT_EQ(ReadFile(File()), oversized);
}

// Something in the settings file's place is named with what it is, once, and left as it is.
TEST_F(SettingsFiles, ASettingsFileThatCannotBeUsedIsNamed) {
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
        const char* why;
    };
    const Case cases[] = {
        {"a folder", [](const std::string& p) { fs::create_directory(p); }, "it is a folder"},
        {"a pipe", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, "not a file"},
    };
    WriteFile(File(), "[Volume] = 50\n");
    EXPECT_EQ(SettingsFileProblem(), "") << "a settings file of its own";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(File());
        c.make(File());
        const fs::file_type kind = fs::symlink_status(File()).type();
        const std::string problem = SettingsFileProblem();
        EXPECT_NE(problem.find(File()), std::string::npos) << problem;
        EXPECT_NE(problem.find(c.why), std::string::npos) << problem;
        EXPECT_FALSE(UpdateSettings([](::Settings& s) { s.volumePercent = 10; }, Default()));
        EXPECT_EQ(fs::symlink_status(File()).type(), kind) << "what is there stays";
    }
    fs::remove_all(File());
    EXPECT_EQ(SettingsFileProblem(), "") << "a first run";
}

// Rendered songs go to the cache folder, private to the user, and never into the settings folder;
// a home that cannot be written to falls back to the private runtime folder, so songs still load.
TEST_F(SettingsFiles, CacheFolderIsPrivateAndFallsBack) {
    const std::optional<std::string> savedCache = GetEnv("XDG_CACHE_HOME"),
                                     savedRuntime = GetEnv("XDG_RUNTIME_DIR");
    const std::string runtime = root + "/runtime";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    SetEnv("XDG_RUNTIME_DIR", runtime);
    struct Case {
        const char* what;
        std::optional<std::string> cache, home;
        std::string expected;
    } const cases[] = {
        {"XDG_CACHE_HOME", root + "/cache", root + "/home", root + "/cache/dorvik-midi-player"},
        {"the home's .cache", std::nullopt, root + "/home", root + "/home/.cache/dorvik-midi-player"},
        {"relative XDG_CACHE_HOME", "rel", root + "/home", root + "/home/.cache/dorvik-midi-player"},
        // A file where the home should be: nothing can be made under it, even by root.
        {"home cannot be written", std::nullopt, root + "/file-home", runtime + "/dorvik-midi-player"},
    };
    WriteFile(root + "/file-home", "x");
    for (const Case& c : cases) {
        SetEnv("XDG_CACHE_HOME", c.cache);
        SetEnv("HOME", c.home);
        const std::string folder = CacheFolder();
        EXPECT_EQ(folder, c.expected) << c.what;
        struct stat info {};
        ASSERT_EQ(lstat(folder.c_str(), &info), 0) << c.what;
        EXPECT_TRUE(S_ISDIR(info.st_mode) && (info.st_mode & 077) == 0) << c.what;
        EXPECT_NE(folder.rfind(Folder(), 0), 0u) << "never inside the settings folder";
    }
    SetEnv("XDG_CACHE_HOME", savedCache);
    SetEnv("XDG_RUNTIME_DIR", savedRuntime);
}

// A user with no home and no entry in the user database gets a private folder of their own, and
// never one that another user has prepared for them in /tmp. Run as root, which can become such a
// user in a child process; skipped otherwise.
TEST(SettingsFolderWithoutHome, NeverUsesAFolderAnotherUserPrepared) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    const uid_t uid = 62000 + static_cast<uid_t>(getpid() % 1000);
    const std::string tmpFolder = "/tmp/Dorvik Midi Player " + std::to_string(uid);
    const std::string runtime =
        (fs::temp_directory_path() / ("dorvik-runtime-" + std::to_string(uid))).string();
    const struct {
        const char* name;
        void (*prepare)(const std::string& tmpFolder, const std::string& runtime, uid_t uid);
        bool useRuntime;
        const char* expected;  // "tmp", "runtime" or "" for none
    } cases[] = {
        {"nothing there yet", [](const std::string&, const std::string&, uid_t) {}, false, "tmp"},
        {"made by another user",
         [](const std::string& t, const std::string&, uid_t) { ASSERT_EQ(mkdir(t.c_str(), 0777), 0); }, false,
         ""},
        {"a link to another folder",
         [](const std::string& t, const std::string&, uid_t) { ASSERT_EQ(symlink("/root", t.c_str()), 0); },
         false, ""},
        {"a private runtime folder",
         [](const std::string&, const std::string& r, uid_t u) {
             ASSERT_EQ(mkdir(r.c_str(), 0700) | chown(r.c_str(), u, u), 0);
         },
         true, "runtime"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(tmpFolder);
        fs::remove_all(runtime);
        c.prepare(tmpFolder, runtime, uid);
        int channel[2];
        ASSERT_EQ(pipe(channel), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            unsetenv("HOME");
            unsetenv("XDG_CONFIG_HOME");
            c.useRuntime ? setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
            if (setgid(uid) != 0 || setuid(uid) != 0) _exit(2);
            const std::string folder = SettingsFolder();
            struct stat info {};
            const bool privateFolder =
                folder.empty() || (lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                                   info.st_uid == uid && (info.st_mode & 077) == 0);
            const std::string answer = (privateFolder ? "" : "NOT PRIVATE ") + folder;
            _exit(write(channel[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size()) ? 0
                                                                                                         : 3);
        }
        close(channel[1]);
        char buffer[512] = {};
        const ssize_t got = read(channel[0], buffer, sizeof buffer - 1);
        close(channel[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        const std::string folder(buffer, got > 0 ? static_cast<size_t>(got) : 0);
        const std::string expected = std::string(c.expected) == "tmp"       ? tmpFolder
                                     : std::string(c.expected) == "runtime" ? runtime + "/Dorvik Midi Player"
                                                                            : "";
        EXPECT_EQ(folder, expected);
    }
    fs::remove_all(tmpFolder);
    fs::remove_all(runtime);
}

}  // namespace

// The last video's choices read back as written; a hand-edited file reads value by value, a value
// no export can take leaves that choice as it was, and a change made elsewhere keeps them.
TEST_F(SettingsFiles, VideoChoicesRoundTripAndReadFromAHandEditedFile) {
    fs::create_directories(Folder());
    const VideoChoices chosen{1080, 1920, 30, true, 2, true};
    ::Settings settings = With("/s/Piano.sf2", 80);
    settings.video = chosen;
    ASSERT_TRUE(WriteSettings(settings));
    ASSERT_TRUE(Read().video.has_value());
    EXPECT_EQ(*Read().video, chosen);
    EXPECT_EQ(Read().volumePercent, 80);
    ASSERT_TRUE(UpdateSettings([](::Settings& s) { s.volumePercent = 40; }, Default()));
    ASSERT_TRUE(Read().video.has_value()) << "a volume change dropped the video choices";
    EXPECT_EQ(*Read().video, chosen);

    const struct {
        const char* text;
        VideoChoices expected;
    } cases[] = {
        {"# mine\r\n[VideoSize] = 1600x900\r\n", {1600, 900, 60, false, 0}},
        {"  [VideoSize]  =  3840 x 2160  \n[VideoRate] = 30\n[VideoView] = window\n[VideoQuality] = high\n",
         {3840, 2160, 30, true, 1}},
        {"[VideoSize] = 1601x900\n[VideoRate] = 25\n[VideoView] = tall\n[VideoQuality] = best\n", {}},
        {"[VideoSize] = 9000x900\n[VideoSize] = 0x0\n[VideoSize] = 1280x\n[VideoSize] = 12800x720\n", {}},
        {"[VideoSize] = 640x480\n[VideoSize] = 720x-2\n", {640, 480, 60, false, 0}},
        {"[VideoScore] = shown\n", {1920, 1080, 60, false, 0, true}},
        {"[VideoScore] = yes\n[VideoRate] = 30\n",
         {1920, 1080, 30, false, 0, false}},  // a word it does not know
    };
    for (const auto& c : cases) {
        WriteFile(File(), c.text);
        const ::Settings read = Read();
        ASSERT_TRUE(read.video.has_value()) << c.text;
        EXPECT_EQ(read.video->width, c.expected.width) << c.text;
        EXPECT_EQ(read.video->height, c.expected.height) << c.text;
        EXPECT_EQ(*read.video, c.expected) << c.text;
    }
    WriteFile(File(), "[Soundfont] = /s/Piano.sf2\n");
    EXPECT_FALSE(Read().video.has_value());
    ASSERT_TRUE(Write("/s/Piano.sf2"));
    EXPECT_EQ(ReadFile(File()), FileText("/s/Piano.sf2", 100)) << "no video exported, no video lines";
}
