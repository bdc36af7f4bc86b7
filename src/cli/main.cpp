// dorvik-midi: the player's work without a window.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/song_report.h"
#include "midi/midi_reader.h"

namespace {

constexpr const char* kUsage =
    "usage: dorvik-midi info FILE.mid [--json]\n"
    "\n"
    "  info   parse a Standard MIDI File into the player's two hands of notes and print what it\n"
    "         holds; --json prints the whole song as one JSON object\n";

int Usage(const char* problem) {
    if (problem != nullptr) std::fprintf(stderr, "dorvik-midi: %s\n", problem);
    std::fputs(kUsage, problem != nullptr ? stderr : stdout);
    return problem != nullptr ? 2 : 0;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Info(int argc, char** argv) {
    const char* path = nullptr;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage((std::string("unknown option ") + argv[i]).c_str());
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return Usage("info takes one MIDI file");
        }
    }
    if (path == nullptr) return Usage("info needs a MIDI file");

    // Value-initialised: a song is parsed into zeroed memory.
    auto song = std::make_unique<SongData>();
    const bool loaded = ReadMidiFile(*song, path);
    if (json) {
        const std::string text = SongJson(*song, loaded);
        std::fwrite(text.data(), 1, text.size(), stdout);
    } else if (loaded) {
        std::fputs(SongSummary(*song, BaseName(path)).c_str(), stdout);
    }
    if (!loaded) {
        std::fprintf(stderr, "dorvik-midi: %s: %s\n", path, LoadFailureReason(*song, loaded).c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command given");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") return Usage(nullptr);
    if (command == "info") return Info(argc - 2, argv + 2);
    return Usage(("unknown command " + command).c_str());
}
