// What dorvik-midi prints: the JSON form other tools read back, and the reasons for failed loads.
#include "cli/song_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "smf_builder.h"

using namespace smf;

namespace {

TEST(SongJson, NumbersReadBackExactly) {
    const Bytes file =
        Song(480, {Track({Name("Right \"hand\""), Program(0, 1, 0), On(0, 1, 72, 100), Off(481, 1, 72)})});
    auto song = NewSong();
    ASSERT_TRUE(ParseSong(*song, file.data(), file.size()));
    const std::string json = SongJson(*song, true);
    EXPECT_EQ(
        json.rfind("{\"status\": 0, \"loaded\": true, \"noteTracks\": 1, \"duration\": 0.50104165077209473, ",
                   0),
        0u)
        << json;
    // float32 with nine significant digits, the duration with seventeen; the hands' details.
    EXPECT_NE(
        json.find("\"parts\": [{\"track\": -1, \"channel\": -1, \"program\": -1, \"name\": \"\", \"notes\": "
                  "[]}, {\"track\": 0, \"channel\": 1, \"program\": 0, \"name\": \"Right \\\"hand\\\"\", "
                  "\"notes\": [[72, 0, 0.501041651, 100]]}], \"reading\": \"hands\", \"hands\": \"track\", "
                  "\"percussionNotes\": 0, \"truncated\": false}"),
        std::string::npos)
        << json;
    char nine[32];
    std::snprintf(nine, sizeof nine, "%.9g", song->parts[1].notes[0].end);
    EXPECT_EQ(std::strtof(nine, nullptr), song->parts[1].notes[0].end);
}

TEST(SongJson, VoicesAreListedInTheOrderTheyFirstSound) {
    const Bytes file = Song(480, {Track({On(0, 9, 36), Off(10, 9, 36)}),
                                  Track({Program(0, 3, 40), On(20, 3, 60), Off(10, 3, 60)}),
                                  Track({On(10, 4, 50), Off(10, 4, 50)})});
    auto song = NewSong();
    ASSERT_TRUE(ParseSong(*song, file.data(), file.size()));
    const std::string json = SongJson(*song, true);
    const size_t second = json.find("{\"track\": 2, \"channel\": 4, \"program\": -1");
    const size_t third = json.find("{\"track\": 1, \"channel\": 3, \"program\": 40");
    EXPECT_NE(second, std::string::npos) << json;
    EXPECT_NE(third, std::string::npos) << json;
    EXPECT_LT(second, third) << json;
    EXPECT_NE(json.find("\"reading\": \"voices\", \"hands\": \"none\", \"percussionNotes\": 1, "),
              std::string::npos)
        << json;
    const std::string text = SongSummary(*song, "band.mid");
    EXPECT_NE(text.find("voice 2: Violin, track 1, channel 4: 1 note, keys 60-60"), std::string::npos)
        << text;
    EXPECT_NE(text.find("percussion: 1 note"), std::string::npos) << text;
}

TEST(SongJson, NonFiniteTimesPrintAsNull) {
    auto song = NewSong();
    song->duration = std::nan("");
    song->barLineCount = 1;
    song->barLines[0] = INFINITY;
    const std::string json = SongJson(*song, false);
    EXPECT_NE(json.find("\"duration\": null, \"barLines\": [null]"), std::string::npos) << json;
}

// A song's text is handed on in blocks, which together are the whole text, each number as
// printf's %.9g writes it, wherever the blocks' edges fall: a name of another length before the
// notes moves every edge by a byte.
TEST(SongJson, TheTextOfManyNotesComesInBlocksThatJoinUp) {
    std::vector<NoteRecord> notes;
    std::string expected = "\"notes\": [";
    uint32_t seed = 12345;
    for (int i = 0; i < 2500; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const float start = static_cast<float>(seed % 1000000u) / 7.0f + static_cast<float>(i % 3) * 1e-6f;
        const NoteRecord n{start, start + 0.1f / static_cast<float>(1 + i % 9),
                           static_cast<uint8_t>(seed >> 25), static_cast<uint8_t>(1 + (seed >> 9) % 127)};
        notes.push_back(n);
        char text[96];
        std::snprintf(text, sizeof text, "%s[%d, %.9g, %.9g, %d]", i == 0 ? "" : ", ", n.key,
                      static_cast<double>(n.start), static_cast<double>(n.end), n.velocity);
        expected += text;
    }
    expected += "]}";
    auto song = NewSong();
    song->reading = ReadingVoices;
    song->partCount = 1;
    song->parts[0].notes = notes.data();
    song->parts[0].noteCount = static_cast<int32_t>(notes.size());
    for (size_t pad = 0; pad < 48; ++pad) {
        SCOPED_TRACE(pad);
        std::fill(std::begin(song->parts[0].name), std::end(song->parts[0].name), '\0');
        std::fill(song->parts[0].name, song->parts[0].name + pad, 'x');
        std::string joined;
        size_t blocks = 0, largest = 0;
        WriteSongJson(*song, true, [&](const char* text, size_t size) {
            ++blocks;
            largest = std::max(largest, size);
            joined.append(text, size);
        });
        EXPECT_GE(blocks, 2u);
        EXPECT_LE(largest, size_t{1} << 16);
        EXPECT_NE(joined.find(expected), std::string::npos);
    }
}

TEST(LoadFailure, ReasonsInWords) {
    auto song = NewSong();
    EXPECT_EQ(LoadFailureReason(*song, true), "");
    song->status = MidiTooLong;
    song->duration = 1800.5;
    EXPECT_EQ(LoadFailureReason(*song, false), "Longer than 30 minutes (1800.5 s)");
}

TEST(SongSummary, NamesTracksLengthAndKeyRanges) {
    const Bytes file = Song(480, {Track({On(0, 0, 60), On(0, 0, 67), Off(480, 0, 60), Off(0, 0, 67)}),
                                  Track({On(0, 0, 36), Off(115200, 0, 36)})});
    auto song = NewSong();
    ASSERT_TRUE(ParseSong(*song, file.data(), file.size()));
    const std::string text = SongSummary(*song, "waltz.mid");
    EXPECT_NE(text.find("waltz.mid: 2 note tracks, 02:00.0 (120.000 s)"), std::string::npos) << text;
    EXPECT_NE(text.find("Hand 1 (right): 2 notes, keys 60-67"), std::string::npos) << text;
    EXPECT_NE(text.find("Hand 2 (left): 1 note, keys 36-36"), std::string::npos) << text;
}

}  // namespace

namespace {

TEST(SongSummary, SaysWhatToldTheHandsApart) {
    // Left-hand octaves under right-hand chords, all in one track on one channel.
    Bytes piece;
    for (int bar = 0; bar < 8; ++bar) {
        const int bass = 36 + (bar % 4) * 2;
        const Bytes beat =
            Cat({On(0, 0, bass), On(0, 0, bass + 12), On(0, 0, 67 + bar % 3), On(0, 0, 72 + bar % 3),
                 Off(480, 0, bass), Off(0, 0, bass + 12), Off(0, 0, 67 + bar % 3), Off(0, 0, 72 + bar % 3)});
        piece.insert(piece.end(), beat.begin(), beat.end());
    }
    const Bytes oneTrack = Song(480, {Chunk("MTrk", piece)});
    const Bytes twoTracks =
        Song(480, {Track({On(0, 0, 72), Off(480, 0, 72)}), Track({On(0, 0, 36), Off(480, 0, 36)})});
    const Bytes band = Song(480, {Track({On(0, 3, 60), Off(480, 3, 60)})});
    const struct {
        const char* name;
        const Bytes& file;
        const char* line;  // "" for none
        const char* json;
    } cases[] = {
        {"one track", oneTrack, "  hands: split by pitch\n", "\"reading\": \"hands\", \"hands\": \"pitch\""},
        {"two tracks", twoTracks, "  hands: by track and channel\n",
         "\"reading\": \"hands\", \"hands\": \"track\""},
        {"voices", band, "", "\"reading\": \"voices\", \"hands\": \"none\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto song = NewSong();
        ASSERT_TRUE(ParseSong(*song, c.file.data(), c.file.size()));
        const std::string text = SongSummary(*song, "x.mid");
        if (c.line[0] != '\0') {
            EXPECT_NE(text.find(c.line), std::string::npos) << text;
        } else {
            EXPECT_EQ(text.find("hands:"), std::string::npos) << text;
        }
        const std::string json = SongJson(*song, true);
        EXPECT_NE(json.find(c.json), std::string::npos) << json.substr(json.size() - 120);
    }
}

// The length as the window's clock writes it, tenths never rounded up into a minute that has not come.
TEST(SongSummary, LengthIsWrittenAsTheWindowWritesIt) {
    const struct {
        double seconds;
        const char* shown;
    } cases[] = {
        {299.97, "04:59.9"}, {59.94, "00:59.9"}, {60.0, "01:00.0"}, {0.0, "00:00.0"}, {1800.0, "30:00.0"}};
    for (const auto& c : cases) {
        auto song = smf::NewSong();
        song->duration = c.seconds;
        const std::string text = SongSummary(*song, "x.mid");
        EXPECT_NE(text.find(std::string("tracks, ") + c.shown + " ("), std::string::npos)
            << "expected " << c.shown << " for " << c.seconds << " s, got " << text;
    }
}

}  // namespace
