// The reader's chunk walk and event decoding: result codes, running status, lengths, and that no
// file, however broken, makes it read past its data.
#include "midi/midi_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "resources/strings.h"
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

// A type 1 song: a tempo track and two hands on channel 0.
Bytes TwoHandSong() {
    return Cat({Header(480, 1, 3), Track({Tempo(0, 500000), EndOfTrack()}),
                Track({On(0, 0, 60), Off(480, 0, 60), On(0, 0, 64), Off(480, 0, 64), EndOfTrack()}),
                Track({On(0, 0, 48), Off(960, 0, 48), EndOfTrack()})});
}

TEST(MidiReader, ResultCodesOfWholeFiles) {
    const Bytes song = TwoHandSong();
    struct Case {
        const char* name;
        Bytes bytes;
        bool loaded;
        int32_t status;
        int part0Notes;
        int part1Notes;
    };
    const Case cases[] = {
        {"zero bytes", {}, true, 0, 0, 0},
        {"header and tempo track only", Cat({Header(480), Track({Tempo(0, 400000), EndOfTrack()})}), true, 0,
         0, 0},
        {"two-hand type 1 song", song, true, 0, 2, 1},
        {"garbage before any chunk", Cat({Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 4, 'M', 'I', 'D', 'I'}, song}),
         false, 1, 0, 0},
        {"unknown chunk after the notes", Cat({song, Chunk("XFIH", {1, 2, 3})}), true, 1, 2, 1},
        {"unknown MT chunk name is read as a track",
         Cat({Header(480), Chunk("MTxx", Cat({On(0, 0, 60), Off(10, 0, 60)}))}), true, 0, 1, 0},
        {"track before the header", Cat({Track({On(0, 0, 60), Off(10, 0, 60)}), Header(480)}), true, 3, 0, 0},
        {"header with division 0", Cat({Header(0), Track({On(0, 0, 60), Off(10, 0, 60)})}), false, 1, 0, 0},
        {"note on channel 9", Cat({Header(480), Track({On(0, 0, 60), Off(10, 0, 60), On(0, 9, 36)})}), false,
         2, 1, 0},
        {"velocity-0 note-on on channel 9 is refused too", Cat({Header(480), Track({On(0, 9, 36, 0)})}),
         false, 2, 0, 0},
        {"note-off on channel 9 is ignored",
         Cat({Header(480), Track({On(0, 0, 60), Off(10, 9, 60), Off(10, 0, 60)})}), true, 0, 1, 0},
        {"a few garbage bytes after the song", Cat({song, Bytes{'x', 'y', 'z'}}), true, 1, 2, 1},
        {"a chunk header cut short after the song", Cat({song, Bytes{'M', 'T', 'r', 'k', 0}}), true, 0, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed r = Parse(c.bytes);
        EXPECT_EQ(r.loaded, c.loaded);
        EXPECT_EQ(r.song->status, c.status);
        EXPECT_EQ(r.song->parts[0].noteCount, c.part0Notes);
        EXPECT_EQ(r.song->parts[1].noteCount, c.part1Notes);
    }
}

TEST(MidiReader, HeaderLongerThanSixBytesIsSkippedByItsLength) {
    Bytes header = Chunk("MThd", {0, 1, 0, 1, 0x01, 0xE0, 0xAA, 0xBB, 0xCC, 0xDD});
    const Parsed r = Parse(Cat({header, Track({On(0, 0, 60), Off(480, 0, 60)})}));
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.song->parts[0].noteCount, 1);
    EXPECT_FLOAT_EQ(r.song->parts[0].notes[0].end, 0.501041f);
}

TEST(MidiReader, DivisionWithTopBitSetIsAPlainNumber) {
    const Parsed r = Parse(Cat({Header(0x8000 | 480), Track({On(0, 0, 60), Off(0, 0, 60)})}));
    ASSERT_TRUE(r.loaded);
    // 500,000 us / 33,248 ticks, one tick counted.
    EXPECT_FLOAT_EQ(r.song->parts[0].notes[0].start, 15e-6f);
}

TEST(MidiReader, RunningStatusSurvivesMetaEventsAndTracks) {
    // After a text meta event, a data byte without a status is the type of another meta event:
    // here 0x51, a tempo change to 250,000 us that then times the note.
    const Bytes track1 = Cat({Event(0, {0xFF, 0x01, 0x00}), Event(0, {0x51, 0x03, 0x03, 0xD0, 0x90}),
                              On(0, 0, 60), Off(480, 0, 60)});
    // The second track starts with a data byte: the running status is still the note-off of track 1.
    const Bytes track2 = Cat({Bytes{0x00, 62, 0x00}, On(0, 0, 64), Event(480, {64, 0})});
    const Parsed r = Parse(Cat({Header(480), Chunk("MTrk", track1), Chunk("MTrk", track2)}));
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.song->parts[0].noteCount, 1);
    EXPECT_FLOAT_EQ(r.song->parts[0].notes[0].end, 481 * 250000 / 480 / 1e6f);
    // Track 2: the running-status note-off of key 62 ends nothing; then a note-on of 64 ended by a
    // running-status note-on with velocity 0.
    ASSERT_EQ(r.song->parts[1].noteCount, 1);
    EXPECT_EQ(r.song->parts[1].notes[0].key, 64);
    EXPECT_GT(r.song->parts[1].notes[0].end, 0.0f);
}

TEST(MidiReader, DeltaTimesStopAfterThreeBytes) {
    // 81 80 80 00: the third byte is taken whole, giving (1*128 + 0)*128 + 0x80, and the fourth
    // byte is a data byte under the running note-on status: key 0, velocity 0x40.
    const Bytes track = Cat({On(0, 0, 60), Bytes{0x81, 0x80, 0x80, 0x00, 0x40}, Off(0, 0, 0), Off(0, 0, 60)});
    const Parsed r = Parse(Cat({Header(480), Chunk("MTrk", track)}));
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.song->parts[0].noteCount, 2);
    EXPECT_EQ(r.song->parts[0].notes[1].key, 0);
    const double expected = (16512.0 + 1) * 500000 / 480 / 1e6;
    EXPECT_NEAR(r.song->parts[0].notes[1].start, expected, 1e-5);
}

TEST(MidiReader, TempoIsReadFromItsFirstThreeBytesWhateverTheLength) {
    // Length 4: tempo 250,000 from the first three bytes, the fourth skipped through the length.
    const Bytes track =
        Cat({Event(0, {0xFF, 0x51, 0x04, 0x03, 0xD0, 0x90, 0x7F}), On(0, 0, 60), Off(480, 0, 60)});
    const Parsed r = Parse(Cat({Header(480), Chunk("MTrk", track)}));
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.song->parts[0].noteCount, 1);
    EXPECT_FLOAT_EQ(r.song->parts[0].notes[0].end, 481 * 250000 / 480 / 1e6f);
}

TEST(MidiReader, SkippedEventsKeepTheStreamInStep) {
    // Controllers, program change, pressure, pitch bend, sysex and undefined statuses are all
    // stepped over by their sizes; the note after them must still decode.
    const Bytes track =
        Cat({Event(0, {0xB0, 7, 100}), Event(0, {0xC0, 0}), Event(0, {0xD0, 5}), Event(0, {0xA0, 60, 5}),
             Event(0, {0xE0, 0, 64}), Event(0, {0xF0, 3, 1, 2, 0xF7}), Event(0, {0xF7, 1, 0xF7}),
             Event(0, {0xF4}), On(0, 0, 61), Off(10, 0, 61)});
    const Parsed r = Parse(Cat({Header(480), Chunk("MTrk", track)}));
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.song->parts[0].noteCount, 1);
    EXPECT_EQ(r.song->parts[0].notes[0].key, 61);
}

TEST(MidiReader, MalformedDataBytesStayWithinTheTables) {
    // Key bytes above 127 drop the event; a velocity above 127 is taken as the loudest.
    const Bytes track =
        Cat({Event(0, {0x90, 0x80, 0x40}), Event(0, {0x80, 0xFF, 0x00}), On(0, 0, 60, 0xC0), Off(10, 0, 60)});
    const Parsed r = Parse(Cat({Header(480), Chunk("MTrk", track)}));
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.song->parts[0].noteCount, 1);
    EXPECT_EQ(r.song->parts[0].notes[0].key, 60);
    EXPECT_EQ(r.song->parts[0].notes[0].velocity, 127);
}

TEST(MidiReader, ChunkLengthBeyondTheDataEndsTheFile) {
    const Bytes events = Cat({On(0, 0, 60), Off(480, 0, 60), On(0, 0, 62), Off(480, 0, 62)});
    const Parsed r = Parse(Cat({Header(480), Chunk("MTrk", events, 0x7FFFFFF0)}));
    ASSERT_TRUE(r.loaded);
    EXPECT_EQ(r.song->status, 0);
    EXPECT_EQ(r.song->parts[0].noteCount, 2);
    EXPECT_EQ(r.song->noteTracks, 1);
}

TEST(MidiReader, EveryTruncationIsSafeAndKeepsWhatWasRead) {
    const Bytes whole = TwoHandSong();
    const Parsed full = Parse(whole);
    ASSERT_TRUE(full.loaded);
    const size_t firstNoteTrackEnd =
        Header(480).size() + Track({Tempo(0, 500000), EndOfTrack()}).size() +
        Track({On(0, 0, 60), Off(480, 0, 60), On(0, 0, 64), Off(480, 0, 64), EndOfTrack()}).size();
    for (size_t n = 0; n <= whole.size(); ++n) {
        SCOPED_TRACE("first " + std::to_string(n) + " bytes");
        const Parsed r = Parse(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(n)));
        EXPECT_TRUE(r.loaded);
        EXPECT_LE(r.song->parts[0].noteCount, full.song->parts[0].noteCount);
        EXPECT_LE(r.song->parts[1].noteCount, full.song->parts[1].noteCount);
        if (n >= firstNoteTrackEnd) {
            EXPECT_EQ(r.song->parts[0].noteCount, 2) << "the first hand was complete";
        }
    }
}

TEST(MidiReader, EventsCutOffByTheEndOfTheDataAreDropped) {
    struct Case {
        const char* name;
        Bytes tail;
    };
    const Case cases[] = {
        {"delta time cut off", {0x81}},
        {"two-byte delta cut off", {0x81, 0x80}},
        {"status without data", {0x00, 0x90}},
        {"note-on without velocity", {0x00, 0x90, 0x3E}},
        {"meta without type", {0x00, 0xFF}},
        {"meta length cut off", {0x00, 0xFF, 0x01, 0x85}},
        {"meta data cut off", {0x00, 0xFF, 0x01, 0x05, 'a'}},
        {"tempo data cut off", {0x00, 0xFF, 0x51, 0x03, 0x07}},
        {"sysex cut off", {0x00, 0xF0, 0x10, 1, 2}},
        {"controller cut off", {0x00, 0xB0, 0x07}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes events = Cat({On(0, 0, 60), Off(10, 0, 60), c.tail});
        const Parsed r =
            Parse(Cat({Header(480), Chunk("MTrk", events, static_cast<int64_t>(events.size()) + 10)}));
        EXPECT_TRUE(r.loaded);
        EXPECT_EQ(r.song->parts[0].noteCount, 1);
        EXPECT_EQ(r.song->noteTracks, 1);
    }
}

TEST(MidiReader, HeaderCutOffBeforeItsDivisionLeavesAnEmptySong) {
    const Bytes header = Header(480);
    for (size_t n = 8; n < header.size(); ++n) {
        const Parsed r = Parse(Bytes(header.begin(), header.begin() + static_cast<ptrdiff_t>(n)));
        EXPECT_TRUE(r.loaded) << n << " bytes";
        EXPECT_EQ(r.song->barLineCount, 0) << "no division, no bar length";
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

TEST_F(MidiFileTest, UnreadablePathsGiveStatus5) {
    for (const std::string& path : {(dir_ / "missing.mid").string(), dir_.string()}) {
        auto song = NewSong();
        EXPECT_FALSE(ReadMidiFile(*song, path)) << path;
        EXPECT_EQ(song->status, MidiReadError) << path;
    }
}

TEST_F(MidiFileTest, SongsLongerThanThirtyMinutesAreRefusedWithTheirStatus) {
    // Tempo 1,000,000 us per quarter at division 1: tick t ends at t + 1 seconds.
    auto songEndingAt = [](uint32_t tick) {
        return Cat({Header(1), Track({Tempo(0, 1000000), On(0, 0, 60), Off(tick, 0, 60)})});
    };
    auto shortSong = NewSong();
    EXPECT_TRUE(ReadMidiFile(*shortSong, Write("short.mid", songEndingAt(1799))));
    EXPECT_DOUBLE_EQ(shortSong->duration, 1800.0);

    auto longSong = NewSong();
    EXPECT_FALSE(ReadMidiFile(*longSong, Write("long.mid", songEndingAt(1800))));
    EXPECT_EQ(longSong->status, MidiOk) << "the length limit leaves the parse's status";
    EXPECT_NEAR(longSong->duration, 1801.0, 1e-3);
    EXPECT_GT(longSong->barLineCount, 0) << "the refused song is complete";
}

TEST(MidiStatusText, EachFailureHasItsWords) {
    EXPECT_STREQ(res::LoadString(MidiStatusStringId(MidiInvalidFile)), "Invalid MIDI file");
    EXPECT_STREQ(res::LoadString(MidiStatusStringId(MidiTooManyTracks)), "Too many tracks");
    EXPECT_STREQ(res::LoadString(MidiStatusStringId(MidiOutOfMemory)), "Out of memory");
    EXPECT_STREQ(res::LoadString(MidiStatusStringId(MidiReadError)), "Error reading file");
    EXPECT_STREQ(res::LoadString(MidiStatusStringId(MidiNoHeader)), "Error");
}

}  // namespace

namespace {

TEST(DemoSong, LoadsAsTwoHandsOfAPianoPiece) {
    const char* source = std::getenv("DORVIK_SOURCE_DIR");
    const std::string path = std::string(source != nullptr ? source : ".") + "/examples/demo_song.mid";
    auto song = NewSong();
    ASSERT_TRUE(ReadMidiFile(*song, path)) << path << ": status " << song->status;
    EXPECT_EQ(song->status, MidiOk);
    EXPECT_EQ(song->noteTracks, 2);
    EXPECT_GT(song->parts[0].noteCount, 50);
    EXPECT_GT(song->parts[1].noteCount, 50);
    EXPECT_GE(song->duration, 60.0);
    EXPECT_LE(song->duration, 120.0);
    // Every note is closed by its own note-off, and the left hand lies below the right.
    for (const SongPart& part : song->parts) {
        for (int i = 0; i < part.noteCount; ++i) EXPECT_GT(part.notes[i].end, part.notes[i].start) << i;
    }
    EXPECT_GT(song->parts[0].notes[0].key, song->parts[1].notes[0].key);
}

}  // namespace
