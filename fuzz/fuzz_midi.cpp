// Feeds arbitrary bytes to the MIDI reader, RIFF unwrapping included. Besides the sanitizers'
// checks, it asserts the invariants the views rely on: counts within their tables, every part's
// notes inside the one note store, keys within the keyboard, no note ending before it starts, bar
// lines ascending; the events an instrument is sent are whole channel messages in time order,
// each note-on of a part the song has; its tags are valid UTF-8 text; the words read from the same
// bytes hold together. The bytes handed to the synthesiser for a file that loads must load as the
// very same song, so that what is drawn is what is heard; tracks merged to fit the synthesiser's
// player must load with the same notes starting at the same times. The song's beats, which the
// metronome clicks on, stay bounded and in order whatever its time signatures say. Read from a
// file through windows of the least size, the bytes give the very same song or the same failure.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "midi/lyrics.h"
#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "midi/song_beats.h"
#include "midi/song_events.h"
#include "midi/song_tags.h"
#include "midi/track_merge.h"
#include "midi/track_reader.h"

namespace {

// The tags go into audio files' headers as UTF-8 text: valid, with no control characters.
void CheckTagText(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<uint8_t>(text[i]);
        const size_t n = c < 0x80                ? 1
                         : c >= 0xC2 && c < 0xE0 ? 2
                         : c >= 0xE0 && c < 0xF0 ? 3
                         : c >= 0xF0 && c < 0xF5 ? 4
                                                 : 0;
        if (n == 0 || n > text.size() - i || c < 0x20 || c == 0x7F) std::abort();
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) std::abort();
        }
        i += n;
    }
}

bool SameNotes(const SongPart& a, const SongPart& b) {
    if (a.noteCount != b.noteCount || a.track != b.track || a.channel != b.channel || a.program != b.program)
        return false;
    for (int i = 0; i < a.noteCount; ++i) {
        const NoteRecord &x = a.notes[i], &y = b.notes[i];
        // The times bit for bit: the same bytes read the same way give the very same floats.
        if (std::memcmp(&x.start, &y.start, sizeof x.start) != 0 ||
            std::memcmp(&x.end, &y.end, sizeof x.end) != 0 || x.key != y.key || x.velocity != y.velocity) {
            return false;
        }
    }
    return true;
}

// The bytes read as a file is read, a window at a time, must give what they give in memory.
void CheckReadFromFile(const uint8_t* data, size_t size, const MidiBytes& inner, const SongData& song,
                       bool loaded) {
    const int fd = memfd_create("song", MFD_CLOEXEC);
    if (fd < 0) return;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    FileRegion region{fd, inner.offset, inner.size, 0};
    auto read = std::make_unique<SongData>();
    const bool readLoaded = ParseSongIn(*read, region, 1);
    close(fd);
    if (readLoaded != loaded || read->status != song.status || read->failureOffset != song.failureOffset ||
        read->partCount != song.partCount || read->duration != song.duration ||
        read->noteTracks != song.noteTracks)
        std::abort();
    for (int p = 0; loaded && p < song.partCount; ++p) {
        if (!SameNotes(read->parts[p], song.parts[p]) ||
            std::strcmp(read->parts[p].name, song.parts[p].name) != 0)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that any read past the end is caught.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    const MidiBytes inner = StandardMidiBytes(copy.get(), size);
    if (inner.data < copy.get() || inner.offset > size || inner.size > size - inner.offset) std::abort();

    const MidiTags tags = ReadMidiTags(copy.get(), size);
    for (const std::string* text : {&tags.title, &tags.composer, &tags.copyright}) CheckTagText(*text);

    // The player's bytes are the file's, less what it never reads; past 127 tracks they are merged,
    // and an event written out whole may gain the status byte it had left to running status: as
    // no event is shorter than two bytes, by half at the most.
    const std::vector<uint8_t> player = PlayerMidiBytes(copy.get(), size);
    if (player.size() > inner.size + inner.size / 2 + 14) std::abort();

    // The words: every line names syllables that exist, in order, none empty, sung in time order.
    const SongLyrics lyrics = ReadLyrics(copy.get(), size);
    size_t next = 0;
    for (const LyricLine& line : lyrics.lines) {
        if (line.count == 0 || line.first != next || line.first + line.count > lyrics.syllables.size())
            std::abort();
        next = line.first + line.count;
    }
    if (next != lyrics.syllables.size()) std::abort();
    for (size_t i = 0; i < lyrics.syllables.size(); ++i) {
        if (lyrics.syllables[i].text.empty()) std::abort();
        if (i > 0 && lyrics.syllables[i].seconds < lyrics.syllables[i - 1].seconds) std::abort();
    }
    if (!lyrics.Empty() && lyrics.PlaceAt(1e9).line < 0) std::abort();

    auto song = std::make_unique<SongData>();
    TempoMap tempo;
    const bool loaded = ParseSong(*song, copy.get(), size, &tempo);
    CheckReadFromFile(copy.get(), size, inner, *song, loaded);
    if (!loaded) return 0;

    // What an instrument is sent of a song that loads: channel messages only, whole, in time order,
    // each note-on of a part the song has.
    SongEvents events;
    if (!ReadSongEvents(copy.get(), size, *song, tempo, events)) std::abort();
    for (size_t i = 0; i < events.events.size(); ++i) {
        const SongEvent& e = events.events[i];
        if (e.status < 0x80 || e.status >= 0xF0 || e.data1 >= 0x80 || e.data2 >= 0x80) std::abort();
        if (i > 0 && e.seconds < events.events[i - 1].seconds) std::abort();
        if (e.part >= song->PartsInUse() || e.part < kDrumsPart) std::abort();
    }
    // The metronome's beats, whatever the signatures say: bounded, in order, starting on a bar.
    const std::vector<Beat> beats = SongBeats(tempo, song->duration);
    if (static_cast<int64_t>(beats.size()) > kMostBeats || (!beats.empty() && !beats[0].barStart))
        std::abort();
    for (size_t i = 1; i < beats.size(); ++i) {
        if (!(beats[i].seconds >= beats[i - 1].seconds)) std::abort();
    }
    const std::vector<double> countIn = CountInBeats(tempo, song->duration * 0.5, 0.25);
    if (countIn.empty() || countIn.size() > 32 || !(countIn.back() <= 0)) std::abort();

    if (song->barLineCount < 0 || song->barLineCount > kMaxBarLines) std::abort();
    for (int i = 1; i < song->barLineCount; ++i) {
        if (song->barLines[i] < song->barLines[i - 1]) std::abort();
    }
    if (song->partCount < 0 || song->partCount > kMaxParts) std::abort();
    int64_t total = 0;
    for (int p = 0; p < song->partCount; ++p) {
        const SongPart& part = song->parts[p];
        if (part.noteCount < 0) std::abort();
        if (part.noteCount == 0) continue;
        const NoteRecord* store = song->noteStore.get();
        if (part.notes < store || part.notes + part.noteCount > store + song->noteStoreSize) std::abort();
        total += part.noteCount;
        for (int i = 0; i < part.noteCount; ++i) {
            const NoteRecord& n = part.notes[i];
            if (n.key < 0 || n.key > 127) std::abort();
            if (n.velocity < 1 || n.velocity > 127) std::abort();
            if (!(n.end >= n.start)) std::abort();
        }
    }
    if (total > kMaxSongNotes) std::abort();
    // Hands split by pitch are one voice's notes in two runs, side by side, neither empty.
    if (song->handRule == HandsByPitch &&
        (song->reading != ReadingHands || song->parts[0].noteCount == 0 || song->parts[1].noteCount == 0 ||
         song->parts[1].notes != song->parts[0].notes + song->parts[0].noteCount)) {
        std::abort();
    }

    // Merging changes the tracks and so the voices, but never which notes start when.
    auto sameStarts = [&](const std::vector<uint8_t>& merged) {
        auto other = std::make_unique<SongData>();
        if (!ParseSong(*other, merged.data(), merged.size())) {
            if (other->status != MidiTooLong) std::abort();  // a note never ended lasts to its track's end
            return;
        }
        if (song->truncated != 0 || other->truncated != 0) return;
        if (other->percussionNotes != song->percussionNotes) std::abort();
        auto starts = [](const SongData& s) {
            std::vector<std::pair<int32_t, float>> out;
            for (int p = 0; p < s.partCount; ++p) {
                for (int i = 0; i < s.parts[p].noteCount; ++i)
                    out.emplace_back(s.parts[p].notes[i].key, s.parts[p].notes[i].start);
            }
            std::sort(out.begin(), out.end());
            return out;
        };
        if (starts(*song) != starts(*other)) std::abort();
    };
    sameStarts(MergeTracks(std::vector<uint8_t>(inner.data, inner.data + inner.size), 2));
    const size_t declared = inner.size >= 12 ? (size_t{inner.data[10]} << 8) | inner.data[11] : 0;
    if (declared > kMaxPlayerTracks) {
        sameStarts(player);
        return 0;
    }

    auto heard = std::make_unique<SongData>();
    if (!ParseSong(*heard, player.data(), player.size())) std::abort();
    if (heard->partCount != song->partCount || heard->duration != song->duration ||
        heard->percussionNotes != song->percussionNotes) {
        std::abort();
    }
    for (int p = 0; p < song->partCount; ++p) {
        if (!SameNotes(song->parts[p], heard->parts[p])) std::abort();
    }
    return 0;
}
