// A part of a song exported on its own: the times that bound it, how they are typed, and the cut
// of the rendered sound that such an export is made from.
//
// The cut is sample-exact: it holds the source's own samples, in the source's own format, from
// the first frame at or after `from` to the last before `to`. Where it cuts into the sound it
// fades over a few milliseconds, so that the part starts and ends without a click; where it meets
// the song's own start or end it leaves the samples as they are.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "export/export_failure.h"

struct ExportRange {
    double from = 0.0;  // seconds of the rendered sound
    double to = -1.0;   // seconds; below 0 for the song's end

    [[nodiscard]] bool Whole() const { return from <= 0.0 && to < 0.0; }
};

// The latest time a bound may name: later than any WAV file can last (4 GiB of 8 kHz mono is
// about 150 hours), and small enough to be shown and counted in frames without overflow.
inline constexpr double kLatestRangeSeconds = 1000000.0;

// Reads a time as --from and --to take it: seconds ("75", "75.5") or minutes and seconds
// ("1:15", "1:15.5"; the seconds two digits below 60). Nothing negative, no signs, exponents or
// blanks. False, with `seconds` untouched, for anything else.
[[nodiscard]] bool ParseRangeTime(std::string_view text, double& seconds);

// "0:12" or "1:05.5": a bound as a person reads it, with tenths only when it has them.
[[nodiscard]] std::string FormatRangeTime(double seconds);

// What is wrong with `range` for a song `length` seconds long, in words for the user; "" when
// nothing is. A range ending past the song's end is cut to it and is not wrong.
[[nodiscard]] std::string RangeProblem(const ExportRange& range, double length);

// The fade at a cut into the sound: long enough to take the click away, too short to be heard as a
// fade.
inline constexpr double kCutFadeSeconds = 0.005;

// Writes the part of the WAV at `source` that `range` bounds, as a WAV of the same format, to `fd`
// from its current position. `cancel`, when given, is read between blocks.
[[nodiscard]] Failure WriteWavRange(const std::string& source, const ExportRange& range, int fd,
                                    const std::string& targetName, const std::atomic<bool>* cancel);

// An unnamed file holding a cut, gone when this is dropped (or the process ends, however it
// ends). Exporters read it by its path in /proc, as they read any source.
class RangeFile {
  public:
    RangeFile() = default;
    ~RangeFile();
    RangeFile(const RangeFile&) = delete;
    RangeFile& operator=(const RangeFile&) = delete;

    // Cuts `range` out of `source` into a new file in `folder`, or, when nothing can be made there,
    // in the system's folder for temporary files.
    [[nodiscard]] Failure Make(const std::string& source, const ExportRange& range, const std::string& folder,
                               const std::atomic<bool>* cancel);
    [[nodiscard]] const std::string& Path() const { return path_; }

  private:
    int fd_ = -1;
    std::string path_;
};
