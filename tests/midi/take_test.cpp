// A take saved as a Standard MIDI File and read back by our own reader: notes keep their timing,
// chords and velocities, nothing is left hanging, and what is no channel message is refused.
#include "midi/take.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "midi/midi_reader.h"
#include "midi/midi_writer.h"
#include "smf_builder.h"

namespace {

// A message as the file holds it: its absolute tick and its bytes.
using FileEvent = std::pair<uint64_t, std::vector<uint8_t>>;

// Walks the one track of a file the writer made (no running status, as it writes none), down to
// the end of the track. Fails the test on anything it does not expect.
std::vector<FileEvent> Events(const std::vector<uint8_t>& file) {
    std::vector<FileEvent> out;
    EXPECT_GE(file.size(), 22u);
    size_t at = 22;  // past the header chunk and the track's id and length
    uint64_t tick = 0;
    while (at < file.size()) {
        uint32_t delta = 0;
        while (file[at] & 0x80) delta = (delta << 7) | (file[at++] & 0x7F);
        tick += (delta << 7) | file[at++];
        const uint8_t status = file[at];
        size_t size = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 2 : 3;
        if (status == 0xFF) size = 3 + file[at + 2];
        out.emplace_back(tick, std::vector<uint8_t>(file.begin() + at, file.begin() + at + size));
        at += size;
        if (status == 0xFF && file[at - size + 1] == 0x2F) break;
    }
    EXPECT_EQ(at, file.size()) << "the end of the track is not the end of the file";
    return out;
}

struct Played {
    double seconds;
    std::vector<uint8_t> bytes;
};

struct Heard {
    int key;
    double start;
    double end;
    int velocity;
};

Take Record(const std::vector<Played>& played) {
    Take take;
    for (const Played& p : played) EXPECT_TRUE(take.Add(p.seconds, p.bytes.data(), p.bytes.size()));
    return take;
}

std::vector<Heard> ReadBack(const std::vector<uint8_t>& file) {
    auto song = std::make_unique<SongData>();
    EXPECT_TRUE(ParseSong(*song, file.data(), file.size())) << MidiLoadFailureText(*song);
    std::vector<Heard> heard;
    for (int p = 0; p < song->partCount; ++p) {
        for (int i = 0; i < song->parts[p].noteCount; ++i) {
            const NoteRecord& n = song->parts[p].notes[i];
            heard.push_back({n.key, n.start, n.end, n.velocity});
        }
    }
    std::sort(heard.begin(), heard.end(), [](const Heard& a, const Heard& b) {
        return std::tie(a.start, a.key) < std::tie(b.start, b.key);
    });
    return heard;
}

TEST(Take, NotesComeBackWithTheirOwnTiming) {
    // Half a tick, plus what the reader's single-precision seconds lose over a few minutes.
    const double tolerance = 0.5 / kWriterTicksPerSecond + 3e-5;
    struct Case {
        const char* what;
        std::vector<Played> played;
        double end;
        std::vector<Heard> expected;
    };
    const std::vector<Case> cases = {
        {"times between ticks",
         {{0.0, {0x90, 60, 90}}, {0.3337, {0x80, 60, 0}}, {1.00049, {0x90, 62, 1}}, {1.5, {0x80, 62, 64}}},
         1.5,
         {{60, 0.0, 0.3337, 90}, {62, 1.00049, 1.5, 1}}},
        {"a chord struck at once",
         {{2.0, {0x90, 64, 100}},
          {2.0, {0x90, 67, 100}},
          {2.0, {0x90, 72, 100}},
          {2.4, {0x80, 64, 0}},
          {2.4, {0x80, 67, 0}},
          {2.41, {0x80, 72, 0}}},
         3.0,
         {{64, 2.0, 2.4, 100}, {67, 2.0, 2.4, 100}, {72, 2.0, 2.41, 100}}},
        {"a note-on of velocity 0 lets go",
         {{0.1, {0x91, 48, 30}}, {0.2, {0x91, 48, 0}}},
         0.2,
         {{48, 0.1, 0.2, 30}}},
        {"keys still held end with the take",
         {{0.0, {0x90, 60, 80}}, {0.5, {0x90, 64, 80}}, {0.75, {0x80, 60, 0}}},
         4.25,
         {{60, 0.0, 0.75, 80}, {64, 0.5, 4.25, 80}}},
        {"a take ended before its last message ends with that message",
         {{0.0, {0x90, 70, 80}}, {1.0, {0xB0, 64, 127}}},
         0.5,
         {{70, 0.0, 1.0, 80}}},
        {"minutes in",
         {{299.9991, {0x90, 21, 127}}, {300.0013, {0x80, 21, 0}}},
         301,
         {{21, 299.9991, 300.0013, 127}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Heard> heard = ReadBack(Record(c.played).FileBytes(c.end));
        ASSERT_EQ(heard.size(), c.expected.size());
        for (size_t i = 0; i < heard.size(); ++i) {
            EXPECT_EQ(heard[i].key, c.expected[i].key) << "note " << i;
            EXPECT_EQ(heard[i].velocity, c.expected[i].velocity) << "note " << i;
            EXPECT_NEAR(heard[i].start, c.expected[i].start, tolerance) << "note " << i;
            EXPECT_NEAR(heard[i].end, c.expected[i].end, tolerance) << "note " << i;
        }
    }
}

TEST(Take, PedalsDownAtTheEndAreLetGo) {
    const Take take = Record({{0.0, {0xB3, 64, 127}},
                              {0.0, {0xB3, 66, 100}},
                              {0.1, {0xB5, 64, 127}},
                              {0.2, {0xB5, 64, 0}},
                              {0.3, {0xC3, 5}},
                              {0.4, {0xE3, 0, 64}}});
    const std::vector<FileEvent> events = Events(take.FileBytes(2.0));
    const uint64_t end = WriterTick(2.0);
    auto at = [&](uint64_t tick, std::vector<uint8_t> bytes) {
        return std::count(events.begin(), events.end(), FileEvent{tick, bytes});
    };
    EXPECT_EQ(at(end, {0xB3, 64, 0}), 1) << "the sustain pedal of channel 4";
    EXPECT_EQ(at(end, {0xB3, 66, 0}), 1) << "the sostenuto pedal of channel 4";
    EXPECT_EQ(at(end, {0xB5, 64, 0}), 0) << "channel 6 let its pedal go itself";
    EXPECT_EQ(at(WriterTick(0.3), {0xC3, 5}), 1) << "a program change keeps its one data byte";
    EXPECT_EQ(at(WriterTick(0.4), {0xE3, 0, 64}), 1);
}

TEST(Take, KeepsOnlyWholeChannelMessages) {
    const std::vector<std::vector<uint8_t>> refused = {
        {},
        {0x90},
        {0x90, 60},           // a note needs its velocity
        {0xC0, 5, 6},         // a program change has one data byte
        {0x90, 0x80, 10},     // a data byte with its top bit set
        {0x3C, 0x40, 0x00},   // running status: no status byte
        {0xF8},               // clock
        {0xF0, 0x7E, 0xF7},   // system exclusive
        {0xFF, 0x2F, 0x00},   // a meta event is file syntax, never played
        {0x90, 60, 64, 0x00}  // one byte too many
    };
    for (const std::vector<uint8_t>& bytes : refused) {
        Take take;
        EXPECT_FALSE(take.Add(1.0, bytes.data(), bytes.size())) << "message of " << bytes.size() << " bytes";
        EXPECT_TRUE(take.Empty());
    }
}

TEST(Take, NeverRunsBackwards) {
    Take take;
    const uint8_t on[] = {0x90, 60, 64};
    const uint8_t off[] = {0x80, 60, 0};
    ASSERT_TRUE(take.Add(1.0, on, 3));
    ASSERT_TRUE(take.Add(0.5, off, 3));  // a clock that stepped back
    ASSERT_TRUE(take.Add(-3.0, on, 3));
    EXPECT_EQ(take.Messages()[1].seconds, 1.0);
    EXPECT_EQ(take.Messages()[2].seconds, 1.0);
    EXPECT_EQ(take.NoteCount(), 2u);
    const std::vector<FileEvent> events = Events(take.FileBytes(0));
    for (size_t i = 1; i < events.size(); ++i) EXPECT_GE(events[i].first, events[i - 1].first);
}

TEST(Take, PausesLongerThanOneDeltaKeepTheirLength) {
    // One delta time holds at most 2^28 - 1 ticks, under 20 hours at this clock.
    const double later = 100'000.0;
    const Take take = Record({{0.0, {0x90, 60, 64}}, {later, {0x80, 60, 0}}});
    const std::vector<FileEvent> events = Events(take.FileBytes(later));
    const auto off =
        std::find_if(events.begin(), events.end(), [](const FileEvent& e) { return e.second[0] == 0x80; });
    ASSERT_NE(off, events.end());
    EXPECT_EQ(off->first, WriterTick(later));
}

TEST(Take, SavedWholeOrNotAtAll) {
    char pattern[] = "/tmp/dorvik-take-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::vector<uint8_t> bytes = Record({{0.0, {0x90, 60, 64}}, {0.5, {0x80, 60, 0}}}).FileBytes(1.0);

    const std::string path = dir + "/take.mid";
    ASSERT_TRUE(SaveMidiFile(path, {'o', 'l', 'd'}).Ok());
    ASSERT_TRUE(SaveMidiFile(path, bytes).Ok());
    std::vector<uint8_t> read;
    ASSERT_TRUE(ReadFileBytes(path, read).Ok());
    EXPECT_EQ(read, bytes) << "the new take replaces the old file";

    // The reason alone, for the caller to put after the name the user gave.
    const Failure missing = SaveMidiFile(dir + "/missing/take.mid", bytes);
    EXPECT_EQ(missing.kind, FailureKind::TargetOpen);
    EXPECT_EQ(missing.text, std::strerror(ENOENT));
    std::filesystem::remove_all(dir);
}

}  // namespace

// A take on its own starts at its first key, whatever the clock read when the pedal went down.
TEST(Take, StartsAtTheFirstKeyWithThePedalAlreadyDown) {
    Take take;
    const std::vector<Played> played = {{100.0, {0xB0, 64, 127}},  // the pedal, 2 s before any key
                                        {100.5, {0x80, 50, 0}},    // a key let go from before the take
                                        {101.0, {0xC0, 5}},       {102.0, {0x90, 60, 90}},
                                        {103.0, {0x80, 60, 0}},   {103.5, {0xB0, 64, 0}}};
    for (const Played& p : played)
        EXPECT_TRUE(take.AddFromFirstKey(p.seconds, p.bytes.data(), p.bytes.size()));
    EXPECT_EQ(take.FirstKeyClock(), 102.0);
    std::vector<FileEvent> events = Events(take.FileBytes(1.5));
    std::erase_if(events, [](const FileEvent& e) { return e.second[0] == 0xFF; });  // the tempo, the end
    const std::vector<FileEvent> expected = {{0, {0xB0, 64, 127}},
                                             {0, {0xC0, 5}},
                                             {0, {0x90, 60, 90}},
                                             {WriterTick(1.0), {0x80, 60, 0}},
                                             {WriterTick(1.5), {0xB0, 64, 0}}};
    EXPECT_EQ(events, expected);
    const std::vector<Heard> heard = ReadBack(take.FileBytes(1.5));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].start, 0.0) << "the first note is where the take begins";

    Take pedalOnly;
    EXPECT_TRUE(pedalOnly.AddFromFirstKey(5.0, played[0].bytes.data(), 3));
    EXPECT_TRUE(pedalOnly.Empty()) << "a pedal alone is no take";
}
