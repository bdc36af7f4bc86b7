// dorvik-midi info: the parsed song, as a summary or as JSON.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/song_report.h"
#include "midi/midi_reader.h"
#include "settings/song_hands.h"

namespace cli {

int RunInfo(int argc, char** argv) {
    const char* path = nullptr;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return UsageError(std::string("unknown option ") + argv[i]);
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return UsageError("info takes one MIDI file");
        }
    }
    if (path == nullptr) return UsageError("info needs a MIDI file");
    if (NotARegularFile(path)) return Fail(std::string(path) + ": not a regular file");

    // Value-initialised: a song is parsed into zeroed memory.
    // The file is read a window at a time: only its song is needed, never its whole bytes.
    auto song = std::make_unique<SongData>();
    const bool loaded = ReadMidiFile(*song, path);
    // The hands as the player mended them in the window, known by the song's bytes.
    if (loaded) (void)ApplyHandEdits(*song, ReadHandEditsOfFile(*song, path));
    if (json) {
        WriteSongJson(*song, loaded,
                      [](const char* text, size_t size) { std::fwrite(text, 1, size, stdout); });
    } else if (loaded) {
        std::fputs(SongSummary(*song, BaseName(path)).c_str(), stdout);
    }
    if (!loaded) return Fail(std::string(path) + ": " + LoadFailureReason(*song, loaded));
    return 0;
}

}  // namespace cli
