#include "resources/strings.h"

namespace res {

namespace {

constexpr int kFirstId = 102;
constexpr const char* kTable[] = {
    "Load file",                                  // 102
    "Select file",                                // 103
    "Select MIDI file",                           // 104
    "Select SoundFont",                           // 105
    "MIDI files",                                 // 106
    "SoundFonts",                                 // 107
    "Open MIDI file",                             // 108
    "Open SoundFont",                             // 109
    "no SoundFont loaded",                        // 110
    "SoundFont",                                  // 111
    "no MIDI file loaded",                        // 112
    "MIDI file",                                  // 113
    "Ogg Vorbis (*.ogg)",                         // 114
    "FLAC - Free Lossless Audio Codec (*.flac)",  // 115
    "WAV - Waveform Audio (*.wav)",               // 116
    "ALAC - Apple Lossless Audio Codec (*.m4a)",  // 117
    "Error",                                      // 118
    "AAC - Advanced Audio Coding (*.aac)",        // 119
    "MP3 - MPEG-1 Audio Layer III (*.mp3)",       // 120
    "standard",                                   // 121
    "high",                                       // 122
    "maximum",                                    // 123
    "Quality",                                    // 124
    "Export audio",                               // 125
    "Export video",                               // 126
    "Load MIDI",                                  // 127
    "Load SoundFont",                             // 128
    "Invalid MIDI file",                          // 129
    "Out of memory",                              // 130
    "Too many tracks",                            // 131
    "Error reading file",                         // 132
};
constexpr int kCount = static_cast<int>(sizeof(kTable) / sizeof(kTable[0]));
static_assert(kFirstId + kCount - 1 == IdsErrorReadingFile, "the table must end at the last id");

}  // namespace

const char* LoadString(int id) {
    if (id < kFirstId || id >= kFirstId + kCount) return "";
    return kTable[id - kFirstId];
}

}  // namespace res
