#include "core/song_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

TEST(SongFolder, NeighboursFollowTheOrderPeopleRead) {
    const std::vector<std::string> folder = {"10 Finale.mid", "notes.txt", "2 intro.MID",     "Ballad.kar",
                                             "ballad 2.midi", "cover.png", "01 Overture.mid", "Zed.rmi"};
    const struct {
        const char* current;
        int step;
        const char* expected;
    } cases[] = {
        {"01 Overture.mid", 1, "2 intro.MID"},  // digits as numbers, case ignored
        {"2 intro.MID", 1, "10 Finale.mid"},
        {"10 Finale.mid", 1, "ballad 2.midi"},  // a space sorts before the extension's dot
        {"ballad 2.midi", 1, "Ballad.kar"},
        {"Zed.rmi", 1, ""},  // no wrap past the last
        {"01 Overture.mid", -1, ""},
        {"10 Finale.mid", -1, "2 intro.MID"},
        {"ballad 2.midi", 2, "Zed.rmi"},
        {"3 gone.mid", 1, "10 Finale.mid"},  // a song since deleted keeps its place
        {"3 gone.mid", -1, "2 intro.MID"},
        {"notes.txt", 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NeighbourSongName(folder, c.current, c.step), c.expected)
            << c.current << " stepped by " << c.step;
}

TEST(SongFolder, OnDiskOnlyFilesCountAndATakeIsNamedBesideItsSong) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("dorvik-folder-" + std::to_string(getpid()));
    fs::create_directories(dir / "b.mid");  // a folder, not a song
    for (const char* name : {"a.mid", "c.mid"}) std::ofstream(dir / name) << "MThd";
    EXPECT_EQ(NeighbourSong((dir / "a.mid").string(), 1), (dir / "c.mid").string());
    EXPECT_EQ(NeighbourSong((dir / "c.mid").string(), -1), (dir / "a.mid").string());
    EXPECT_EQ(NeighbourSong((dir / "missing" / "x.mid").string(), 1), "");
    fs::remove_all(dir);

    EXPECT_EQ(TakePathFor("/music/Song.mid"), "/music/Song (my take).mid");
    EXPECT_EQ(TakePathFor("/music/My.Band/Song.kar"), "/music/My.Band/Song (my take).mid");
    EXPECT_EQ(TakePathFor(""), "take.mid");
}

}  // namespace
