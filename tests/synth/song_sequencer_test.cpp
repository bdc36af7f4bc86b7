// The render's own sequencer: the song's events streamed from its bytes in the order and at the
// times the reader gives them, and sent to a synthesiser from a place in the song at a speed.
#include "synth/song_sequencer.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "midi/song_events.h"
#include "smf_builder.h"
#include "synth/sequencer_feed.h"
#include "synth/soundfont_load.h"

namespace {

using namespace smf;

// A tempo track that halves the tempo after one quarter and doubles it later; a voice with a
// program, controllers, a bend and a note ended by a note-on of velocity 0; a voice whose track
// opens in the running status the track before it left, with two events on one tick as another
// track's; drums; and a chunk of another kind between the tracks.
Bytes ThreeTracks() {
    const Bytes tempo = Track({Tempo(0, 500000), Tempo(480, 1000000), Tempo(960, 400000), EndOfTrack(100)});
    const Bytes voice =
        Track({Program(0, 3, 5), Event(0, {0xB3, 7, 100}), On(0, 3, 60), Event(240, {0xE3, 0, 80}),
               On(720, 3, 60, 0), Event(0, {0xB3, 10, 30}), On(0, 3, 62), Event(0, {0xFF, 0x06, 0x01, 'x'}),
               Off(480, 3, 62), Event(0, {0xB3, 11, 90})});
    // Opens with data bytes: the 0xB3 the voice's track ended in (at its stated length, with no
    // end-of-track event to take the running status) carries over.
    const Bytes running = Track({Event(960, {7, 64}), On(0, 4, 67), Off(0, 4, 67), On(0, 9, 36),
                                 Event(0, {0xD9, 20}), Off(10, 9, 36), EndOfTrack()});
    Bytes file = Header(480, 1, 3);
    for (const Bytes& part : {tempo, voice, Chunk("XFIH", {1, 2, 3}), running}) {
        file.insert(file.end(), part.begin(), part.end());
    }
    return file;
}

TEST(SongSequencer, StreamsTheReadersEventsAtTheReadersTimes) {
    for (const bool riff : {false, true}) {
        const Bytes file = riff ? Rmid(ThreeTracks()) : ThreeTracks();
        SongData song{};
        TempoMap tempo;
        ASSERT_TRUE(ParseSong(song, file.data(), file.size(), &tempo)) << MidiLoadFailureText(song);
        SongEvents expected;
        ASSERT_TRUE(ReadSongEvents(file.data(), file.size(), song, tempo, expected));

        SongSequencer sequencer;
        ASSERT_TRUE(sequencer.Open(file.data(), file.size()));
        EXPECT_EQ(sequencer.Tracks(), 3u);
        std::vector<SequencedEvent> got;
        for (SequencedEvent e{}; sequencer.Next(e);) got.push_back(e);
        ASSERT_EQ(got.size(), expected.events.size()) << (riff ? "RIFF" : "plain");
        for (size_t i = 0; i < got.size(); ++i) {
            const SongEvent& x = expected.events[i];
            EXPECT_EQ((std::vector<int>{got[i].status, got[i].data1, got[i].data2}),
                      (std::vector<int>{x.status, x.data1, x.data2}))
                << "event " << i;
            EXPECT_EQ(got[i].seconds, x.seconds) << "event " << i;
        }
        // The song ends with the tempo track's end, past every event.
        EXPECT_EQ(sequencer.EndTick(), 1540);
        EXPECT_EQ(sequencer.EndSeconds(), tempo.Seconds(1540));
        EXPECT_FALSE(sequencer.Next(got.front())) << "a sequencer at its end stays there";
    }
}

TEST(SongSequencer, RefusesWhatTheReaderRefuses) {
    const Bytes good = ThreeTracks();
    Bytes smpte = good;
    smpte[12] = 0xE7;  // time-code timing
    // A status no file may hold, opening the first track.
    Bytes damaged = good;
    damaged.insert(damaged.begin() + 22, {0x00, 0xF4});
    damaged[21] = static_cast<uint8_t>(damaged[21] + 2);
    const struct {
        std::string what;
        Bytes bytes;
    } rows[] = {
        {"cut short", Bytes(good.begin(), good.end() - 5)},
        {"time-code timed", smpte},
        {"damaged", damaged},
        {"not MIDI", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}},
    };
    for (const auto& row : rows) {
        SongData song{};
        EXPECT_FALSE(ParseSong(song, row.bytes.data(), row.bytes.size())) << row.what << ": the reader";
        SongSequencer sequencer;
        EXPECT_FALSE(sequencer.Open(row.bytes.data(), row.bytes.size())) << row.what;
        SequencedEvent e{};
        EXPECT_FALSE(sequencer.Next(e)) << row.what << ": nothing to play";
    }
}

struct DeleteSynth {
    void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
};
struct DeleteSettings {
    void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
};

// The feed from a place in the song at half speed, seen through the channel state it leaves on a
// synthesiser: the controller before the place is set at once, and each later one comes at the
// frame its time falls on in the slowed render.
TEST(SequencerFeed, StartsAtItsPlaceAndPlaysAtItsSpeed) {
    // Volume changes every quarter; the tempo doubles at tick 960 (1 s).
    Bytes volumes;
    for (int q = 0; q < 6; ++q) volumes = Cat({volumes, Event(q == 0 ? 0 : 480, {0xB0, 7, uint8_t(10 + q)})});
    const Bytes file =
        Song(480, {Track({Tempo(0, 500000), Tempo(960, 250000), EndOfTrack()}),
                   Track({Program(0, 0, 19), volumes, On(0, 0, 60), Off(240, 0, 60), EndOfTrack()})});
    ShowFluidSynthMessages(false);  // notes struck with no SoundFont loaded
    std::unique_ptr<fluid_settings_t, DeleteSettings> settings(new_fluid_settings());
    std::unique_ptr<fluid_synth_t, DeleteSynth> synth(new_fluid_synth(settings.get()));
    ASSERT_NE(synth, nullptr);
    constexpr uint32_t kRate = 1000;  // a frame a millisecond, for reading the times off
    // From tick 1200 (1.125 s): quarter 2 (tick 960, 1 s) has set the volume; quarter 3 comes
    // 0.125 s later in the song, 0.25 s at half speed, and each after it 0.5 s later again.
    const SequencerFeed::Timing timing{1200, 1.125, 0.5, kRate};
    SequencerFeed feed;
    ASSERT_TRUE(feed.Open(file.data(), file.size(), timing, synth.get(), nullptr));
    const auto volume = [&] {
        int value = -1;
        fluid_synth_get_cc(synth.get(), 0, 7, &value);
        return value;
    };
    int program = -1, bank = -1, sfont = -1;
    fluid_synth_get_program(synth.get(), 0, &sfont, &bank, &program);
    EXPECT_EQ(program, 19) << "a program before the place is set";
    EXPECT_EQ(volume(), 12) << "the controllers stand as they did at the place";
    const struct {
        int64_t frame;
        int volume;
    } steps[] = {{0, 12}, {249, 12}, {250, 13}, {749, 13}, {750, 14}, {1249, 14}, {1250, 15}};
    for (const auto& step : steps) {
        feed.PlayUntil(step.frame);
        EXPECT_EQ(volume(), step.volume) << "at frame " << step.frame;
    }
    // The note's end, at tick 2640, is the song's: 0.75 s past the place, 1.5 s at half speed.
    feed.PlayUntil(1499);
    EXPECT_FALSE(feed.Done(1499));
    feed.PlayUntil(1500);
    EXPECT_TRUE(feed.Done(1500));
    EXPECT_EQ(feed.Tick(), feed.EndTick());
}

}  // namespace
