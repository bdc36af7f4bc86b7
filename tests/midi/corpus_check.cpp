// midi_corpus_check FILE...: reads each file as the player does and plays it through the
// synthesiser's own file player, then prints one line per file and a total: whether it loads, how
// it is read, and how far its notes are from the player's. The player's clock moves in whole audio
// blocks (1 ms here) and rounds to whole ticks, so its times carry up to half a tick and a block of
// its own error; a file agrees when every note is there and every start is within `--within` ms.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "player_notes.h"

int main(int argc, char** argv) {
    double within = 5.0;
    int files = 0, loaded = 0, played = 0, agreeing = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--within") == 0 && i + 1 < argc) {
            within = std::atof(argv[++i]);
            continue;
        }
        ++files;
        std::vector<uint8_t> bytes;
        auto song = std::make_unique<SongData>();
        const bool ok = ReadFileBytes(argv[i], bytes).Ok() && ParseSong(*song, bytes.data(), bytes.size());
        const std::vector<uint8_t> given = PlayerMidiBytes(bytes.data(), bytes.size());
        const player_notes::Played heard = player_notes::Play(given.data(), given.size(), 64000.0);
        if (ok) ++loaded;
        if (heard.loaded) ++played;
        if (!ok) {
            std::printf("refused  player=%s  %s: %s\n", heard.loaded ? "plays" : "refuses", argv[i],
                        MidiLoadFailureText(*song).c_str());
            continue;
        }
        const player_notes::Agreement a = player_notes::Compare(*song, heard);
        const bool agrees = heard.loaded && a.sameNotes && a.worstStart * 1000 <= within;
        if (agrees) ++agreeing;
        std::printf("%s  %-6s %3d parts %7zu notes %5d drums  start %7.3f ms  end %7.3f ms  %s\n",
                    agrees ? "agrees  " : "differs ", song->reading == ReadingHands ? "hands" : "voices",
                    song->partCount, a.notes, song->percussionNotes, a.worstStart * 1000, a.worstEnd * 1000,
                    argv[i]);
    }
    std::printf("files %d  loaded %d  played by the synthesiser %d  agreeing %d (starts within %.1f ms)\n",
                files, loaded, played, agreeing, within);
    return 0;
}
