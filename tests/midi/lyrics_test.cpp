// The words of a song, from files written here with lyric and text events.
#include "midi/lyrics.h"

#include <gtest/gtest.h>

#include "smf_builder.h"

namespace {

using smf::Bytes;

Bytes Meta(uint32_t delta, uint8_t type, const std::string& text) {
    Bytes body{0xFF, type};
    const Bytes length = smf::Vlq(static_cast<uint32_t>(text.size()));
    body.insert(body.end(), length.begin(), length.end());
    body.insert(body.end(), text.begin(), text.end());
    return smf::Event(delta, body);
}
Bytes Lyric(uint32_t delta, const std::string& text) {
    return Meta(delta, 0x05, text);
}
Bytes Text(uint32_t delta, const std::string& text) {
    return Meta(delta, 0x01, text);
}

std::vector<std::string> Lines(const SongLyrics& l) {
    std::vector<std::string> out;
    for (size_t i = 0; i < l.lines.size(); ++i) out.push_back(l.LineText(i));
    return out;
}

TEST(Lyrics, LinesAreBrokenWhereTheFileBreaksThem) {
    // 480 ticks a quarter at 120 a minute: a quarter is half a second.
    const Bytes karaoke = smf::Song(
        480, {smf::Track({Text(0, "@KMIDI KARAOKE FILE"), Text(0, "@TSong title"), smf::EndOfTrack()}),
              smf::Track({Text(0, "remark"), smf::EndOfTrack()}),
              smf::Track({Text(480, "/Twin"), Text(240, "kle "), Text(240, "twin"), Text(240, "kle"),
                          Text(480, "/lit"), Text(240, "tle "), Text(240, "\\star"), smf::EndOfTrack()})});
    const Bytes lyric = smf::Song(
        480, {smf::Track({smf::Tempo(0, 250000), Lyric(480, "Hel"), Lyric(480, "lo\r"), Text(0, "not sung"),
                          Lyric(480, "world\nagain"), Lyric(480, "\xC3\xA9t\xC3\xA9"), smf::EndOfTrack()})});
    const Bytes latin1 =
        smf::Song(480, {smf::Track({Lyric(0, "\xE9t\xE9 "), Lyric(480, "caf\xE9"), smf::EndOfTrack()})});
    const struct {
        const char* name;
        Bytes file;
        std::vector<std::string> lines;
        double secondSyllableAt;
        bool fromText, latin1;
    } cases[] = {
        {"karaoke text events, headers and other tracks left out",
         karaoke,
         {"Twinkle twinkle", "little ", "star"},
         0.75,
         true,
         false},
        {"lyric events over text, carriage return and line feed",
         lyric,
         {"Hello", "world", "again\xC3\xA9t\xC3\xA9"},
         0.5,
         false,
         false},
        {"not UTF-8: read as Latin-1", latin1, {"\xC3\xA9t\xC3\xA9 caf\xC3\xA9"}, 0.5, false, true},
    };
    for (const auto& c : cases) {
        const SongLyrics l = ReadLyrics(c.file.data(), c.file.size());
        EXPECT_EQ(Lines(l), c.lines) << c.name;
        EXPECT_EQ(l.fromTextEvents, c.fromText) << c.name;
        EXPECT_EQ(l.latin1, c.latin1) << c.name;
        ASSERT_GE(l.syllables.size(), 2u) << c.name;
        EXPECT_DOUBLE_EQ(l.syllables[1].seconds, c.secondSyllableAt) << c.name;
    }
}

TEST(Lyrics, ThePlaceFollowsTheSingingAndShowsTheNextLineAhead) {
    const Bytes file =
        smf::Song(480, {smf::Track({Lyric(960, "one "), Lyric(480, "two\r"), Lyric(1920, "three "),
                                    Lyric(480, "four"), smf::EndOfTrack()})});
    const SongLyrics l = ReadLyrics(file.data(), file.size());
    ASSERT_EQ(l.lines.size(), 2u);
    // Syllables at 1.0, 1.5, then 3.5 and 4.0 seconds.
    const struct {
        double at;
        int line, sung;
    } cases[] = {{0.0, 0, 0}, {1.0, 0, 1}, {1.6, 0, 2}, {2.4, 0, 2}, {2.6, 1, 0}, {3.5, 1, 1}, {9.0, 1, 2}};
    for (const auto& c : cases) {
        const LyricPlace p = l.PlaceAt(c.at);
        EXPECT_EQ(p.line, c.line) << "at " << c.at;
        EXPECT_EQ(p.sung, c.sung) << "at " << c.at;
    }
    EXPECT_EQ(SongLyrics{}.PlaceAt(1.0).line, -1);
}

TEST(Lyrics, DamagedOrForeignBytesGiveWhatCameBefore) {
    Bytes cut = smf::Song(480, {smf::Track({Lyric(0, "kept "), Lyric(480, "too"), smf::EndOfTrack()})});
    cut.resize(cut.size() - 6);  // into the second lyric
    EXPECT_EQ(Lines(ReadLyrics(cut.data(), cut.size())), std::vector<std::string>{"kept "});
    const Bytes junk{'M', 'T', 'h', 'd', 0, 0};
    EXPECT_TRUE(ReadLyrics(junk.data(), junk.size()).Empty());
    EXPECT_TRUE(ReadLyrics(nullptr, 0).Empty());
}

}  // namespace
