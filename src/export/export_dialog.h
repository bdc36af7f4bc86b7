// export/: writing the rendered song in other formats: the export dialog's logic, the Ogg
// Vorbis encoder, the FFmpeg transcoder and the checks on their source.
//
// The export dialog: the desktop's save dialog with the file types this program can write and a
// "Quality" choice beside them, shown only for the types whose quality can be chosen.
#pragma once

#include <cstdint>
#include <vector>

#include "core/session_state.h"

// One row of the dialog's type list.
struct ExportFileType {
    uint16_t format;      // an ExportFormat
    int nameId;           // string-table id of the row's name
    const char* pattern;  // "*.wav"
};

// The rows offered for the given availability words, in the dialog's order: WAV, FLAC, ALAC, AAC,
// MP3, Ogg Vorbis, each only when its word is not 0, so that later rows move up.
[[nodiscard]] std::vector<ExportFileType> OfferedFileTypes(
    const std::array<uint16_t, ExportFormatCount>& availability);

// Whether the quality choice is shown while the type at `typeIndex` (0-based) of the offered list
// is chosen: from the fourth row on. With every format offered that is AAC, MP3 and Ogg Vorbis;
// with fewer, only what has moved up that far.
[[nodiscard]] bool OnTypeChange(int typeIndex);

// Runs the save dialog over the session's dialogs layer. True when the user chose a file: then
// `exportPath`, `exportQuality` and `exportFormat` (by the chosen name's own extension, the last
// format kept when it has none of the six) hold the choice. A cancel changes nothing.
bool ShowExportDialog(SessionState& state);
