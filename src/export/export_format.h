// What an export writes: the format a chosen file name asks for, the quality levels each encoder
// turns into settings, and the WAV copy that needs no encoder at all.
#pragma once

#include <cstdint>
#include <string>

#include "core/session_state.h"
#include "export/export_failure.h"

enum QualityLevel : int16_t {
    QualityStandard = 0,
    QualityHigh = 1,
    QualityMaximum = 2,
};

// The format that a target path asks for, by the extension of its file name alone (".wav",
// ".flac", ".m4a", ".aac", ".ogg" or ".mp3", in any case). A folder called "x.ogg" does not
// matter. A name with none of the six keeps `previous`, so that a bare name repeats the last
// export's format.
[[nodiscard]] uint16_t ChooseExportFormat(const std::string& path, uint16_t previous);

// ".wav", ".flac", ... for a format code; "" for a code outside the six.
[[nodiscard]] const char* ExportFormatExtension(uint16_t format);
// "WAV", "FLAC", "ALAC", "AAC", "Ogg Vorbis", "MP3"; "" for a code outside the six.
[[nodiscard]] const char* ExportFormatName(uint16_t format);

// The Vorbis quality of a level: 0.5 standard, 0.7 high, 1.0 maximum. An unknown level is
// standard.
[[nodiscard]] float OggQualityForLevel(int level);

// The bit rate in kbit/s of an AAC or MP3 export at `level`, from the format's availability word
// (bit 0: 128 kbit/s offered, bit 1: 160 kbit/s offered, plus 4 x the highest rate offered when
// that is above 160). Standard is 128; high is 160 when offered; maximum is the highest rate
// offered. A level whose rate is not offered falls back to the level below it.
[[nodiscard]] int BitRateForLevel(uint16_t availability, int level);

// The export progress percentage for a transcoder at `position` seconds of a song of `duration`
// seconds: truncated, and never above 99, since 100 and above mean "finished".
[[nodiscard]] uint16_t TranscodeProgressPercent(float position, double duration);

// Copies the rendered WAV to the chosen target, replacing a file already there (the save dialog
// has asked the user about that) only once the copy is complete. The source must be a WAV with
// audio in it. A copy that fails leaves the target as it was and says why. A target that is the
// source itself is left as it is.
ExportResult CopyWavFile(const std::string& source, const std::string& target);
