// Why an export failed, and the file-system chores every exporter shares.
//
// The codes are common to the WAV copy, the Ogg Vorbis encoder and the transcoder, so that the
// export driver and `dorvik-midi export` can tell a failure apart whichever exporter ran. The
// Ogg Vorbis encoder hands its code to its progress callback; the others return it with a text
// that the error box shows as it is.
#pragma once

#include <string>

enum ExportFailure : int {
    ExportOk = 0,
    FailSourceOpen = -1,    // the source could not be opened for reading
    FailSourceFormat = -2,  // the source is not a WAV file this exporter reads
    FailTargetOpen = -3,    // the target could not be created, or it is the source itself
    FailWrite = -4,         // writing the target failed: a full disk, an I/O error
    FailEncoderSetup = -5,  // no encoder, or the encoder refused its settings
    FailChannelMix = -6,    // the source has neither one nor two channels
    FailRead = -7,          // reading the source failed part-way
    FailCancelled = -8,     // the user stopped the export; nothing of it is kept
};

struct [[nodiscard]] ExportResult {
    int code = ExportOk;  // an ExportFailure
    std::string text;     // what failed, for the user; empty on success

    bool Ok() const { return code == ExportOk; }
};

// Whether both paths name one existing file (the same device and inode), however they are
// spelled. Writing a target that is its own source would truncate the song before reading it.
bool IsSameFile(const std::string& a, const std::string& b);

// The C library's text for an errno value.
std::string ErrnoText(int error);
