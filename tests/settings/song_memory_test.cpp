// What is remembered of each song: the key its bytes give, the file's lines read back tolerantly,
// and a round trip through the data folder.
#include "settings/song_memory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/song_scores.h"

namespace fs = std::filesystem;

namespace {
std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}
}  // namespace

TEST(SongMemory, TheKeyFollowsTheBytesNotTheName) {
    const uint8_t a[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    uint8_t b[sizeof a];
    std::copy(std::begin(a), std::end(a), b);
    EXPECT_EQ(SongKey(a, sizeof a), SongKey(b, sizeof b));
    b[7] = 7;
    EXPECT_NE(SongKey(a, sizeof a), SongKey(b, sizeof b));
    EXPECT_NE(SongKey(a, sizeof a), SongKey(a, sizeof a - 1));
    EXPECT_EQ(SongKey(a, sizeof a).find_first_not_of("0123456789abcdef-"), std::string::npos);
}

TEST(SongMemory, ReadsItsLinesAndPassesOverWhatItCannotRead) {
    const struct {
        const char* text;
        double start, end;
    } cases[] = {
        {"loop = 12.5 20.25\n", 12.5, 20.25},
        {"loop=1 2\r\n", 1, 2},
        {"  loop =   3.5\t4.5  \n", 3.5, 4.5},
        {"speed = 50\nloop = 1 2\nmute = 1\n", 1, 2},  // lines of a newer program pass by
        {"loop = 1 2\nloop = 5 6\n", 5, 6},            // the last one counts
        {"loop = 2 1\n", -1, -1},                      // backwards
        {"loop = -1 2\n", -1, -1},                     // before the song
        {"loop = 1 99999\n", -1, -1},                  // past any song
        {"loop = 1\n", -1, -1},                        // half a loop
        {"loop = 1 2 3\n", -1, -1},                    // more than a loop
        {"loop = nan inf\n", -1, -1},
        {"loops = 1 2\n", -1, -1},
        {"", -1, -1},
    };
    for (const auto& k : cases) {
        SongMemory memory;
        ParseSongMemory(memory, k.text, std::string(k.text).size());
        EXPECT_DOUBLE_EQ(memory.loopStart, k.start) << k.text;
        EXPECT_DOUBLE_EQ(memory.loopEnd, k.end) << k.text;
    }
}

TEST(SongMemory, ReadsThePracticeAndPassesOverWhatItCannotRead) {
    const struct {
        const char* text;
        int speed;
        std::vector<int> muted, solo;
        bool drums;
    } cases[] = {
        {"speed = 50\nmuted = 1 3\nsolo = 2\n", 50, {0, 2}, {1}, false},
        {"muted = drums 2\n", 100, {1}, {}, true},
        {"speed = 20\n", 100, {}, {}, false},                         // slower than any speed played
        {"speed = fast\nsolo = 0 1.5 999 4\n", 100, {}, {3}, false},  // no part 0, half or past the last
        {"muted = 2 x 3\n", 100, {1}, {}, false},                     // stops at what it cannot read
    };
    for (const auto& k : cases) {
        SongMemory memory;
        ParseSongMemory(memory, k.text, std::string(k.text).size());
        EXPECT_EQ(memory.speedPercent, k.speed) << k.text;
        EXPECT_EQ(memory.mutedParts, k.muted) << k.text;
        EXPECT_EQ(memory.soloParts, k.solo) << k.text;
        EXPECT_EQ(memory.drumsMuted, k.drums) << k.text;
    }
}

TEST(SongMemory, TranspositionMetronomeAndTrainerRoundTripAndOddValuesAreIgnored) {
    const struct {
        const char* text;
        int transpose;
        bool metronome, trainer;
    } cases[] = {
        {"transpose = -5\nmetronome = on\n", -5, true, false},   // written before the trainer was kept
        {"transpose = 13\nmetronome = yes\n", 0, false, false},  // past an octave; only "on" clicks
        {"transpose = 2.5\n", 0, false, false},
        {"transpose = 3 4\n", 0, false, false},
        {"speed = 70\ntrainer = on\n", 0, false, true},
        {"trainer = on\ntrainer = off\n", 0, false, false},  // the last one counts
        {"trainer=on\r\nmetronome = on\n", 0, true, true},
    };
    for (const auto& k : cases) {
        SongMemory memory;
        ParseSongMemory(memory, k.text, std::string(k.text).size());
        EXPECT_EQ(memory.transpose, k.transpose) << k.text;
        EXPECT_EQ(memory.metronome, k.metronome) << k.text;
        EXPECT_EQ(memory.trainer, k.trainer) << k.text;
        SongMemory again;
        const std::string text = SongMemoryText(memory);
        ParseSongMemory(again, text.data(), text.size());
        EXPECT_EQ(again.transpose, memory.transpose) << text;
        EXPECT_EQ(again.metronome, memory.metronome) << text;
        EXPECT_EQ(again.trainer, memory.trainer) << text;
    }
}

TEST(SongMemory, KeptInTheDataFolderAndReadBack) {
    const fs::path home = fs::temp_directory_path() / ("dorvik-memory-" + std::to_string(getpid()));
    fs::create_directories(home);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    const std::string key = "0123456789abcdef-42";
    EXPECT_FALSE(ReadSongMemory(key).HasLoop()) << "nothing kept yet";
    EXPECT_FALSE(fs::exists(home / "dorvik-midi-player")) << "reading makes no folder";
    SongMemory kept;
    kept.loopStart = 10.125;
    kept.loopEnd = 20.5;
    kept.speedPercent = 65;
    kept.mutedParts = {0, 11};
    kept.soloParts = {3};
    kept.drumsMuted = true;
    ASSERT_TRUE(WriteSongMemory(key, kept));
    const SongMemory back = ReadSongMemory(key);
    EXPECT_DOUBLE_EQ(back.loopStart, 10.125);
    EXPECT_DOUBLE_EQ(back.loopEnd, 20.5);
    EXPECT_EQ(back.speedPercent, 65);
    EXPECT_EQ(back.mutedParts, kept.mutedParts);
    EXPECT_EQ(back.soloParts, kept.soloParts);
    EXPECT_TRUE(back.drumsMuted);
    ASSERT_TRUE(WriteSongMemory(key, SongMemory{}));
    EXPECT_FALSE(ReadSongMemory(key).HasLoop()) << "an ended loop is forgotten";
    EXPECT_EQ(ReadSongMemory(key).speedPercent, 100);
    kept.loopStart = 1, kept.loopEnd = 2;
    EXPECT_FALSE(WriteSongMemory("../settings", kept)) << "a key names no other file";
    fs::remove_all(home);
}

// The song records are the program's own files: a link, a device, a pipe or a folder where one
// belongs is left as it is, and nothing is written through it.
TEST(SongMemory, WritesOnlyItsOwnRegularFiles) {
    const fs::path home = fs::temp_directory_path() / ("dorvik-memory-links-" + std::to_string(getpid()));
    fs::remove_all(home);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    ASSERT_TRUE(WriteSongMemory("00000000000000cc-1", SongMemory{})) << "the folders are made";
    const fs::path songs = home / "dorvik-midi-player" / "songs";
    const fs::path other = home / "other.txt";
    SongMemory loop;
    loop.loopStart = 1, loop.loopEnd = 2;
    struct Writer {
        const char* name;
        const char* suffix;
        bool (*write)(const std::string&);
    };
    const Writer writers[] = {
        {"memory", ".txt", [](const std::string& key) { return WriteSongMemory(key, SongMemory{}); }},
        {"scores", ".scores.txt",
         [](const std::string& key) { return WriteScoreMemory(key, ScoreMemory{}); }},
    };
    for (const Writer& writer : writers) {
        const std::string key = "00000000000000aa-1";
        const fs::path record = songs / (key + writer.suffix);
        struct Case {
            const char* name;
            void (*make)(const fs::path& record, const fs::path& other);
        };
        const Case cases[] = {
            {"a link to another file",
             [](const fs::path& r, const fs::path& o) { fs::create_symlink(o, r); }},
            {"a dangling link",
             [](const fs::path& r, const fs::path& o) { fs::create_symlink(o.string() + ".none", r); }},
            {"a pipe", [](const fs::path& r, const fs::path&) { ::mkfifo(r.c_str(), 0600); }},
            {"a folder", [](const fs::path& r, const fs::path&) { fs::create_directory(r); }},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(writer.name) + ", " + c.name);
            std::ofstream(other) << "mine";
            c.make(record, other);
            const auto kind = fs::symlink_status(record).type();
            EXPECT_FALSE(writer.write(key));
            EXPECT_EQ(fs::symlink_status(record).type(), kind) << "the node stays what it was";
            EXPECT_EQ(ReadText(other), "mine");
            EXPECT_FALSE(fs::exists(other.string() + ".none"));
            fs::remove_all(record);
        }
        EXPECT_TRUE(writer.write(key)) << "a record of its own is written";
    }
    // The records' folder itself moved elsewhere by a link.
    fs::remove_all(songs);
    fs::create_directory(home / "elsewhere");
    fs::create_directory_symlink(home / "elsewhere", songs);
    EXPECT_FALSE(WriteSongMemory("00000000000000bb-1", loop));
    EXPECT_TRUE(fs::is_empty(home / "elsewhere"));
    fs::remove_all(home);
}
