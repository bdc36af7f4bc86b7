// Reading the files the user names, safely: one check that a path is a regular file, one whole-file
// read that never waits on a pipe or a device, one whole write, and the display name of a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/failure.h"

struct stat;

// Whether what stat or fstat told of a name is a regular file: the one test of it, so that every
// room means the same by "a file".
[[nodiscard]] bool IsRegularFile(const struct stat& info);

// Whether something other than a regular file (a pipe, a device, a folder) holds the name. Reading
// such a thing could wait for ever or never end, so every input is refused when this is true. A
// missing file is not, so that the caller can report it in its own words.
[[nodiscard]] bool NotARegularFile(const std::string& path);

// Fails with SourceOpen, "PATH: not a regular file" or "PATH: <the system's reason>", unless `path`
// names a regular file that exists. Looks without opening, so it never blocks.
[[nodiscard]] Failure CheckRegularFile(const std::string& path);
// The same reason without the path ("a folder, not a file"), for a caller that words the failure
// itself; "" when `path` names a regular file that exists.
[[nodiscard]] std::string RegularFileProblem(const std::string& path);

// Writes all `size` bytes to `fd`: at its file offset, or from `at` on when `at` is not negative,
// going on after a call the kernel cut short or a signal interrupted. Fails with Write and the
// system's reason alone ("No space left on device"), for the caller to put after the name of the
// file it was writing; errno stays as the failed call left it.
[[nodiscard]] Failure WriteAll(int fd, const void* data, size_t size, int64_t at = -1);

// Reads the whole of a regular file into `bytes`. The file is opened without waiting (a pipe in
// its place is refused, never waited on) and checked after opening, so a file swapped in between
// is caught too. A file larger than `maxBytes` is refused before anything of it is read: SourceFormat
// "PATH: larger than the N MB this program reads". Other failures are SourceOpen (cannot open, not a
// regular file) and Read (an error or a file that shrank part-way). `bytes` is left empty on failure.
[[nodiscard]] Failure ReadRegularFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes);

// A path's file name without its folder and extension: "/Sounds/Grand Piano.sf2" gives
// "Grand Piano". Only a dot inside the file name starts an extension.
[[nodiscard]] std::string FileTitleFromPath(const std::string& path);
