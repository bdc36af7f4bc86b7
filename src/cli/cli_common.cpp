// What both dorvik-midi programs share: the helpers every command uses, and the
// dispatch of a command line to a command.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/dispatch.h"
#include "cli/help_text.h"
#include "core/memory_limit.h"
#include "core/version.h"
#include "core/voice_limit.h"
#include "settings/settings.h"

namespace cli {
namespace {

// The command whose usage errors are being told: their pointer names its help. Empty before a
// command is known.
std::string gCommand;

// The commands that render a song through the SoundFont, and so take a voice limit.
bool RendersSongs(const std::string& command) {
    for (const char* name : {"render", "play", "export", "video", "batch"}) {
        if (command == name) return true;
    }
    return false;
}

// `-h` and `--help` anywhere among a command's arguments ask for its help, except as the value of
// an option whose values are free text.
bool AsksForHelp(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--title" || arg == "--port") {
            ++i;
        } else if (arg == "-h" || arg == "--help") {
            return true;
        } else if (arg == "--") {
            return false;
        }
    }
    return false;
}

// What a command printed must have reached its destination: a full disk or a closed pipe turns
// success into failure.
int CheckedExit(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "dorvik-midi: cannot write the output: %s\n", std::strerror(errno));
        return status == 0 ? 1 : status;
    }
    return status;
}

}  // namespace

int ProcessorsToUse() {
    if (const char* share = std::getenv(kJobProcessorsVariable); share != nullptr) {
        const int n = std::atoi(share);
        if (n >= 1) return n;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

int UsageError(const std::string& problem) {
    // The problem alone, where it can be read, and where the whole story is.
    std::fprintf(stderr, "dorvik-midi: %s\nsee dorvik-midi %s%s--help\n", problem.c_str(), gCommand.c_str(),
                 gCommand.empty() ? "" : " ");
    return kExitUsage;
}

int Fail(const Failure& failure) {
    if (failure.kind == FailureKind::Usage) return UsageError(failure.text);
    if (!failure.Ok() && !failure.Cancelled())
        std::fprintf(stderr, "dorvik-midi: %s\n", failure.text.c_str());
    return ExitStatusOf(failure);
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "dorvik-midi: %s\n", text.c_str());
    return kExitFailed;
}

bool IsOneOf(const std::vector<const char*>& list, const std::string& value) {
    for (const char* item : list) {
        if (value == item) return true;
    }
    return false;
}

bool ParsePartNumber(const char* text, int32_t& part) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < 1 || number > kMaxParts) return false;
    part = static_cast<int32_t>(number - 1);
    return true;
}

bool ParsePartList(const char* text, std::vector<int32_t>& parts) {
    std::vector<int32_t> read;
    const std::string list = text;
    size_t from = 0;
    while (true) {
        const size_t comma = list.find(',', from);
        const std::string item =
            list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        int32_t part = -1;
        // strtol would take leading blanks and a sign; a part is digits only.
        if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos ||
            !ParsePartNumber(item.c_str(), part))
            return false;
        read.push_back(part);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    parts.insert(parts.end(), read.begin(), read.end());
    return true;
}

std::string NoSuchPart(const SongData& song, const std::vector<int32_t>& parts, const std::string& path) {
    for (const int32_t part : parts) {
        if (std::string problem = NoSuchPart(song, part, path); !problem.empty()) return problem;
    }
    return {};
}

std::string NoSuchPart(const SongData& song, int32_t part, const std::string& path) {
    const int parts = song.PartsInUse();
    if (part < parts) return {};
    const std::string choices = song.reading == ReadingHands ? "it is read as two hands: 1 and 2"
                                : parts == 1                 ? "it has one voice: 1"
                                                             : "it has voices 1 to " + std::to_string(parts);
    return "--part " + std::to_string(part + 1) + ": " + path + " has no such part (" + choices + ")";
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Dispatch(int argc, char** argv, std::span<const Command> commands, int (*otherwise)(char** argv)) {
    if (argc < 2) return UsageError("no command given");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help") {
        std::fputs(OverviewHelp(), stdout);
        return CheckedExit(0);
    }
    if (command == "help") {
        if (argc > 3) return UsageError("help takes one command");
        const char* text = argc == 3 ? CommandHelp(argv[2]) : OverviewHelp();
        if (text == nullptr) return UsageError(std::string("unknown command ") + argv[2]);
        std::fputs(text, stdout);
        return CheckedExit(0);
    }
    if (command == "--version") {
        std::printf("dorvik-midi %.1f\n", kProgramVersion);
        return CheckedExit(0);
    }
    const char* help = CommandHelp(command);
    if (help == nullptr) return UsageError("unknown command " + command);
    gCommand = command;
    // Answered here, by either program, so that a command's help needs none of its libraries.
    if (AsksForHelp(argc - 2, argv + 2)) {
        std::fputs(help, stdout);
        return CheckedExit(0);
    }
    // A command this program does not run itself goes to the one that does with its command line
    // whole, so that options taken out below reach it too.
    const auto run =
        std::find_if(commands.begin(), commands.end(), [&](const Command& c) { return command == c.name; });
    if (run == commands.end()) {
        if (otherwise != nullptr) return otherwise(argv);
        return UsageError("unknown command " + command);
    }
    // The memory a song may take is the same option for every command that reads one: taken out
    // here, before the command sees its arguments.
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--memory-limit") != 0) continue;
        int64_t bytes = 0;
        if (i + 1 >= argc || !ParseMemorySize(argv[i + 1], bytes))
            return UsageError("--memory-limit needs a size, such as 2G or 1500M");
        SetSongMemoryLimit(bytes);
        for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
        argc -= 2;
        --i;
    }
    // So is the voice limit for every command that renders a song: the option, or else the one
    // the settings keep, as the window takes it.
    if (RendersSongs(command)) {
        SetRenderVoiceLimit(ReadSettings().voiceLimit);
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--voice-limit") != 0) continue;
            int voices = 0;
            if (i + 1 >= argc || !ParseVoiceLimit(argv[i + 1], voices))
                return UsageError("--voice-limit needs a count of voices from 1 to 65535");
            SetRenderVoiceLimit(voices);
            for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
            argc -= 2;
            --i;
        }
    }
    return CheckedExit(run->run(argc - 2, argv + 2));
}

}  // namespace cli
