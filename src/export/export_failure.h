// The file-system chores every exporter shares. An export that fails says so with a Failure
// (core/failure.h), in the one style: "Couldn't write /tmp/a.flac: No space left on device".
#pragma once

#include <string>

#include "core/failure.h"

// Whether both paths name one existing file (the same device and inode), however they are
// spelled. Writing a target that is its own source would truncate the song before reading it.
bool IsSameFile(const std::string& a, const std::string& b);
