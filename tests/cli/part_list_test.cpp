// The parts `--part` names: a list split by commas, given once or again, counted from 1 as `info`
// lists them; anything else is refused whole, and a part the song lacks is named with those it has.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "midi/midi_reader.h"
#include "smf_builder.h"

namespace {

using cli::NoSuchPart, cli::ParsePartList;

TEST(PartList, ListsAreReadAndBadOnesRefusedWhole) {
    const struct {
        std::vector<const char*> given;  // one --part each
        bool ok;
        std::vector<int32_t> parts;
    } cases[] = {
        {{"2"}, true, {1}},
        {{"2,5"}, true, {1, 4}},
        {{"5", "2"}, true, {4, 1}},
        {{"1,1"}, true, {0, 0}},  // repeats are the layout's to drop
        {{"256"}, true, {255}},
        {{"0"}, false, {}},
        {{"257"}, false, {}},
        {{"2,"}, false, {}},
        {{",2"}, false, {}},
        {{"2,,5"}, false, {}},
        {{"2;5"}, false, {}},
        {{" 2"}, false, {}},
        {{"+2"}, false, {}},
        {{"-1"}, false, {}},
        {{"2,x"}, false, {}},
        {{""}, false, {}},
        {{"99999999999999999999"}, false, {}},
        {{"2", "3,0"}, false, {1}},  // the bad one adds nothing; the one before stays
    };
    for (const auto& k : cases) {
        std::vector<int32_t> parts;
        bool ok = true;
        for (const char* text : k.given) ok = ParsePartList(text, parts) && ok;
        EXPECT_EQ(ok, k.ok) << ::testing::PrintToString(k.given);
        EXPECT_EQ(parts, k.parts) << ::testing::PrintToString(k.given);
    }
}

TEST(PartList, APartTheSongLacksIsNamedWithThoseItHas) {
    using namespace smf;
    // Three voices: a channel each past the hands' own.
    const Bytes file = Song(480, {Track({On(0, 3, 60), Off(480, 3, 60), EndOfTrack()}),
                                  Track({On(0, 4, 62), Off(480, 4, 62), EndOfTrack()}),
                                  Track({On(0, 5, 64), Off(480, 5, 64), EndOfTrack()})});
    auto song = NewSong();
    ASSERT_TRUE(ParseSong(*song, file.data(), file.size(), nullptr));
    ASSERT_EQ(song->PartsInUse(), 3);
    EXPECT_EQ(NoSuchPart(*song, std::vector<int32_t>{}, "s.mid"), "");
    EXPECT_EQ(NoSuchPart(*song, std::vector<int32_t>{0, 2}, "s.mid"), "");
    EXPECT_EQ(NoSuchPart(*song, std::vector<int32_t>{2, 5, 3}, "s.mid"),
              "--part 6: s.mid has no such part (it has voices 1 to 3)");
}

}  // namespace
