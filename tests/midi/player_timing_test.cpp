// The reader's note times against the synthesiser's own file player. The files are timed so that
// the player's clock is exact: at 64,000 samples a second an audio block lasts exactly 1 ms, ticks
// last 1 ms or a whole fraction of it, and every event falls on a whole millisecond (the player
// rounds its tick count, so a longer tick would be sent half a tick early), so each note must start
// where the player sends it to within 0.1 ms.
#include <gtest/gtest.h>

#include "midi/midi_reader.h"
#include "midi/track_merge.h"
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

// A song of `tracks` tracks, each striking its own key on its own channel in its turn, with a text
// and a system-exclusive event among them. Every odd track ends without an end-of-track on a
// program change, and the track after it starts in that running status; the last track ends with
// an end-of-track whatever its number.
Bytes ManyTracks(int tracks) {
    Bytes file = Header(480, 1, static_cast<uint16_t>(tracks));
    for (int t = 0; t < tracks; ++t) {
        const auto key = static_cast<uint8_t>(20 + t % 100);
        const auto delta = static_cast<uint32_t>(t * 3);
        const int ch = t % 16;
        Bytes body = t == 0       ? Cat({Tempo(0, kMillisecondTicks), On(delta, ch, key)})
                     : t % 2 == 0 ? Cat({Vlq(delta), Bytes{static_cast<uint8_t>(t % 128)}, On(0, ch, key)})
                                  : On(delta, ch, key);
        body = Cat({body, Event(0, {0xFF, 0x01, 0x02, 'h', 'i'}), Event(1, {0xF0, 0x03, 0x7E, 0x7F, 0xF7}),
                    Off(4, ch, key), Program(0, ch, 7), On(0, ch, key), Off(2, ch, key)});
        const bool last = t + 1 == tracks;
        body = Cat({body, t % 2 == 1 && !last ? Program(1, (t + 1) % 16, 5) : EndOfTrack(t == 6 ? 2000 : 0)});
        file = Cat({file, Chunk("MTrk", body)});
    }
    return file;
}

TEST(PlayerTiming, SongsOfMoreTracksThanThePlayerTakesPlayMerged) {
    for (const int tracks : {127, 128, 200, 250}) {
        SCOPED_TRACE(tracks);
        const Bytes file = ManyTracks(tracks);
        auto song = NewSong();
        ASSERT_TRUE(ParseSong(*song, file.data(), file.size())) << "status " << song->status;
        const std::vector<uint8_t> bytes = PlayerMidiBytes(file.data(), file.size());
        const size_t declared = (size_t{bytes[10]} << 8) | bytes[11];
        EXPECT_LE(declared, kMaxPlayerTracks);
        if (tracks <= 127) {
            EXPECT_EQ(bytes, file) << "a file the player takes goes as it is";
        }
        const player_notes::Played played = player_notes::Play(bytes.data(), bytes.size(), 64000.0, 60.0);
        ASSERT_TRUE(played.loaded);
        const player_notes::Agreement a = player_notes::Compare(*song, played);
        EXPECT_TRUE(a.sameNotes);
        EXPECT_GE(a.notes, static_cast<size_t>(tracks));
        EXPECT_LT(a.worstStart, 1e-4);
        EXPECT_LT(a.worstEnd, 1e-4);
        // The reader takes the merged file too.
        auto merged = NewSong();
        EXPECT_TRUE(ParseSong(*merged, bytes.data(), bytes.size())) << "status " << merged->status;
    }
}

TEST(PlayerTiming, MergingKeepsEveryEventOfEveryTrack) {
    // Three tracks into two: the first two merge by tick, then by track, the second starting in the
    // running status the first ended in; the third stays alone.
    const Bytes file =
        Cat({Header(96, 1, 3), Track({On(0, 0, 60), Event(5, {62, 70}), Off(10, 0, 60), On(0, 0, 61)}),
             Track({Event(5, {64, 90}), Event(0, {0xF0, 0x01, 0xF7}), Off(3, 0, 64), EndOfTrack(50)}),
             Track({Tempo(0, 400000), On(1, 1, 50), Off(1, 1, 50)})});
    const Bytes expected = Cat({Header(96, 1, 2),
                                Track({On(0, 0, 60), Event(5, {0x90, 62, 70}), Event(0, {0x90, 64, 90}),
                                       Event(0, {0xF0, 0x01, 0xF7}), Event(3, {0x80, 64, 0}),
                                       Event(7, {0x80, 60, 0}), On(0, 0, 61), EndOfTrack(43)}),
                                Track({Tempo(0, 400000), On(1, 1, 50), Off(1, 1, 50), EndOfTrack()})});
    EXPECT_EQ(MergeTracks(file, 2), expected);
    EXPECT_EQ(MergeTracks(file, 3), file);
    // A file the reader refuses is left as it is.
    const Bytes cut(file.begin(), file.end() - 3);
    EXPECT_EQ(MergeTracks(cut, 2), cut);
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
