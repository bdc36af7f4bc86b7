#include "resources/strings.h"

namespace res {

namespace {

constexpr int kFirstId = 102;
constexpr const char* kTable[] = {
    "Load file",                                  // 102
    "Select file",                                // 103
    "Select Midi file",                           // 104
    "Select soundfont",                           // 105
    "Midi Files",                                 // 106
    "Soundfont",                                  // 107
    "Open Midi file",                             // 108
    "Open soundfont",                             // 109
    "no soundfont loaded",                        // 110
    "Soundfont",                                  // 111
    "no midi file loaded",                        // 112
    "Midi file",                                  // 113
    "Ogg Vorbis (*.ogg)",                         // 114
    "FLAC - Free Lossless Audio Codec (*.flac)",  // 115
    "WAV - Waveform Audio (*.wav)",               // 116
    "ALAC - Apple Lossless Audio Codec (*.m4a)",  // 117
    "Error",                                      // 118
    "AAC - Advanced Audio Codec (*.aac)",         // 119
    "MP3 - Mpeg 2 - Audio Layer III (*.mp3)",     // 120
    "standard",                                   // 121
    "high",                                       // 122
    "maximum",                                    // 123
    "Quality",                                    // 124
    "Export audio",                               // 125
    "Export video",                               // 126
    "Load MIDI",                                  // 127
    "Load soundfont",                             // 128
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
