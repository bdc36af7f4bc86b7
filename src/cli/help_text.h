// The help of dorvik-midi: the overview `dorvik-midi --help` prints, and each command's own usage
// and options, which `dorvik-midi COMMAND --help` prints and the manual page is made from.
#pragma once

#include <string_view>

namespace cli {

// The overview: how each command is called, one line each, and where to find the rest.
[[nodiscard]] const char* OverviewHelp();

// The help of `command` (info, render, play, export, video, batch, ports, record); nullptr for a
// name that is no command.
[[nodiscard]] const char* CommandHelp(std::string_view command);

}  // namespace cli
