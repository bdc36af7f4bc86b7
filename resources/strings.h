// The program's string table: the captions, labels and short messages the panels, the file
// dialogs and the error box share, keyed by the ids the rest of the program refers to (104 to
// 128). Longer messages, which name files and reasons, are written where they arise.
#pragma once

namespace res {

// The text of a string id, or "" for an id the table does not hold.
[[nodiscard]] const char* LoadString(int id);

enum StringId : int {
    IdsSelectMidiFile = 104,
    IdsSelectSoundfont = 105,
    IdsMidiFiles = 106,
    IdsSoundfontFilter = 107,
    IdsNoSoundfontLoaded = 110,
    IdsNoMidiFileLoaded = 112,
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
};

}  // namespace res
