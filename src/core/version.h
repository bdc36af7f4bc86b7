// The program's version, shown in the window's caption and by --version in both programs.
#pragma once

inline constexpr double kProgramVersion = 1.0;
