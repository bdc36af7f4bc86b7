// cli/: dorvik-midi, the player's work without a window: info, render, play and export on the
// same code the window uses.
//
// The subcommands of dorvik-midi. Each takes the arguments after its own name and returns the
// process's exit status: 0 on success, 1 when the work failed, 2 for a usage error.
#pragma once

#include <string>

namespace cli {

int RunInfo(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunExport(int argc, char** argv);

// Prints the problem and the usage text on standard error; returns 2.
int UsageError(const std::string& problem);

// The file name without its folder.
std::string BaseName(const std::string& path);

// Whether something other than a regular file (a pipe, a device, a folder) holds the name:
// reading it could wait for ever or never end, so the commands refuse it. A missing file is not.
bool NotARegularFile(const std::string& path);

}  // namespace cli
