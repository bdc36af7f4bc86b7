// export/: writing the rendered song in other formats: the export job that runs every one of
// them, the export dialog's logic, the Ogg Vorbis encoder, the FFmpeg transcoder, the video
// export and the checks on their source.
//
// The export dialog's logic: what the desktop's save dialog offers (the file types this program
// can write and a "Quality" choice beside them, shown only for the types whose quality can be
// chosen) and what its answer means; for a video, the frame's size, rate, view and score too. The window
// shows the dialog; this only decides.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/export_format.h"
#include "export/video_encoder.h"
#include "export/video_scene.h"
#include "platform/save_request.h"
#include "settings/settings.h"

// One row of the dialog's type list.
struct ExportFileType {
    ExportFormat format;
    int nameId;           // string-table id of the row's name
    const char* pattern;  // "*.wav"
};

// The rows offered for the given availability words, in the dialog's order: WAV, FLAC, ALAC, AAC,
// MP3, Ogg Vorbis, each only when its word is not 0, so that later rows move up.
[[nodiscard]] std::vector<ExportFileType> OfferedFileTypes(const FormatAvailability& availability);

// Whether the quality choice is shown while the type at `typeIndex` (0-based) of the offered list
// is chosen: from the fourth row on. With every format offered that is AAC, MP3 and Ogg Vorbis;
// with fewer, only what has moved up that far.
[[nodiscard]] bool OnTypeChange(int typeIndex);

// What the user chose in the dialog.
struct ExportChoice {
    std::string path;
    ExportFormat format = ExportFormat::Wav;  // by the chosen name's own extension
    QualityLevel quality = QualityStandard;
};

// The save dialog of an audio export: the formats of `availability`, proposing `fileName`, the
// quality choice starting at `initialQuality`.
[[nodiscard]] platform::SaveRequest ExportSaveRequest(const FormatAvailability& availability,
                                                      const std::string& fileName,
                                                      QualityLevel initialQuality);
// What the user chose there. The format is that of the chosen name's extension; a name with none
// of the six keeps `lastFormat`.
[[nodiscard]] ExportChoice ExportChoiceOf(const platform::SaveAnswer& answer, ExportFormat lastFormat);

// The video's save dialog: the one MP4 type, the same quality choice, and the frame's size, rate,
// view and whether the score shows above the notes, each starting as `last` has it; proposing `fileName` (the
// dialog adds ".mp4"). The sizes are the presets people post at (landscape HD, 720p, 4K, portrait and
// square); a size that is none of them (one typed into the settings file) is offered as "Custom (WxH)".
[[nodiscard]] platform::SaveRequest VideoSaveRequest(const std::string& fileName,
                                                     const VideoChoices& last = {});
// The frame the user chose there. A choice the answer does not carry keeps `last`'s value.
[[nodiscard]] VideoChoices VideoChoicesOf(const platform::SaveAnswer& answer, const VideoChoices& last);

// What the encoder and the scene are asked for by `choices`.
[[nodiscard]] VideoSettings VideoSettingsOf(const VideoChoices& choices);
[[nodiscard]] VideoView VideoViewOf(const VideoChoices& choices);
// The choices that ask for `settings`, `view` and the score or not: what the window remembers, as a
// dialog starts from.
[[nodiscard]] VideoChoices VideoChoicesFor(const VideoSettings& settings, VideoView view, bool score = false);
