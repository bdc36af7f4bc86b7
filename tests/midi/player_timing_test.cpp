// The reader's note times against the synthesiser's own file player. The files are timed so that
// the player's clock is exact: at 64,000 samples a second an audio block lasts exactly 1 ms, ticks
// last 1 ms or a whole fraction of it, and every event falls on a whole millisecond (the player
// rounds its tick count, so a longer tick would be sent half a tick early), so each note must start
// where the player sends it to within 0.1 ms.
#include <gtest/gtest.h>

#include "midi/midi_reader.h"
#include "player_notes.h"
#include "smf_builder.h"

using namespace smf;

namespace {

// 480 ticks per quarter at 480,000 us: one tick is one millisecond.
constexpr uint32_t kMillisecondTicks = 480000;

Bytes Tick0Tempo(std::initializer_list<Bytes> events) {
    Bytes out = Tempo(0, kMillisecondTicks);
    for (const Bytes& e : events) out = Cat({out, e});
    return Chunk("MTrk", out);
}

TEST(PlayerTiming, NotesStartAndEndWhereThePlayerSendsThem) {
    Bytes sixteen;
    for (int ch = 15; ch >= 0; --ch) sixteen = Cat({sixteen, On(ch == 15 ? 0 : 7, ch, 40 + ch)});
    for (int ch = 0; ch < 16; ++ch) sixteen = Cat({sixteen, Off(ch == 0 ? 100 : 3, ch, 40 + ch)});
    const Bytes twoHands =
        Song(480, {Tick0Tempo({}), Track({On(0, 0, 72), Off(300, 0, 72), On(0, 0, 74), Off(300, 0, 74)}),
                   Track({On(0, 0, 48), Off(600, 0, 48)})});
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"two hands", twoHands},
        {"a tempo change in the last track",
         Song(480, {Track({On(0, 0, 60), Off(700, 0, 60), On(0, 0, 62), Off(300, 0, 62)}),
                    Tick0Tempo({Tempo(500, 240000)})})},
        {"a repeated tempo event in a later track",
         Song(480, {Tick0Tempo({Tempo(200, 240000), On(100, 0, 60), Off(400, 0, 60),
                                Tempo(0, kMillisecondTicks), On(0, 0, 64), Off(50, 0, 64)}),
                    Track({Tempo(0, kMillisecondTicks), On(900, 0, 67), Off(20, 0, 67)})})},
        {"keys struck again in one track and across tracks",
         Song(480, {Tick0Tempo({On(0, 0, 60), On(100, 0, 60), Off(100, 0, 60), Off(50, 0, 60), On(0, 0, 62)}),
                    Track({On(150, 0, 62), Off(100, 0, 62), On(0, 0, 60), Off(30, 0, 60)})})},
        {"a delta time of four bytes",
         Song(480, {Track({Tempo(0, 48000), On(0, 0, 60), Off((1u << 21) + 8, 0, 60), On(0, 0, 62),
                           Off(480, 0, 62)})})},
        {"tracks past the declared count and unknown chunks",
         Cat({Header(480, 1, 2), Chunk("XFIH", {1, 2, 3}), Tick0Tempo({On(10, 0, 60), Off(10, 0, 60)}),
              Chunk("junk", {}), Track({On(30, 0, 62), Off(10, 0, 62)}),
              Track({On(0, 0, 64), Off(10, 0, 64)})})},
        {"a RIFF MIDI file", Rmid(twoHands)},
        {"sixteen channels, drums among them",
         Song(480, {Chunk("MTrk", Cat({Tempo(0, kMillisecondTicks), sixteen}))})},
        {"drums and piano", Song(480, {Tick0Tempo({On(0, 9, 36), On(0, 9, 42), Off(100, 9, 36), Off(0, 9, 42),
                                                   On(0, 9, 38), Off(100, 9, 38)}),
                                       Track({Program(0, 0, 0), On(50, 0, 60), Off(100, 0, 60)})})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto song = NewSong();
        ASSERT_TRUE(ParseSong(*song, c.file.data(), c.file.size())) << "status " << song->status;
        // The player is given the bytes the reader read.
        const std::vector<uint8_t> bytes = PlayerMidiBytes(c.file.data(), c.file.size());
        const player_notes::Played played = player_notes::Play(bytes.data(), bytes.size(), 64000.0, 300.0);
        ASSERT_TRUE(played.loaded);
        const player_notes::Agreement a = player_notes::Compare(*song, played);
        EXPECT_TRUE(a.sameNotes);
        EXPECT_GT(a.notes, 0u);
        EXPECT_LT(a.worstStart, 1e-4) << "expected the player's start times within 0.1 ms";
        EXPECT_LT(a.worstEnd, 1e-4) << "expected the player's end times, less the 1/60 s gap, within 0.1 ms";
    }
}

TEST(PlayerTiming, FilesThePlayerRefusesAreRefused) {
    const Bytes header = Header(480, 1, 1);
    const Bytes cases[] = {
        Cat({Header(480, 1, 2), Track({On(0, 0, 60), Off(10, 0, 60)})}),
        Cat({header,
             Chunk("MTrk", Cat({Event(0, {0xFF, 0x58, 0x03, 4, 2, 24}), On(0, 0, 60), Off(10, 0, 60)}))}),
        Cat({header, Chunk("MTrk", Cat({On(0, 0, 60), Event(0, {0xF7, 1, 0xF7}), Off(10, 0, 60)}))}),
    };
    for (const Bytes& file : cases) {
        auto song = NewSong();
        EXPECT_FALSE(ParseSong(*song, file.data(), file.size()));
        EXPECT_FALSE(player_notes::Play(file.data(), file.size(), 64000.0, 10.0).loaded);
    }
}

}  // namespace
