#include "resources/strings.h"

namespace res {

namespace {

// Each id keeps its number for good, so that an id never comes to mean another text.
struct Row {
    StringId id;
    const char* text;
};
constexpr Row kTable[] = {
    {IdsSelectMidiFile, "Select MIDI file"},
    {IdsSelectSoundfont, "Select SoundFont"},
    {IdsMidiFiles, "MIDI files"},
    {IdsSoundfontFilter, "SoundFonts"},
    {IdsNoSoundfontLoaded, "no SoundFont loaded"},
    {IdsNoMidiFileLoaded, "no MIDI file loaded"},
    {IdsOggVorbis, "Ogg Vorbis (*.ogg)"},
    {IdsFlac, "FLAC - Free Lossless Audio Codec (*.flac)"},
    {IdsWav, "WAV - Waveform Audio (*.wav)"},
    {IdsAlac, "ALAC - Apple Lossless Audio Codec (*.m4a)"},
    {IdsError, "Error"},
    {IdsAac, "AAC - Advanced Audio Coding (*.aac)"},
    {IdsMp3, "MP3 - MPEG-1 Audio Layer III (*.mp3)"},
    {IdsStandard, "standard"},
    {IdsHigh, "high"},
    {IdsMaximum, "maximum"},
    {IdsQuality, "Quality"},
    {IdsExportAudio, "Export audio"},
    {IdsExportVideo, "Export video"},
    {IdsLoadMidi, "Load MIDI"},
    {IdsLoadSoundfont, "Load SoundFont"},
};

}  // namespace

const char* LoadString(int id) {
    for (const Row& row : kTable) {
        if (row.id == id) return row.text;
    }
    return "";
}

}  // namespace res
