// The reader on whole files: which files load and why others do not, the timing rules, the two
// readings (hands and voices), and the limits.
#include "midi/midi_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "core/memory_limit.h"
#include "midi/track_reader.h"
#include "smf_builder.h"

using namespace smf;

namespace {

struct Parsed {
    bool loaded;
    std::unique_ptr<SongData> song;
};

Parsed Parse(const Bytes& bytes) {
    Parsed r{false, NewSong()};
    // Parse from an exact-size heap copy so that AddressSanitizer sees any read past the end.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + 1]);
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    r.loaded = ParseSong(*r.song, bytes.empty() ? nullptr : copy.get(), bytes.size());
    return r;
}

using Note = std::tuple<int, double, double>;  // key, start, end

// Every stored note, part after part.
std::vector<Note> NotesOf(const SongData& song) {
    std::vector<Note> out;
    for (int p = 0; p < song.partCount; ++p) {
        for (int i = 0; i < song.parts[p].noteCount; ++i) {
            const NoteRecord& n = song.parts[p].notes[i];
            out.emplace_back(n.key, n.start, n.end);
        }
    }
    return out;
}

std::string Describe(const std::vector<Note>& notes) {
    std::string s;
    for (const auto& [key, start, end] : notes) {
        s += "(" + std::to_string(key) + ", " + std::to_string(start) + ", " + std::to_string(end) + ") ";
    }
    return s;
}

constexpr double kGap = 1.0 / 60.0;

Bytes OneNote(int channel, int key, uint32_t length = 480) {
    return Track({On(0, channel, key), Off(length, channel, key), EndOfTrack()});
}

TEST(MidiTiming, NotesAreTimedAsThePlayerPlaysThem) {
    const Bytes plain = Song(480, {OneNote(0, 60), OneNote(0, 48, 960)});
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Note> notes;
    };
    const Case cases[] = {
        {"tick t is t ticks", Song(480, {Track({On(0, 0, 60), Off(480, 0, 60)})}), {{60, 0.0, 0.5}}},
        {"a tempo change in a later track times every track",
         Song(480, {Track({On(0, 0, 60), Off(960, 0, 60)}), Track({Tempo(480, 250000)})}),
         {{60, 0.0, 0.75}}},
        {"a repeated tempo event in a later track changes nothing",
         Song(480, {Track({Tempo(0, 250000), Tempo(480, 1000000), On(0, 0, 60), Off(480, 0, 60)}),
                    Track({Tempo(0, 250000)})}),
         {{60, 0.25, 1.25}}},
        {"a key struck again ends its sounding note there; the second note-off ends nothing",
         Song(480, {Track({On(0, 0, 60), On(480, 0, 60), Off(480, 0, 60), Off(0, 0, 60), On(0, 0, 62),
                           Off(480, 0, 62)})}),
         {{60, 0.0, 0.5 - kGap}, {60, 0.5, 1.0}, {62, 1.0, 1.5}}},
        {"a note-on of another track on the same channel and key ends the note",
         Song(480, {Track({On(0, 0, 60), Off(960, 0, 60)}), Track({On(480, 0, 60), Off(240, 0, 60)})}),
         {{60, 0.0, 0.5}, {60, 0.5, 0.75}}},
        {"four-byte delta times",
         Song(480,
              {Track({Tempo(0, 1000), On(0, 0, 60), Off(1u << 21, 0, 60), On(0, 0, 62), Off(480, 0, 62)})}),
         {{60, 0.0, 2097152 / 480.0 / 1000}, {62, 2097152 / 480.0 / 1000, 2097632 / 480.0 / 1000}}},
        {"only the declared tracks are read",
         Cat({Header(480, 1, 1), OneNote(0, 60), OneNote(0, 48)}),
         {{60, 0.0, 0.5}}},
        {"unknown chunks are skipped wherever they are",
         Cat({Header(480, 1, 2), Chunk("XFIH", {1, 2, 3}), OneNote(0, 60), Chunk("junk", {}),
              OneNote(0, 48, 960), Chunk("MTrk", Cat({On(0, 0, 50), Off(10, 0, 50)}))}),
         {{60, 0.0, 0.5}, {48, 0.0, 1.0}}},
        {"a RIFF MIDI file reads as the file inside it", Rmid(plain), {{60, 0.0, 0.5}, {48, 0.0, 1.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed r = Parse(c.file);
        ASSERT_TRUE(r.loaded) << "status " << r.song->status;
        const std::vector<Note> got = NotesOf(*r.song);
        ASSERT_EQ(got.size(), c.notes.size()) << Describe(got);
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(std::get<0>(got[i]), std::get<0>(c.notes[i])) << i;
            EXPECT_NEAR(std::get<1>(got[i]), std::get<1>(c.notes[i]), 1e-6) << i << ": " << Describe(got);
            EXPECT_NEAR(std::get<2>(got[i]), std::get<2>(c.notes[i]), 1e-6) << i << ": " << Describe(got);
        }
    }
}

// The tracks are merged in turns by tick whatever their number (two, a few, or many): a note of
// the last track still ends the first track's note, and every track's notes keep their times.
TEST(MidiTiming, TracksTakeTurnsHoweverManyThereAre) {
    for (int between : {0, 1, 6, 12}) {
        SCOPED_TRACE(std::to_string(between + 2) + " tracks");
        Bytes file = Header(480, 1, static_cast<uint16_t>(between + 2));
        file = Cat({file, Track({On(0, 0, 60), Off(960, 0, 60)})});
        std::vector<Note> expected = {{60, 0.0, 0.5}};
        for (int k = 1; k <= between; ++k) {
            const uint32_t at = static_cast<uint32_t>(k) * 30;
            file = Cat({file, Track({On(at, 3, 70 + k), Off(20, 3, 70 + k)})});
            expected.emplace_back(70 + k, at / 960.0, (at + 20) / 960.0);
        }
        file = Cat({file, Track({On(480, 0, 60), Off(240, 0, 60)})});
        expected.emplace_back(60, 0.5, 0.75);

        const Parsed r = Parse(file);
        ASSERT_TRUE(r.loaded) << "status " << r.song->status;
        const std::vector<Note> got = NotesOf(*r.song);
        ASSERT_EQ(got.size(), expected.size()) << Describe(got);
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(std::get<0>(got[i]), std::get<0>(expected[i])) << i << ": " << Describe(got);
            EXPECT_NEAR(std::get<1>(got[i]), std::get<1>(expected[i]), 1e-6) << i << ": " << Describe(got);
            EXPECT_NEAR(std::get<2>(got[i]), std::get<2>(expected[i]), 1e-6) << i << ": " << Describe(got);
        }
    }
}

// Tracks read as voices meet only through the channels they share, however indirectly: a track
// of two channels links the tracks of each, so that one still ends and restrikes the others' notes,
// while a track alone on its channel keeps its own times.
TEST(MidiTiming, TracksLinkedThroughSharedChannelsStillEndEachOthersNotes) {
    const Bytes file = Cat({Header(480, 1, 4), Track({On(0, 3, 60), Off(960, 3, 60)}),
                            Track({On(0, 4, 70), Off(960, 4, 70)}), Track({Off(240, 3, 60), On(240, 4, 70)}),
                            Track({On(96, 6, 72), Off(96, 6, 72)})});
    const Parsed r = Parse(file);
    ASSERT_TRUE(r.loaded) << "status " << r.song->status;
    EXPECT_EQ(r.song->reading, ReadingVoices);
    EXPECT_EQ(r.song->noteTracks, 4);
    const std::vector<Note> expected = {{60, 0.0, 0.25}, {70, 0.0, 0.5}, {72, 0.1, 0.2}, {70, 0.5, 1.0}};
    const std::vector<Note> got = NotesOf(*r.song);
    ASSERT_EQ(got.size(), expected.size()) << Describe(got);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(std::get<0>(got[i]), std::get<0>(expected[i])) << i << ": " << Describe(got);
        EXPECT_NEAR(std::get<1>(got[i]), std::get<1>(expected[i]), 1e-6) << i << ": " << Describe(got);
        EXPECT_NEAR(std::get<2>(got[i]), std::get<2>(expected[i]), 1e-6) << i << ": " << Describe(got);
    }
}

TEST(MidiReading, PianoSongsKeepTheirHands) {
    auto ch0 = [](int key) { return OneNote(0, key); };
    struct Case {
        const char* name;
        Bytes file;
        std::vector<int> part0Keys, part1Keys;
    };
    const Case cases[] = {
        {"two channel-0 tracks", Song(480, {Track({Tempo(0, 500000)}), ch0(72), ch0(48)}), {72}, {48}},
        {"the third channel-0 track joins the first hand",
         Song(480, {ch0(72), ch0(48), ch0(60)}),
         {72, 60},
         {48}},
        {"channels 1 and 2: channel 1 is the first hand",
         Song(480, {Track({On(0, 2, 48), On(0, 1, 72), Off(480, 1, 72), Off(0, 2, 48)})}),
         {72},
         {48}},
        {"channel 1 alone is the second hand", Song(480, {OneNote(1, 72)}), {}, {72}},
        // Channel 2 coming before channel 0 anywhere is what the two-hand rule allows.
        {"channel 2 before channel 0 in one track",
         Song(480, {Track({On(0, 2, 48), Off(10, 2, 48), On(0, 0, 72), Off(10, 0, 72)})}),
         {},
         {48, 72}},
        {"no notes at all", Song(480, {Track({Tempo(0, 400000)})}), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed r = Parse(c.file);
        ASSERT_TRUE(r.loaded);
        EXPECT_EQ(r.song->reading, ReadingHands);
        ASSERT_EQ(r.song->partCount, 2);
        for (int p = 0; p < 2; ++p) {
            const std::vector<int>& keys = p == 0 ? c.part0Keys : c.part1Keys;
            const SongPart& part = r.song->parts[p];
            ASSERT_EQ(part.noteCount, static_cast<int>(keys.size())) << "part " << p;
            for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(part.notes[i].key, keys[i]);
            EXPECT_EQ(part.colour, p);
        }
    }
}

TEST(MidiReading, OtherFilesAreReadByVoices) {
    const Bytes drums = Track({On(0, 9, 36), Off(240, 9, 36), On(0, 9, 38), Off(240, 9, 38)});
    Bytes sixteen;
    for (int ch = 15; ch >= 0; --ch) sixteen = Cat({sixteen, On(ch == 15 ? 0 : 10, ch, 40 + ch)});
    for (int ch = 0; ch < 16; ++ch) sixteen = Cat({sixteen, Off(ch == 0 ? 100 : 0, ch, 40 + ch)});
    auto ch0 = [](int key) { return OneNote(0, key); };

    struct Voice {
        int track, channel, program, notes;
        const char* name;
    };
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Voice> voices;
        int percussion;
    };
    const Case cases[] = {
        {"drums only", Song(480, {drums}), {}, 2},
        {"drums and a named piano",
         Song(480,
              {drums, Track({Name("Piano \xE9t\xE9"), Program(0, 0, 0), On(10, 0, 60), Off(10, 0, 60)})}),
         {{1, 0, 0, 1, "Piano \xC3\xA9t\xC3\xA9"}},
         2},
        {"sixteen channels in the order they first sound",
         Song(480, {Chunk("MTrk", Cat({Program(0, 3, 40), sixteen}))}),
         {{0, 15, -1, 1, ""},
          {0, 14, -1, 1, ""},
          {0, 13, -1, 1, ""},
          {0, 12, -1, 1, ""},
          {0, 11, -1, 1, ""},
          {0, 10, -1, 1, ""},
          {0, 8, -1, 1, ""},
          {0, 7, -1, 1, ""},
          {0, 6, -1, 1, ""},
          {0, 5, -1, 1, ""},
          {0, 4, -1, 1, ""},
          {0, 3, 40, 1, ""},
          {0, 2, -1, 1, ""},
          {0, 1, -1, 1, ""},
          {0, 0, -1, 1, ""}},
         1},
        {"four channel-0 tracks",
         Song(480, {Track({Tempo(0, 500000)}), ch0(60), ch0(62), ch0(64), ch0(65)}),
         {{1, 0, -1, 1, ""}, {2, 0, -1, 1, ""}, {3, 0, -1, 1, ""}, {4, 0, -1, 1, ""}},
         0},
        {"channel 2 after channel 0",
         Song(480, {OneNote(0, 60), OneNote(2, 62)}),
         {{0, 0, -1, 1, ""}, {1, 2, -1, 1, ""}},
         0},
        {"channel 2 after channel 0 in one track",
         Song(480, {Track({On(0, 2, 48), Off(10, 2, 48), On(0, 0, 60), Off(10, 0, 60), On(0, 2, 62),
                           Off(10, 2, 62)})}),
         {{0, 2, -1, 2, ""}, {0, 0, -1, 1, ""}},
         0},
        // The rule looks at every note-on of a key, a silent one too.
        {"channel 2 after a silent note-on of channel 0",
         Song(480, {Track({On(0, 0, 60, 0), On(0, 2, 62), Off(10, 2, 62)})}),
         {{0, 2, -1, 1, ""}},
         0},
        // A data byte has seven bits: a program past them would name no instrument.
        {"a program change's data byte over 127",
         Song(480, {Track({Program(0, 3, 0xA8), On(10, 3, 60), Off(10, 3, 60)})}),
         {{0, 3, 40, 1, ""}},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed r = Parse(c.file);
        ASSERT_TRUE(r.loaded) << "status " << r.song->status;
        EXPECT_EQ(r.song->reading, ReadingVoices);
        EXPECT_EQ(r.song->percussionNotes, c.percussion);
        ASSERT_EQ(r.song->partCount, static_cast<int>(c.voices.size()));
        for (size_t v = 0; v < c.voices.size(); ++v) {
            const SongPart& part = r.song->parts[v];
            SCOPED_TRACE("voice " + std::to_string(v));
            EXPECT_EQ(part.track, c.voices[v].track);
            EXPECT_EQ(part.channel, c.voices[v].channel);
            EXPECT_EQ(part.program, c.voices[v].program);
            EXPECT_EQ(part.noteCount, c.voices[v].notes);
            EXPECT_STREQ(part.name, c.voices[v].name);
            EXPECT_EQ(part.colour, static_cast<int>(v));
        }
        EXPECT_FALSE(r.song->truncated);
    }
}

TEST(MidiReading, FilesTheSynthesiserCannotPlayAreRefusedWithTheirCause) {
    const Bytes good = Song(480, {OneNote(0, 60)});
    const Bytes header = Header(480, 1, 1);
    Bytes longHeader = Chunk("MThd", {0, 1, 0, 1, 1, 0xE0, 0, 0});
    struct Case {
        const char* name;
        Bytes file;
        int32_t status;
        int64_t offset;  // -1: the length of the file
    };
    const Case cases[] = {
        {"empty", {}, MidiInvalidFile, 0},
        {"one byte", {'M'}, MidiInvalidFile, 0},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'}, MidiInvalidFile, 0},
        {"header cut short", Bytes(header.begin(), header.begin() + 9), MidiCutShort, -1},
        {"header of eight bytes", Cat({longHeader, OneNote(0, 60)}), MidiInvalidFile, 0},
        {"format 3", Cat({Header(480, 3, 1), OneNote(0, 60)}), MidiInvalidFile, 0},
        {"division 0", Cat({Header(0, 1, 1), OneNote(0, 60)}), MidiInvalidFile, 0},
        {"time-code division", Cat({Header(0xE728, 1, 1), OneNote(0, 60)}), MidiSmpteTiming, 0},
        {"a declared track missing", Cat({Header(480, 1, 2), OneNote(0, 60)}), MidiCutShort, -1},
        {"a track cut inside an event", Bytes(good.begin(), good.end() - 2), MidiCutShort, -1},
        {"a data byte with no status before it", Cat({header, Chunk("MTrk", {0x00, 60, 64})}), MidiDamaged,
         22},
        {"a tempo event of four bytes",
         Cat({header, Chunk("MTrk", Cat({Event(0, {0xFF, 0x51, 0x04, 1, 2, 3, 4}), On(0, 0, 60)}))}),
         MidiDamaged, 22},
        {"an escaped system-exclusive event", Cat({header, Chunk("MTrk", Event(0, {0xF7, 1, 0xF7}))}),
         MidiDamaged, 22},
        {"a delta time of five bytes",
         Cat({header, Chunk("MTrk", {0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1})}), MidiDamaged, 22},
        {"a chunk name that is not text", Cat({header, Chunk("MT\xF2k", {})}), MidiDamaged, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed r = Parse(c.file);
        EXPECT_FALSE(r.loaded);
        EXPECT_EQ(r.song->status, c.status);
        const int64_t offset = c.offset < 0 ? static_cast<int64_t>(c.file.size()) : c.offset;
        if (c.status == MidiCutShort || c.status == MidiDamaged) {
            EXPECT_EQ(r.song->failureOffset, offset);
        }
    }
    // Every shorter piece of a good file is refused as cut short, never read past its end.
    for (size_t n = 14; n < good.size(); ++n) {
        const Parsed r = Parse(Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(n)));
        EXPECT_EQ(r.song->status, MidiCutShort) << n << " bytes";
    }
    const Parsed empty = Parse(Header(480, 1, 0));
    EXPECT_TRUE(empty.loaded) << "a file of no tracks is an empty song";
}

TEST(MidiReading, FailuresInWords) {
    struct Case {
        int32_t status;
        int64_t offset;
        double duration;
        const char* reason;
        const char* text;
    };
    const Case cases[] = {
        {MidiOk, 0, 0, "", ""},
        {MidiInvalidFile, 0, 0, "", "Not a MIDI file"},
        {MidiCutShort, 1234, 0, "", "Cut short at byte 1234"},
        {MidiDamaged, 22, 0, "", "Damaged at byte 22"},
        {MidiSmpteTiming, 0, 0, "", "SMPTE timing is not supported"},
        {MidiTooLong, 0, 1800.52, "", "Longer than 30 minutes (1800.5 s)"},
        {MidiTooLong, 0, 1800.001, "", "Longer than 30 minutes (1800.001 s)"},
        {MidiTooLong, 0, 1800.0000001, "", "Longer than 30 minutes (1800.001 s)"},
        {MidiReadError, 0, 0, "No such file or directory", "Cannot be read: No such file or directory"},
        {MidiTooLarge, 2147483648, 0, "File too large",
         "Too large: 2147483648 bytes, over the memory limit of 1.5 GB"},
    };
    SetSongMemoryLimit(int64_t{3} << 29);
    for (const Case& c : cases) {
        SongData song{};
        song.status = c.status;
        song.failureOffset = c.offset;
        song.duration = c.duration;
        song.failureReason = c.reason;
        EXPECT_EQ(MidiLoadFailureText(song), c.text);
    }
    SongData counted{};
    counted.status = MidiTooLarge;
    counted.failureOffset = 120'000'000;
    counted.notesFound = 150'000'000;
    EXPECT_EQ(
        MidiLoadFailureText(counted),
        "Too large: 150000000 notes in 120000000 bytes would take 1.8 GB, over the memory limit of 1.5 GB");
    SetSongMemoryLimit(0);
}

TEST(MidiReading, SongsPastTheLimitsLoadWhatFitsAndSaySo) {
    // Notes are kept whole up to the memory limit; past it the song is refused with its figures,
    // before its notes are stored.
    constexpr int64_t kNotes = 1'000'010;
    Bytes many{0x00, 0x90, 60, 64};
    many.reserve(static_cast<size_t>(kNotes) * 6 + 64);
    for (int64_t i = 0; i < kNotes; ++i) {
        if (i > 0) many.insert(many.end(), {0x00, 60, 64});
        many.insert(many.end(), {0x01, 60, 0});
    }
    const Bytes crowdedFile = Song(960, {Chunk("MTrk", many)});
    const Parsed crowded = Parse(crowdedFile);
    ASSERT_TRUE(crowded.loaded);
    EXPECT_FALSE(crowded.song->truncated);
    EXPECT_EQ(crowded.song->parts[0].noteCount, kNotes);
    EXPECT_EQ(MidiLoadNoticeText(*crowded.song), "");

    SetSongMemoryLimit(SongMemoryNeeded(static_cast<int64_t>(crowdedFile.size()), kNotes) - 1);
    const Parsed refused = Parse(crowdedFile);
    SetSongMemoryLimit(0);
    EXPECT_FALSE(refused.loaded);
    EXPECT_EQ(refused.song->status, MidiTooLarge);
    EXPECT_EQ(refused.song->notesFound, kNotes);
    EXPECT_EQ(refused.song->noteStoreSize, 0) << "refused before any note was stored";

    // More voices than a song keeps: the first to sound are kept.
    Bytes file = Header(480, 1, kMaxParts + 2);
    for (int t = 0; t < kMaxParts + 2; ++t) file = Cat({file, Track({On(static_cast<uint32_t>(t), 0, 60)})});
    const Parsed voices = Parse(file);
    ASSERT_TRUE(voices.loaded);
    EXPECT_TRUE(voices.song->truncated);
    EXPECT_EQ(voices.song->partCount, kMaxParts);
    EXPECT_EQ(voices.song->parts[kMaxParts - 1].track, kMaxParts - 1);

    // The notice says which voices were left out and where they come from, whatever the notes kept.
    auto tracksOfVoices = [](int tracks, int channels) {
        Bytes out = Header(480, 1, static_cast<uint16_t>(tracks));
        for (int t = 0; t < tracks; ++t) {
            // Every voice of track t sounds on tick t, so the tracks sound one after the other.
            Bytes ons, offs;
            for (int ch = 0, used = 0; used < channels; ++ch) {
                if (ch == kPercussionChannel) continue;
                ons = Cat({ons, On(used == 0 ? static_cast<uint32_t>(t) : 0, ch, 60)});
                offs = Cat({offs, Off(used == 0 ? 1 : 0, ch, 60)});
                ++used;
            }
            out = Cat({out, Chunk("MTrk", Cat({ons, offs}))});
        }
        return out;
    };
    struct Case {
        Bytes file;
        const char* notice;
    };
    const Case cases[] = {
        {file,
         "Too large to show whole: 2 voices past the first 256 are heard but not drawn (tracks 256, 257)"},
        {tracksOfVoices(20, 15),
         "Too large to show whole: 44 voices past the first 256 are heard but not drawn (tracks 17, 18, 19)"},
        {tracksOfVoices(257, 1),
         "Too large to show whole: 1 voice past the first 256 is heard but not drawn (track 256)"},
        {tracksOfVoices(34, 15),
         "Too large to show whole: 254 voices past the first 256 are heard but not drawn (tracks 17, 18, 19, "
         "20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32 and 1 more)"},
        {tracksOfVoices(3, 15), ""},
    };
    for (const Case& c : cases) {
        const Parsed r = Parse(c.file);
        ASSERT_TRUE(r.loaded);
        EXPECT_EQ(MidiLoadNoticeText(*r.song), c.notice);
    }
}

TEST(MidiReading, SongsWithoutNotesAreToldApart) {
    struct Case {
        const char* name;
        Bytes file;
        bool hasNotes;
    };
    const Case cases[] = {
        {"no tracks", Header(480, 1, 0), false},
        {"only a tempo and a program",
         Song(480, {Track({Tempo(0, 400000), Program(0, 0, 5), EndOfTrack(960)})}), false},
        {"only note-offs", Song(480, {Track({Off(0, 0, 60), Event(0, {0x90, 62, 0})})}), false},
        {"drums alone", Song(480, {Track({On(0, 9, 36), Off(10, 9, 36)})}), true},
        {"one note", Song(480, {Track({On(0, 0, 60), Off(10, 0, 60)})}), true},
    };
    for (const Case& c : cases) {
        const Parsed r = Parse(c.file);
        ASSERT_TRUE(r.loaded) << c.name;
        EXPECT_EQ(SongHasNotes(*r.song), c.hasNotes) << c.name;
    }
}

class MidiFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("dorvik-midi-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const char* name, const Bytes& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path dir_;
};

TEST_F(MidiFileTest, UnreadablePathsSayWhy) {
    // A pipe would wait for a writer for ever if it were opened.
    const std::string fifo = (dir_ / "pipe.mid").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        int error;  // the system's reason the song tells
    };
    for (const Case& c :
         {Case{(dir_ / "missing.mid").string(), ENOENT}, Case{dir_.string(), EISDIR}, Case{fifo, EINVAL}}) {
        SCOPED_TRACE(c.path);
        auto song = NewSong();
        EXPECT_FALSE(ReadMidiFile(*song, c.path));
        EXPECT_EQ(song->status, MidiReadError);
        EXPECT_EQ(MidiLoadFailureText(*song), std::string("Cannot be read: ") + std::strerror(c.error));
        // The bytes alone: the same reason, after the file's name.
        std::vector<uint8_t> bytes{1, 2, 3};
        const Failure read = ReadFileBytes(c.path, bytes);
        EXPECT_NE(read.kind, FailureKind::None);
        EXPECT_EQ(read.text, c.path + ": " + std::strerror(c.error));
        EXPECT_TRUE(bytes.empty());
    }
}

TEST_F(MidiFileTest, FilesLargerThanTheReaderTakesAreRefusedUnread) {
    // A good song padded with a hole: reading it whole would take its full size in memory.
    const Bytes song = Song(480, {Track({On(0, 0, 60), Off(480, 0, 60)})});
    struct Case {
        uint64_t size;
        bool loads;
    };
    constexpr uint64_t kLimit = uint64_t{64} << 20;
    SetSongMemoryLimit(static_cast<int64_t>(kLimit));
    for (const Case c : {Case{kLimit - 4096, true}, Case{kLimit + 1, false},
                         Case{kMaxMidiFileBytes + 1, false}, Case{uint64_t{1} << 40, false}}) {
        const std::string path = Write("padded.mid", song);
        std::filesystem::resize_file(path, c.size);
        auto parsed = NewSong();
        EXPECT_EQ(ReadMidiFile(*parsed, path), c.loads) << c.size;
        if (!c.loads) {
            EXPECT_EQ(parsed->status, MidiTooLarge) << c.size;
            EXPECT_EQ(parsed->failureOffset, static_cast<int64_t>(c.size));
            std::vector<uint8_t> bytes;
            const Failure read = ReadFileBytes(path, bytes);
            EXPECT_EQ(read.kind, FailureKind::SourceFormat) << c.size;
            EXPECT_EQ(read.text, path + ": " + std::strerror(EFBIG));
        }
    }
    SetSongMemoryLimit(0);
}

TEST_F(MidiFileTest, ReadingAWindowAtATimeGivesTheSongReadWhole) {
    // Three tracks whose notes interleave, two on one channel; a name and a system-exclusive
    // message longer than the least window; running status throughout. Read through the least
    // windows, every event head and meta straddles a refill somewhere.
    auto track = [](int t, uint8_t channel, const Bytes& head) {
        Bytes body = head;
        for (int i = 0; i < 1500; ++i) {
            const auto key = static_cast<uint8_t>(30 + (i * 7 + t * 5) % 60);
            body = Cat({body,
                        Event(static_cast<uint32_t>(1 + (i + t) % 3),
                              {static_cast<uint8_t>(0x90 | channel), key, static_cast<uint8_t>(1 + i % 127)}),
                        Bytes{static_cast<uint8_t>(i % 5), key, 0}});
        }
        return Chunk("MTrk", Cat({body, EndOfTrack()}));
    };
    const std::string longName(300, 'n');
    const Bytes named = Event(0, Cat({Bytes{0xFF, 0x03}, Vlq(300), Bytes(longName.begin(), longName.end())}));
    const Bytes sysex = Event(0, Cat({Bytes{0xF0}, Vlq(200), Bytes(199, 0x11), Bytes{0xF7}}));
    // Voices (the last two sharing a channel), and the same tracks read as two hands.
    auto song = [&](uint8_t channel) {
        return Song(96, {track(0, 0, Cat({Name("Lower"), Tempo(0, 400000)})), track(1, channel, named),
                         track(2, channel, Cat({sysex, Name("Upper")}))});
    };
    const Bytes file = song(3);
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"song.mid", file},
        {"hands.mid", song(1)},
        {"song.rmi", Rmid(file)},
        {"cut.mid", Bytes(file.begin(), file.end() - 200)},
        {"damaged.mid", Cat({Bytes(file.begin(), file.end() - 40), Bytes{0x00, 0xF4}, Bytes(38, 0)})}};
    for (const Case& c : cases) {
        const Parsed whole = Parse(c.bytes);
        const std::string path = Write(c.name, c.bytes);
        for (const size_t window : {size_t{1}, size_t{4096}, kMidiWindowBytes}) {
            SCOPED_TRACE(std::string(c.name) + ", windows of " + std::to_string(window) + " bytes");
            auto read = NewSong();
            EXPECT_EQ(StreamMidiFile(*read, path, window), whole.loaded);
            EXPECT_EQ(read->status, whole.song->status);
            EXPECT_EQ(read->failureOffset, whole.song->failureOffset);
            EXPECT_EQ(read->duration, whole.song->duration);
            EXPECT_EQ(NotesOf(*read), NotesOf(*whole.song));
            ASSERT_EQ(read->partCount, whole.song->partCount);
            for (int p = 0; p < read->partCount; ++p) {
                EXPECT_STREQ(read->parts[p].name, whole.song->parts[p].name);
                for (int i = 0; i < read->parts[p].noteCount; ++i)
                    ASSERT_EQ(read->parts[p].notes[i].velocity, whole.song->parts[p].notes[i].velocity) << i;
            }
        }
    }
    EXPECT_EQ(Parse(file).song->partCount, 3);
    EXPECT_EQ(Parse(song(1)).song->reading, ReadingHands);

    // Read a window at a time, a song is refused by the same figures as one read whole.
    const std::string path = Write("song.mid", file);
    const int64_t notes = static_cast<int64_t>(NotesOf(*Parse(file).song).size());
    const int64_t needed = SongMemoryNeeded(static_cast<int64_t>(file.size()), notes);
    SetSongMemoryLimit(needed - 1);
    auto refused = NewSong();
    EXPECT_FALSE(StreamMidiFile(*refused, path, kMidiWindowBytes));
    EXPECT_EQ(refused->status, MidiTooLarge);
    EXPECT_EQ(refused->notesFound, notes);
    EXPECT_EQ(refused->noteStoreSize, 0);
    SetSongMemoryLimit(needed);
    auto taken = NewSong();
    EXPECT_TRUE(StreamMidiFile(*taken, path, kMidiWindowBytes));
    SetSongMemoryLimit(0);

    // A file that ends before the size it had when it was opened is a read that failed, not a
    // song cut short.
    const std::string cut = Write("shrunk.mid", file);
    std::filesystem::resize_file(cut, file.size() / 2);
    const int fd = open(cut.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    FileRegion shrunk{fd, 0, file.size(), 0};
    auto partial = NewSong();
    EXPECT_FALSE(ParseSongIn(*partial, shrunk, kMidiWindowBytes));
    close(fd);
    EXPECT_EQ(partial->status, MidiReadError);
    EXPECT_EQ(MidiLoadFailureText(*partial), "Cannot be read: the file shrank while it was read");
}

TEST_F(MidiFileTest, AFileThatEndsInsideATempoOrMeterIsAReadThatFailed) {
    // The file ends right after the head of an event whose data the reader must have: what its
    // window holds of it is nothing, and the read that failed is the song's cause.
    const Bytes meter = Event(0, {0xFF, 0x58, 0x04, 4, 2, 24, 8});
    for (const Bytes& event : {Tempo(0, 400000), meter}) {
        Bytes notes;
        for (int i = 0; i < 40; ++i) notes = Cat({notes, On(1, 0, 60 + i % 12), Off(1, 0, 60 + i % 12)});
        const Bytes file = Song(96, {Track({notes, event, On(1, 0, 60), Off(1, 0, 60)})});
        const Bytes head(event.begin(), event.begin() + 4);
        const auto at = std::search(file.begin(), file.end(), head.begin(), head.end()) - file.begin();
        const std::string path = Write("ends.mid", Bytes(file.begin(), file.begin() + at + 4));
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        FileRegion region{fd, 0, file.size(), 0};
        auto song = NewSong();
        EXPECT_FALSE(ParseSongIn(*song, region, TrackReader::kLeastWindow));
        close(fd);
        EXPECT_EQ(MidiLoadFailureText(*song), "Cannot be read: the file shrank while it was read");
    }
}

TEST_F(MidiFileTest, SongsLongerThanThirtyMinutesAreRefused) {
    // Tempo 1,000,000 us per quarter at division 1: tick t is t seconds.
    auto songEndingAt = [](uint32_t tick) {
        return Song(1, {Track({Tempo(0, 1000000), On(0, 0, 60), Off(tick, 0, 60)})});
    };
    auto shortSong = NewSong();
    EXPECT_TRUE(ReadMidiFile(*shortSong, Write("short.mid", songEndingAt(1800))));
    EXPECT_DOUBLE_EQ(shortSong->duration, 1800.0);

    auto longSong = NewSong();
    EXPECT_FALSE(ReadMidiFile(*longSong, Write("long.mid", songEndingAt(1801))));
    EXPECT_EQ(longSong->status, MidiTooLong);
    EXPECT_EQ(MidiLoadFailureText(*longSong), "Longer than 30 minutes (1801.0 s)");
}

TEST(DemoSong, LoadsAsTwoHandsOfAPianoPiece) {
    const char* source = std::getenv("DORVIK_SOURCE_DIR");
    const std::string path = std::string(source != nullptr ? source : ".") + "/examples/demo_song.mid";
    auto song = NewSong();
    ASSERT_TRUE(ReadMidiFile(*song, path)) << path << ": status " << song->status;
    EXPECT_EQ(song->reading, ReadingHands);
    EXPECT_EQ(song->noteTracks, 2);
    EXPECT_GT(song->parts[0].noteCount, 50);
    EXPECT_GT(song->parts[1].noteCount, 50);
    // Every note is closed by its own note-off, and the left hand lies below the right.
    for (int p = 0; p < 2; ++p) {
        const SongPart& part = song->parts[p];
        for (int i = 0; i < part.noteCount; ++i) EXPECT_GT(part.notes[i].end, part.notes[i].start) << i;
    }
    EXPECT_GT(song->parts[0].notes[0].key, song->parts[1].notes[0].key);
}

}  // namespace
