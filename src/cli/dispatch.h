// The command line of both dorvik-midi programs: the small one that answers `info` itself and
// the full one with every command.
#pragma once

#include <span>

namespace cli {

// A command's name on the command line and what runs it.
struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
};

// Runs the command line: the usage text for -h, --help and help, the version for --version, and
// otherwise the command argv[1] names in `commands`, checking that what it printed was written.
// A name not in `commands` goes to `otherwise` with the whole command line, or is a usage error
// when there is none. Returns the process's exit status.
int Dispatch(int argc, char** argv, std::span<const Command> commands, int (*otherwise)(char** argv));

}  // namespace cli
