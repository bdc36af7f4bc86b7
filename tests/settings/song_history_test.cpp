// The passes kept of a song over time and the hands chosen for its notes: read back as written,
// old files still read, the oldest passes let go, nothing written through a link, and the hands
// mended as the edits say.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "midi/hand_split.h"
#include "settings/song_hands.h"
#include "settings/song_memory.h"
#include "settings/song_scores.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct DataFolder {
    fs::path home = fs::temp_directory_path() / ("dorvik-history-" + std::to_string(getpid()));
    DataFolder() {
        fs::create_directories(home);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
    }
    ~DataFolder() { fs::remove_all(home); }
    fs::path Songs() const { return home / "dorvik-midi-player" / "songs"; }
};

TEST(PassHistory, EveryPassReadsBackWithItsDateBesideTheBestsAndOldFilesStillRead) {
    DataFolder data;
    const std::string key = "0123456789abcdef-7";
    ScoreMemory memory;
    // An old file of bests alone: its best still reads, and a pass is kept beside it.
    const char old[] = "best 1 = 10 0 0 0 0 5.000 100\n";
    ParseScoreMemory(memory, old, sizeof old - 1);
    ASSERT_NE(memory.Find("1"), nullptr);
    PlayScore pass;
    pass.hits = 12;
    pass.late = 3;
    pass.missed = 1;
    pass.wrong = 2;
    pass.meanErrorMs = 41.5;
    pass.meanOffsetMs = -12.25;
    pass.meanVelocityDelta = 9.5;
    pass.velocityNotes = 15;
    pass.speedPercent = 80;
    EXPECT_TRUE(memory.AddPass("1+2", 1765244400, pass));
    pass.complete = true;
    EXPECT_TRUE(memory.AddPass("1", 1765330800, pass));
    EXPECT_FALSE(memory.AddPass("1", 1765330800, PlayScore{})) << "a pass of nothing is none";
    EXPECT_FALSE(memory.AddPass("left", 1765330800, pass));
    ASSERT_TRUE(WriteScoreMemory(key, memory));

    const ScoreMemory back = ReadScoreMemory(key);
    ASSERT_EQ(back.passes.size(), 2u);
    EXPECT_NE(back.Find("1"), nullptr) << "the best stays";
    const PassRecord& first = back.passes[0];
    EXPECT_EQ(first.parts, "1+2");
    EXPECT_EQ(first.when, 1765244400);
    EXPECT_EQ(first.score.hits, 12);
    EXPECT_EQ(first.score.wrong, 2);
    EXPECT_DOUBLE_EQ(first.score.meanOffsetMs, -12.25);
    EXPECT_DOUBLE_EQ(first.score.meanVelocityDelta, 9.5);
    EXPECT_EQ(first.score.velocityNotes, 15);
    EXPECT_EQ(first.score.speedPercent, 80);
    EXPECT_FALSE(first.score.complete);
    EXPECT_TRUE(back.passes[1].score.complete);

    // Damaged pass lines are passed over; a good one after them still reads.
    const char damaged[] =
        "pass 1 = -5 1 0 0 0 0 1.0 100 0 0 0 1\n"
        "pass 1 = 100 1 0 0 0 0 1.0 100 0 0 0\n"
        "pass 1 = 100 1 0 0 0 0 1.0 100 0 300 0 1\n"
        "pass 1 = 100 0 0 0 0 0 1.0 100 0 0 0 1\n"
        "pass 1 = 100 1 0 0 0 0 1.0 100 0 0 0 1\n";
    ScoreMemory tolerant;
    ParseScoreMemory(tolerant, damaged, sizeof damaged - 1);
    EXPECT_EQ(tolerant.passes.size(), 1u);
}

TEST(PassHistory, KeepsTheNewestPassesAndIsNeverWrittenThroughALink) {
    DataFolder data;
    ScoreMemory memory;
    PlayScore pass;
    pass.hits = 1;
    for (size_t i = 0; i < kMaxPasses + 5; ++i)
        ASSERT_TRUE(memory.AddPass("1", static_cast<int64_t>(i), pass));
    ASSERT_EQ(memory.passes.size(), kMaxPasses);
    EXPECT_EQ(memory.passes.front().when, 5) << "the oldest go first";

    const std::string key = "00000000000000ff-9";
    ASSERT_TRUE(WriteScoreMemory(key, memory));
    const fs::path file = data.Songs() / (key + ".scores.txt");
    const fs::path elsewhere = data.home / "elsewhere.txt";
    std::ofstream(elsewhere) << "mine\n";
    fs::remove(file);
    fs::create_symlink(elsewhere, file);
    EXPECT_FALSE(WriteScoreMemory(key, memory)) << "a link in the file's place is refused";
    EXPECT_EQ(Slurp(elsewhere), "mine\n") << "and what it points at is untouched";
    EXPECT_TRUE(fs::is_symlink(file));
}

// Two hands of three notes each, laid out in one run of the store as the reader lays them; the
// right hand's run first, or (as the reader may give it) second.
std::unique_ptr<SongData> Hands(bool rightSecond = false) {
    auto song = std::make_unique<SongData>();
    if (!song->AllocateNotes(6)) return song;
    song->reading = ReadingHands;
    song->partCount = 2;
    NoteRecord* n = song->noteStore.get();
    const NoteRecord right[3] = {{0.0f, 1, 72, 80}, {1.0f, 2, 74, 80}, {2.0f, 3, 76, 80}};
    const NoteRecord left[3] = {{0.0f, 1, 48, 80}, {1.0f, 2, 50, 80}, {2.0f, 3, 52, 80}};
    std::copy(std::begin(rightSecond ? left : right), std::end(rightSecond ? left : right), n);
    std::copy(std::begin(rightSecond ? right : left), std::end(rightSecond ? right : left), n + 3);
    song->parts[0] = {3, rightSecond ? n + 3 : n, 0, 0, 0, 0, {}, 0, 0};
    song->parts[1] = {3, rightSecond ? n : n + 3, 0, 0, 0, 1, {}, 0, 0};
    return song;
}

std::vector<int> KeysOf(const SongPart& part) {
    std::vector<int> keys;
    for (int i = 0; i < part.noteCount; ++i) keys.push_back(part.notes[i].key);
    return keys;
}

TEST(HandEdits, NotesGoToTheHandChosenAndReadBackFromTheirFile) {
    DataFolder data;
    HandEdits edits;
    EXPECT_TRUE(edits.Put(74, 1.0f, LeftHand));
    EXPECT_TRUE(edits.Put(48, 0.0f, RightHand));
    EXPECT_TRUE(edits.Put(52, 2.0f, RightHand));
    EXPECT_TRUE(edits.Put(52, 2.0f, LeftHand)) << "put back: the last choice counts";
    EXPECT_FALSE(edits.Put(60, 0.0f, kOtherHand)) << "a new edit names its hand";
    EXPECT_EQ(edits.HandOf(74, 1.0004f), LeftHand) << "known by its start in milliseconds";
    EXPECT_EQ(edits.HandOf(52, 2.0f), LeftHand);
    EXPECT_EQ(edits.HandOf(60, 0.0f), -1);

    for (const bool rightSecond : {false, true}) {
        auto song = Hands(rightSecond);
        ASSERT_TRUE(ApplyHandEdits(*song, edits));
        EXPECT_EQ(KeysOf(song->parts[0]), std::vector<int>({72, 76, 48}))
            << "a moved note joins after the hand's own";
        EXPECT_EQ(KeysOf(song->parts[1]), std::vector<int>({50, 52, 74})) << rightSecond;
        EXPECT_EQ(song->parts[0].notes + song->parts[0].noteCount == song->parts[1].notes, !rightSecond);
        // The key ranges follow the moved notes.
        EXPECT_EQ(song->parts[0].lowKey + 0, 48);
        EXPECT_EQ(song->parts[0].highKey + 0, 76);
        EXPECT_EQ(song->parts[1].lowKey + 0, 50);
        EXPECT_EQ(song->parts[1].highKey + 0, 74);
    }
    auto voices = Hands();
    voices->reading = ReadingVoices;
    EXPECT_FALSE(ApplyHandEdits(*voices, edits)) << "only hands have another hand";

    const std::string key = "0000000000000abc-3";
    ASSERT_TRUE(WriteHandEdits(key, edits));
    EXPECT_EQ(Slurp(data.Songs() / (key + ".hands.txt")), "left 74 1000\nright 48 0\nleft 52 2000\n");
    const HandEdits back = ReadHandEdits(key);
    EXPECT_EQ(back.moved, ReadHandEdits(key).moved);
    EXPECT_EQ(back.moved.size(), 3u);
    EXPECT_EQ(back.HandOf(74, 1.0f), LeftHand);
    EXPECT_EQ(back.HandOf(48, 0.0f), RightHand);
    const char damaged[] =
        "move 200 5\nmove 60 -1\nmove 60 5 6\nlefty 60 5\nup 60 5\nmove 60 5\nmove 60 5\nright 61 5 \n";
    HandEdits tolerant;
    ParseHandEdits(tolerant, damaged, sizeof damaged - 1);
    EXPECT_EQ(tolerant.moved.size(), 2u) << "two good notes, one named twice";
}

// A kept hand holds whatever the song's own split does, where the older records' moves followed
// it: the same line read against the split of before (74 in the right hand) and of now (74 in the
// left). Of a note named twice the later line counts.
TEST(HandEdits, AKeptHandHoldsWhereTheSplitChangesAndOlderMovesReadAsToday) {
    const struct {
        const char* text;
        bool splitMoved;  // the split itself now gives 74 to the left hand
        int hand74;       // the part 74 is in after the edits
    } cases[] = {
        {"left 74 1000\n", false, 1},
        {"left 74 1000\n", true, 1},
        {"right 74 1000\n", false, 0},  // already there: it stays
        {"right 74 1000\n", true, 0},
        {"move 74 1000\n", false, 1},  // the older form: the other hand than the split gives now
        {"move 74 1000\n", true, 0},
        {"move 74 1000\nright 74 1000\n", false, 0},
        {"right 74 1000\nmove 74 1000\n", false, 1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.text) + (k.splitMoved ? " (split moved)" : ""));
        auto song = Hands();
        // Under the later split 74 is the left hand's: the store's run still holds three and three.
        if (k.splitMoved) {
            std::swap(song->parts[0].notes[1], song->parts[1].notes[0]);
        }
        HandEdits edits;
        ParseHandEdits(edits, k.text, std::string(k.text).size());
        ASSERT_TRUE(ApplyHandEdits(*song, edits));
        const std::vector<int> keys = KeysOf(song->parts[k.hand74]);
        EXPECT_NE(std::find(keys.begin(), keys.end(), 74), keys.end());
        EXPECT_EQ(song->parts[0].noteCount + song->parts[1].noteCount, 6);
    }
}

// The older form's moves, once read with the song, become the hands they gave; a move of a note the
// song does not have stays a move, and is written back as one.
TEST(HandEdits, OlderMovesArePinnedToTheHandsTheyGave) {
    const char text[] = "move 74 1000\nmove 50 1000\nmove 99 5000\nleft 48 0\n";
    HandEdits edits;
    ParseHandEdits(edits, text, sizeof text - 1);
    auto voices = Hands();
    voices->reading = ReadingVoices;
    EXPECT_EQ(PinHandEdits(edits, *voices), 0u) << "voices have no hands to pin to";
    auto song = Hands();
    EXPECT_EQ(PinHandEdits(edits, *song), 2u);
    EXPECT_EQ(HandEditsText(edits), "left 48 0\nright 50 1000\nleft 74 1000\nmove 99 5000\n");
    EXPECT_EQ(PinHandEdits(edits, *song), 0u) << "pinned once";
    ASSERT_TRUE(ApplyHandEdits(*song, edits));
    EXPECT_EQ(KeysOf(song->parts[0]), std::vector<int>({72, 76, 50}));
    EXPECT_EQ(KeysOf(song->parts[1]), std::vector<int>({48, 52, 74}));
}

TEST(HandEdits, ALargeSongFindsItsEditsByItsBytesAndOnlyItsOwn) {
    DataFolder data;
    HandEdits edits;
    ASSERT_TRUE(edits.Put(74, 1.0f, LeftHand));
    // Large enough that its key is taken only when a record of its size is kept.
    std::vector<uint8_t> bytes(3u << 20, 0x5A);
    auto song = Hands();
    EXPECT_TRUE(ReadHandEditsOf(*song, bytes.data(), bytes.size()).moved.empty()) << "no records at all";
    ASSERT_TRUE(WriteHandEdits(SongKey(bytes.data(), bytes.size()), edits));
    EXPECT_TRUE(ReadHandEditsOf(*song, bytes.data(), bytes.size()).Moved(74, 1.0f));
    // Another song of the same size is hashed and told apart; one a byte longer is not looked up.
    std::vector<uint8_t> other = bytes;
    other[12345] = 0;
    EXPECT_TRUE(ReadHandEditsOf(*song, other.data(), other.size()).moved.empty());
    other.push_back(0x5A);
    EXPECT_TRUE(ReadHandEditsOf(*song, other.data(), other.size()).moved.empty());
    auto voices = Hands();
    voices->reading = ReadingVoices;
    EXPECT_TRUE(ReadHandEditsOf(*voices, bytes.data(), bytes.size()).moved.empty()) << "voices have no hands";
    // Small songs are always hashed, and find theirs.
    const uint8_t small[] = {1, 2, 3};
    ASSERT_TRUE(WriteHandEdits(SongKey(small, sizeof small), edits));
    EXPECT_TRUE(ReadHandEditsOf(*song, small, sizeof small).Moved(74, 1.0f));
}

}  // namespace
