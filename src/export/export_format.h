// What an export writes: the format a chosen file name asks for, the quality levels each encoder
// turns into settings, and the WAV copy that needs no encoder at all.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "export/export_failure.h"

// Everything an export can write. The six audio formats come first, in the order of the
// availability words; the video goes after them and has no word.
enum class ExportFormat : uint16_t {
    Wav = 0,
    Flac = 1,
    Alac = 2,  // .m4a
    Aac = 3,
    Ogg = 4,
    Mp3 = 5,
    Mp4 = 6,
};

// The availability words, one per audio format: 0 hides the format in the export dialog.
inline constexpr size_t kAudioFormatCount = 6;
using FormatAvailability = std::array<uint16_t, kAudioFormatCount>;

// The availability word of `format`; 0 for the video, which has none.
[[nodiscard]] inline uint16_t AvailabilityOf(const FormatAvailability& availability, ExportFormat format) {
    const auto index = static_cast<size_t>(format);
    return index < availability.size() ? availability[index] : 0;
}

enum QualityLevel : int16_t {
    QualityStandard = 0,
    QualityHigh = 1,
    QualityMaximum = 2,
};

// The audio format that a target path asks for, by the extension of its file name alone (".wav",
// ".flac", ".m4a", ".aac", ".ogg" or ".mp3", in any case). A folder called "x.ogg" does not
// matter. Nothing for a name with none of the six.
[[nodiscard]] std::optional<ExportFormat> AudioFormatOfPath(const std::string& path);

// The same, keeping `previous` for a name with none of the six, so that a bare name repeats the
// last export's format.
[[nodiscard]] ExportFormat ChooseExportFormat(const std::string& path, ExportFormat previous);

// Whether the file name of `path` ends in `extension` (".mp4"), in any case.
[[nodiscard]] bool HasExtension(const std::string& path, const char* extension);

// ".wav", ".flac", ..., ".mp4" for a format.
[[nodiscard]] const char* ExportFormatExtension(ExportFormat format);
// "WAV", "FLAC", "ALAC", "AAC", "Ogg Vorbis", "MP3", "MP4".
[[nodiscard]] const char* ExportFormatName(ExportFormat format);

// What an audio export is tagged with besides the program as its encoder: the song's title, and
// where the song file gives them its composer and copyright notice. An empty field is left out.
struct AudioTags {
    std::string title;
    std::string composer;
    std::string copyright;
};

// The encoder tag of every export: the program's name and version.
[[nodiscard]] std::string EncoderTagText();

// The quality level a user names: "standard", "high" or "maximum", as the dialog shows them.
// Nothing for any other word.
[[nodiscard]] std::optional<QualityLevel> ParseQualityLevel(const std::string& word);

// A level from the save dialog's choice: an index outside the three is standard.
[[nodiscard]] QualityLevel QualityFromChoice(int choice);

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
// source itself is left as it is. `cancel`, when given, is read between chunks and before the new
// file takes the target's place; a cancelled copy ends as Cancelled with nothing of it left.
Failure CopyWavFile(const std::string& source, const std::string& target,
                    const std::atomic<bool>* cancel = nullptr);
