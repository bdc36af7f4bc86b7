// Feeds arbitrary bytes to the MIDI parser. Besides the sanitizers' checks, it asserts the
// invariants the views rely on: counts within their tables, keys within the keyboard, bar lines
// ascending.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "midi/midi_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that any read past the end is caught.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    static auto song = std::make_unique<SongData>();
    std::memset(song.get(), 0, sizeof(SongData));
    (void)ParseSong(*song, copy.get(), size);

    if (song->barLineCount < 0 || song->barLineCount > kMaxBarLines) std::abort();
    for (int i = 1; i < song->barLineCount; ++i) {
        if (song->barLines[i] < song->barLines[i - 1]) std::abort();
    }
    for (const SongPart& part : song->parts) {
        if (part.noteCount < 0 || part.noteCount > kMaxPartNotes) std::abort();
        for (int i = 0; i < part.noteCount; ++i) {
            if (part.notes[i].key < 0 || part.notes[i].key > 127) std::abort();
            if (part.notes[i].velocity < 1 || part.notes[i].velocity > 127) std::abort();
        }
    }
    return 0;
}
