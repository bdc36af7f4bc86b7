// The plan of a batch: which files a folder gives, the slice each machine takes, what the outputs
// are called, when an output counts as complete, and report lines every JSON reader takes.
#include "cli/batch_plan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "cli/json_text.h"

namespace fs = std::filesystem;
using cli::BatchInput;

namespace {

constexpr const char* kSongs[] = {"mid", "midi", "kar", "rmi"};

class BatchFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/dorvik-batch-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string Make(const std::string& relative, const char* text = "x") {
        const fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
        return path.string();
    }
    // What the listing gave, as "relative" or "relative: problem".
    static std::vector<std::string> Described(const std::vector<BatchInput>& inputs) {
        std::vector<std::string> out;
        for (const BatchInput& input : inputs)
            out.push_back(input.problem.empty() ? input.relative : input.relative + ": " + input.problem);
        return out;
    }
    fs::path root_;
};

TEST_F(BatchFolder, ListsSongsRecursivelyOnceEachAndSkipsWhatIsNotAnInput) {
    Make("songs/b.MID");
    Make("songs/a.mid");
    Make("songs/deep/er/c.Kar");
    Make("songs/deep/d.rmi");
    Make("songs/deep/e.midi");
    Make("songs/notes.txt");
    Make("songs/.hidden.mid");
    Make("songs/.git/f.mid");
    Make("songs/.a.mid.dorvik-Ab12Cd.part");
    Make("songs/out/old.mid");                                    // the output folder of the batch
    fs::create_symlink("..", root_ / "songs/deep/up");            // a loop
    fs::create_symlink("a.mid", root_ / "songs/same.mid");        // a second name for a.mid
    fs::create_symlink("nowhere.mid", root_ / "songs/gone.mid");  // a link to nothing
    fs::create_symlink("nowhere.txt", root_ / "songs/gone.txt");  // not a song anyway
    const std::string songs = (root_ / "songs").string();
    const std::vector<std::string> arguments = {songs, songs + "/deep/d.rmi", Make("loose/readme.txt")};
    const std::vector<BatchInput> listed = cli::ListBatchInputs(arguments, kSongs, songs + "/out");
    const std::vector<std::string> expected = {
        "a.mid",       "b.MID",         "deep/d.rmi",
        "deep/e.midi", "deep/er/c.Kar", "gone.mid: No such file or directory",
        "readme.txt",  // named itself: taken whatever its name
    };
    EXPECT_EQ(Described(listed), expected);
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed[0].path, songs + "/a.mid");
}

TEST_F(BatchFolder, ArgumentsThatCannotBeListedAreReportedNotFatal) {
    Make("song.mid");
    ::mkfifo((root_ / "pipe.mid").c_str(), 0600);
    const std::vector<std::string> arguments = {(root_ / "missing").string(), (root_ / "pipe.mid").string(),
                                                (root_ / "song.mid").string()};
    const std::vector<std::string> expected = {"missing: No such file or directory",
                                               "pipe.mid: not a regular file or a folder", "song.mid"};
    EXPECT_EQ(Described(cli::ListBatchInputs(arguments, kSongs, "")), expected);
    if (::geteuid() != 0) {  // root reads every folder
        Make("locked/a.mid");
        fs::permissions(root_ / "locked", fs::perms::none);
        const std::vector<std::string> locked = {(root_ / "locked").string()};
        EXPECT_EQ(Described(cli::ListBatchInputs(locked, kSongs, "")),
                  std::vector<std::string>{"locked: Permission denied"});
        fs::permissions(root_ / "locked", fs::perms::owner_all);
    }
}

// Machines that mount the songs in different places must slice them alike: what decides a file's
// shard is its path under the folder named, never the folder's own path.
TEST_F(BatchFolder, PathsUnderTheFolderAreTheSameWhereverItIsMounted) {
    Make("here/songs/x/a.mid");
    Make("here/songs/b.mid");
    fs::create_symlink(root_ / "here/songs", root_ / "elsewhere");
    const std::vector<std::string> first = {(root_ / "here/songs").string()};
    const std::vector<std::string> second = {(root_ / "elsewhere/").string()};
    EXPECT_EQ(Described(cli::ListBatchInputs(first, kSongs, "")),
              Described(cli::ListBatchInputs(second, kSongs, "")));
    EXPECT_EQ(cli::ListBatchInputs(second, kSongs, "")[0].path, (root_ / "elsewhere/b.mid").string());
}

TEST_F(BatchFolder, AnOutputIsCurrentOnlyWhenNewerThanWhatItWasMadeFrom) {
    const std::string song = Make("a.mid"), font = Make("font.sf2"), out = Make("a.wav");
    fs::create_directories(root_ / "folder.wav");
    const auto age = [](const std::string& path, time_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    struct Case {
        const char* name;
        time_t song, font, output;
        bool current;
    } cases[] = {
        {"newer than both", 100, 100, 200, true},
        {"as new as the song", 200, 100, 200, true},
        {"older than the song", 300, 100, 200, false},
        {"older than the SoundFont", 100, 300, 200, false},
    };
    const std::vector<std::string> sources = {song, font};
    for (const Case& c : cases) {
        age(song, c.song);
        age(font, c.font);
        age(out, c.output);
        EXPECT_EQ(cli::OutputIsCurrent(out, sources), c.current) << c.name;
    }
    EXPECT_FALSE(cli::OutputIsCurrent((root_ / "none.wav").string(), sources)) << "a missing output";
    EXPECT_FALSE(cli::OutputIsCurrent((root_ / "folder.wav").string(), sources)) << "a folder";
    const std::vector<std::string> gone = {(root_ / "gone.mid").string()};
    EXPECT_FALSE(cli::OutputIsCurrent(out, gone)) << "a source that has gone";
}

TEST(BatchExtensions, AnyCaseAndOnlyAtTheEnd) {
    const struct {
        const char* name;
        bool song;
    } cases[] = {{"a.mid", true}, {"a.MiDi", true}, {"b.tar.KAR", true},
                 {"c.rmi", true}, {".mid", false},  {"a.mid.txt", false},
                 {"amid", false}, {"a.mi", false},  {"a.midii", false}};
    for (const auto& c : cases) EXPECT_EQ(cli::HasOneOfExtensions(c.name, kSongs), c.song) << c.name;
}

TEST(BatchShard, ParsesOnlyASliceThatExists) {
    const struct {
        const char* text;
        uint32_t index, count;  // 0 when refused
    } cases[] = {{"1/1", 1, 1},      {"3/4", 3, 4},   {"100000/100000", 100000, 100000},
                 {"0/4", 0, 0},      {"5/4", 0, 0},   {"1/0", 0, 0},
                 {"1/100001", 0, 0}, {"a/2", 0, 0},   {"1/", 0, 0},
                 {"/2", 0, 0},       {"1/2/3", 0, 0}, {" 1/2", 0, 0},
                 {"-1/2", 0, 0},     {"12", 0, 0},    {"4294967297/4294967297", 0, 0}};
    for (const auto& c : cases) {
        const std::optional<cli::Shard> shard = cli::ParseShard(c.text);
        ASSERT_EQ(shard.has_value(), c.index != 0) << c.text;
        if (shard) {
            EXPECT_EQ(shard->index, c.index) << c.text;
            EXPECT_EQ(shard->count, c.count) << c.text;
        }
    }
}

TEST(BatchShard, SlicesCoverEveryFileAndShareTheWork) {
    for (const uint32_t count : {1u, 2u, 3u, 8u}) {
        std::map<uint32_t, int> sizes;
        for (int i = 0; i < 2000; ++i) {
            const uint32_t shard = cli::ShardOfPath(
                "album " + std::to_string(i / 10) + "/track" + std::to_string(i % 10) + ".mid", count);
            ASSERT_GE(shard, 1u);
            ASSERT_LE(shard, count);
            ++sizes[shard];
        }
        EXPECT_EQ(sizes.size(), count);
        for (const auto& [shard, size] : sizes) {
            EXPECT_GT(size, 2000 / static_cast<int>(count) * 3 / 4) << shard << " of " << count;
        }
    }
}

TEST(BatchOutputNames, UniqueAndNamedAfterTheInputs) {
    const struct {
        const char* name;
        std::vector<const char*> relatives;
        std::vector<const char*> outputs;
    } cases[] = {
        {"the extension replaced", {"a.mid", "sub/b.MIDI", "x.y/c"}, {"a.wav", "sub/b.wav", "x.y/c.wav"}},
        {"a dot that starts the name stays", {".mid"}, {".mid.wav"}},
        {"two kinds of one song keep their kinds",
         {"x.mid", "x.kar", "y.mid"},
         {"x.mid.wav", "x.kar.wav", "y.wav"}},
        {"the same path from two folders",
         {"x.mid", "x.mid", "x.mid"},
         {"x.mid.wav", "x.mid (2).wav", "x.mid (3).wav"}},
        {"a kept extension that meets another name",
         {"x.mid", "x.kar", "x.mid.mid"},
         {"x.mid.wav", "x.kar.wav", "x.mid (2).wav"}},
        {"a numbered name that is taken",
         {"a.mid", "a.mid", "a.mid (2).mid"},
         {"a.mid.wav", "a.mid (2).wav", "a.mid (2) (2).wav"}},
    };
    for (const auto& c : cases) {
        std::vector<BatchInput> inputs;
        for (const char* relative : c.relatives) inputs.push_back({relative, relative, {}});
        const std::vector<std::string> names = cli::OutputNames(inputs, "wav");
        EXPECT_EQ(names, std::vector<std::string>(c.outputs.begin(), c.outputs.end())) << c.name;
    }
}

TEST(BatchReport, StringsEveryJsonReaderTakes) {
    const struct {
        std::string text;
        const char* json;
    } cases[] = {
        {"plain/name.mid", "\"plain/name.mid\""},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
        {"tab\tnew\nline\r\x01\x1f\x7f", "\"tab\\tnew\\nline\\u000d\\u0001\\u001f\\u007f\""},
        {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x8e\xb9", "\"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x8e\xb9\""},
        {"latin1 caf\xe9.mid", "\"latin1 caf\xef\xbf\xbd.mid\""},
        {"cut \xc3", "\"cut \xef\xbf\xbd\""},
        {"overlong \xc0\xaf", "\"overlong \xef\xbf\xbd\xef\xbf\xbd\""},
        {"surrogate \xed\xa0\x80", "\"surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
        {"beyond \xf4\x90\x80\x80", "\"beyond \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
        {std::string("nul\0byte", 8), "\"nul\\u0000byte\""},
    };
    for (const auto& c : cases) EXPECT_EQ(cli::JsonString(c.text), c.json) << c.text;

    const cli::JobRecord failed{"bad.mid", "", cli::JobStatus::Failed, "Not a MIDI file", 0.25};
    EXPECT_EQ(
        cli::ReportLine(failed),
        "{\"input\": \"bad.mid\", \"output\": null, \"status\": \"failed\", \"reason\": \"Not a MIDI file\", "
        "\"seconds\": 0.250}");
    const cli::JobRecord done{"a.mid", "out/a.wav", cli::JobStatus::Done, "", 1.5};
    EXPECT_NE(cli::ReportLine(done).find("\"output\": \"out/a.wav\", \"status\": \"done\", \"reason\": null"),
              std::string::npos);
}

TEST(BatchReport, TheReasonIsWhatTheCommandSaidLast) {
    const struct {
        const char* messages;
        const char* reason;
    } cases[] = {
        {"dorvik-midi: a.mid: Not a MIDI file\n", "a.mid: Not a MIDI file"},
        {"dorvik-midi: --mute 3: a.mid: no voice 3\nusage: dorvik-midi --version\n       dorvik-midi info\n",
         "--mute 3: a.mid: no voice 3"},
        {"rendering a.mid [###] 10%\rrendering a.mid [####] 20%\ndorvik-midi: cannot render\n",
         "cannot render"},
        {"fluidsynth: warning\nsomething else broke\n\n", "something else broke"},
        {"bar 10%\rbar 20%", "bar 20%"},
        {"", "ended with status 1"},
        {"\n\n", "ended with status 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cli::FailureReason(c.messages, "ended with status 1"), c.reason) << c.messages;
}

}  // namespace
