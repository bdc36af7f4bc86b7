// What the FFmpeg exporters share: the library's log kept quiet, its error texts, and an output
// I/O context that writes into a file that replaces its target only once complete.
#pragma once

#include <string>

struct AVIOContext;
namespace platform {
class AtomicFile;
}

// FFmpeg would otherwise write its own warnings and errors to standard error; the exporters
// report every failure themselves, in the program's words.
void QuietLibraryLog();

// FFmpeg's text for one of its error codes.
[[nodiscard]] std::string AvError(int code);

// An I/O context that writes and seeks on `file`'s descriptor (which must be open and outlive
// it), or null when out of memory. Free it with FreeTargetIo: the file belongs to its owner.
[[nodiscard]] AVIOContext* OpenTargetIo(platform::AtomicFile& file);
void FreeTargetIo(AVIOContext*& io);
