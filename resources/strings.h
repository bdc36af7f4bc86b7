// The program's string table: every text shown to the user, keyed by the ids the rest of the
// program refers to (102 to 132).
#pragma once

namespace res {

// The text of a string id, or "" for an id the table does not hold.
[[nodiscard]] const char* LoadString(int id);

enum StringId : int {
    IdsLoadFile = 102,
    IdsSelectFile = 103,
    IdsSelectMidiFile = 104,
    IdsSelectSoundfont = 105,
    IdsMidiFiles = 106,
    IdsSoundfontFilter = 107,
    IdsOpenMidiFile = 108,
    IdsOpenSoundfont = 109,
    IdsNoSoundfontLoaded = 110,
    IdsSoundfont = 111,
    IdsNoMidiFileLoaded = 112,
    IdsMidiFile = 113,
    IdsOggVorbis = 114,
    IdsFlac = 115,
    IdsWav = 116,
    IdsAlac = 117,
    IdsError = 118,
    IdsAac = 119,
    IdsMp3 = 120,
    IdsStandard = 121,
    IdsHigh = 122,
    IdsMaximum = 123,
    IdsQuality = 124,
    IdsExportAudio = 125,
    IdsExportVideo = 126,
    IdsLoadMidi = 127,
    IdsLoadSoundfont = 128,
    IdsInvalidMidiFile = 129,
    IdsOutOfMemory = 130,
    IdsTooManyTracks = 131,
    IdsErrorReadingFile = 132,
};

}  // namespace res
