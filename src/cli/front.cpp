// dorvik-midi: answers info, --help and --version itself, and replaces itself with the full
// program (dorvik-midi-media) for every other command. Only the MIDI reader is linked in: the
// full program loads the sound, video and desktop libraries, which take far longer to start than
// `info` takes to read a large song.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/dispatch.h"

namespace {

constexpr const char* kMediaProgram = "dorvik-midi-media";

constexpr cli::Command kCommands[] = {
    {"info", cli::RunInfo},
};

// The full program: beside this one in the build tree, or in its own folder under libexec when
// installed. Found from this program's own file, so that any install prefix works.
std::string MediaProgramPath(std::error_code& error) {
    namespace fs = std::filesystem;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) return kMediaProgram;
    const fs::path beside = self.parent_path() / kMediaProgram;
    std::error_code ignored;
    if (fs::exists(beside, ignored)) return beside.string();
    return (self.parent_path() / DORVIK_MEDIA_DIR_FROM_BIN / kMediaProgram).lexically_normal().string();
}

// Runs the full program on the same command line. The process is replaced, so its exit status,
// signals, standard streams and terminal are the command's own; returns only when that fails.
int RunMediaProgram(char** argv) {
    std::error_code error;
    const std::string path = MediaProgramPath(error);
    if (!error) {
        ::execv(path.c_str(), argv);
        error = std::error_code(errno, std::generic_category());
    }
    return cli::Fail("cannot start " + path + ": " + error.message());
}

}  // namespace

int main(int argc, char** argv) {
    return cli::Dispatch(argc, argv, kCommands, RunMediaProgram);
}
