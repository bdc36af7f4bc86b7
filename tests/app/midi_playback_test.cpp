// The song on a MIDI instrument, as the window sends it: the room follows a transport whose ring
// the test moves, on a clock the test moves with it, into the scripted output. What the instrument
// heard is read back as a piano would hold it: which keys still sound after each break of the flow.
#include "app/midi_playback.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "app/transport.h"
#include "audio/streaming_player.h"
#include "manual_output.h"
#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "platform/midi_output.h"
#include "session_steps.h"
#include "smf_builder.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"

namespace {

constexpr uint32_t kRate = 44100;
using Sent = std::vector<platform::ScriptedMidiOutput::Sent>;

// Two hands at 120 beats a minute: the right (channel 0) strikes key 60 + i at i half-seconds, the
// left (channel 1) key 40 + i at the same times (both `shift` keys up); each note lasts a quarter
// of a second.
smf::Bytes TwoHands(int shift = 0) {
    using namespace smf;
    auto hand = [](int channel, int base) {
        Bytes events = Tempo(0, 500000);
        for (int i = 0; i < 16; ++i)
            events = Cat({events, On(i == 0 ? 0 : 240, channel, base + i), Off(240, channel, base + i)});
        return Chunk("MTrk", Cat({events, EndOfTrack()}));
    };
    return Cat({Header(480, 1, 2), hand(0, 60 + shift), hand(1, 40 + shift)});
}

// What still sounds on the instrument after `sent`, by channel and key.
int Sounding(const Sent& sent) {
    bool on[16][128] = {};
    for (const auto& m : sent) {
        const int channel = m.bytes[0] & 15, kind = m.bytes[0] & 0xF0;
        if (kind == 0x90) on[channel][m.bytes[1]] = m.bytes[2] > 0;
        if (kind == 0x80) on[channel][m.bytes[1]] = false;
        if (kind == 0xB0 && m.bytes[1] == 123)
            std::fill(std::begin(on[channel]), std::end(on[channel]), false);
    }
    int count = 0;
    for (const auto& channel : on)
        count += static_cast<int>(std::count(std::begin(channel), std::end(channel), true));
    return count;
}

std::vector<int> Struck(const Sent& sent) {
    std::vector<int> keys;
    for (const auto& m : sent)
        if ((m.bytes[0] & 0xF0) == 0x90 && m.bytes[2] > 0) keys.push_back(m.bytes[1]);
    return keys;
}

// The transport's count-in clock reads the test's time (the bench's `now`), in microseconds.
double counterSeconds = 0.0;
int64_t CounterFrequency() {
    return 1000000;
}
int64_t CounterNow() {
    return std::llround(counterSeconds * 1e6);
}

// A settings folder of the test's own while it runs: a choice made is kept there.
struct OwnSettings {
    OwnSettings() {
        char pattern[] = "/tmp/dorvik-midiout-XXXXXX";
        root = mkdtemp(pattern);
        setenv("XDG_CONFIG_HOME", root.c_str(), 1);
    }
    ~OwnSettings() {
        unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(root);
    }
    std::string root;
};

// A two-hand song ready to play from its render (ten seconds of it), and the room sending it to
// "Stage piano:sound", one of two instruments plugged in.
struct Bench {
    Bench() {
        bytes = TwoHands();
        session.song = std::make_unique<SongData>();
        auto tempo = std::make_unique<TempoMap>();
        EXPECT_TRUE(ParseSong(*session.song, bytes.data(), bytes.size(), tempo.get()));
        session.midiBytes = smf::Shared(bytes);
        BringTo(session.session, SongStage::Ready);
        transport.SetSongTempo(std::move(tempo));
        transport.CreatePlayer(sound, std::chrono::milliseconds(0));
        counterSeconds = now;
        transport.Clock().Init({&CounterFrequency, &CounterNow});
        auto file = std::make_unique<RenderFile>();
        const Failure made = file->CreateTemporary("/tmp");
        EXPECT_TRUE(made.Ok()) << made.text;
        stream = std::make_shared<RenderStream>(std::move(file), kRate, 10 * kRate);
        std::vector<float> frames(2 * 10 * kRate, 0.001f);
        EXPECT_EQ(write(stream->Fd(), frames.data(), frames.size() * sizeof(float)),
                  static_cast<ssize_t>(frames.size() * sizeof(float)));
        stream->Append(frames.data(), frames.size() / 2);
        EXPECT_TRUE(transport.PrepareStreamPlayback(stream));

        auto scripted = std::make_unique<platform::ScriptedMidiOutput>();
        output = scripted.get();
        output->Plug("Stage piano:sound");
        output->Plug("Synth:in");
        output->Plug("dorvik-midi-player:input");  // play-along's own, never offered
        room.UseClock([this] { return now; });
        room.UseOutput(std::move(scripted));
        room.Start("Stage piano:sound", 0);
        EXPECT_TRUE(room.Sending());
        (void)output->TakeSent();
    }

    // `seconds` heard, a frame (a sixtieth) at a time, as the window's loop goes.
    void Hear(double seconds) {
        for (int frames = static_cast<int>(seconds * 60 + 0.5); frames > 0; --frames) {
            if (sound.ring != nullptr && sound.ring->Playing()) {
                sound.ring->Advance(kRate / 60 * 4);
                transport.Player()->OnTimer();
            }
            now += 1.0 / 60;
            counterSeconds = now;
            transport.StepCountIn();  // as the window's frame begins
            transport.Update();
            room.Step();
        }
    }

    OwnSettings settings;
    smf::Bytes bytes;
    SessionState session;
    Transport transport{session};
    ManualOutput sound;
    std::shared_ptr<RenderStream> stream;
    platform::ScriptedMidiOutput* output = nullptr;
    double now = 100.0;
    MidiPlayback room{session, transport};
};

TEST(MidiPlayback, SendsTheSongInStepWhileTheWindowIsSilent) {
    Bench t;
    EXPECT_TRUE(t.transport.Silent()) << "the window's own sound must give way to the instrument";
    EXPECT_EQ(t.room.Rows().names, (std::vector<std::string>{"SoundFont", "Stage piano:sound", "Synth:in"}));
    t.transport.Start();
    t.Hear(1.1);
    // Notes at 0, 0.5 and 1.0 seconds in both hands; the one at 1.5 not yet.
    EXPECT_EQ(Struck(t.output->SentSoFar()), (std::vector<int>{60, 40, 61, 41, 62, 42}));
    EXPECT_EQ(Sounding(t.output->SentSoFar()), 2);
}

// The instrument chosen after another song came, before any frame followed it, plays that song.
TEST(MidiPlayback, AnInstrumentChosenAfterANewSongPlaysTheNewSong) {
    Bench t;
    t.room.Choose(0);
    t.room.Step();
    t.bytes = TwoHands(5);
    t.session.song = std::make_unique<SongData>();
    auto tempo = std::make_unique<TempoMap>();
    ASSERT_TRUE(ParseSong(*t.session.song, t.bytes.data(), t.bytes.size(), tempo.get()));
    t.session.midiBytes = smf::Shared(t.bytes);
    t.transport.SetSongTempo(std::move(tempo));
    t.room.Choose(1);
    ASSERT_TRUE(t.room.Sending());
    (void)t.output->TakeSent();
    t.transport.Start();
    t.Hear(0.6);
    EXPECT_EQ(Struck(t.output->SentSoFar()), (std::vector<int>{65, 45, 66, 46}));
}

// Every break of the song's flow leaves nothing sounding, and resets each channel the song uses.
TEST(MidiPlayback, NothingIsLeftSoundingWhenTheFlowBreaks) {
    struct Case {
        const char* what;
        std::function<void(Bench&)> act;
    };
    const Case cases[] = {
        {"pause", [](Bench& t) { t.transport.Pause(); }},
        {"stop", [](Bench& t) { t.transport.Stop(); }},
        {"seek", [](Bench& t) { t.transport.SeekTo(static_cast<uint32_t>(5.1 * kRate)); }},
        {"mute", [](Bench& t) { t.session.practice.choice.parts[0] = PartSound::Muted; }},
        {"the SoundFont chosen", [](Bench& t) { t.room.Choose(0); }},
        {"quitting", [](Bench& t) { t.room.Release(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench t;
        t.transport.Start();
        t.Hear(1.1);
        ASSERT_EQ(Sounding(t.output->SentSoFar()), 2);
        c.act(t);
        t.room.Step();
        const Sent sent = t.output->SentSoFar();
        EXPECT_EQ(Sounding(sent), 0);
        int resets = 0;
        for (const auto& m : sent) resets += (m.bytes[0] & 0xF0) == 0xB0 && m.bytes[1] == 121;
        EXPECT_GE(resets, 2) << "each channel used is told Reset All Controllers";
    }
}

TEST(MidiPlayback, FollowsSeeksMutesAndTheLoop) {
    Bench t;
    // A seek sends the song from its new place.
    t.transport.Start();
    t.Hear(0.1);
    t.transport.SeekTo(static_cast<uint32_t>(4.9 * kRate));
    t.Hear(0.2);
    EXPECT_EQ(Struck(t.output->TakeSent()), (std::vector<int>{60, 40, 70, 50}));
    // A muted hand is not sent.
    t.session.practice.choice.parts[1] = PartSound::Muted;
    t.Hear(0.5);
    EXPECT_EQ(Struck(t.output->TakeSent()), (std::vector<int>{71}));
    t.session.practice.choice.parts[1] = PartSound::Heard;
    // The loop from 1 to 2 seconds comes round: its first notes are struck again on each pass.
    t.transport.SetLoop({static_cast<int64_t>(1.0 * kRate), static_cast<int64_t>(2.0 * kRate)});
    t.Hear(2.2);
    const std::vector<int> twice{62, 42, 63, 43, 62, 42, 63, 43};
    std::vector<int> struck = Struck(t.output->TakeSent());
    struck.resize(std::min(struck.size(), twice.size()));
    EXPECT_EQ(struck, twice);
}

// The window's metronome clicks on the instrument's percussion channel while it is on, within
// half a second of being turned on or off.
TEST(MidiPlayback, TheMetronomeClicksOnTheInstrumentWhileItIsOn) {
    const auto clicks = [](const Sent& sent) {
        int count = 0;
        for (const auto& m : sent) count += m.bytes[0] == 0x99 && m.bytes[2] > 0;
        return count;
    };
    Bench t;
    t.transport.Start();
    t.Hear(1.0);
    EXPECT_EQ(clicks(t.output->TakeSent()), 0);
    t.session.practice.metronome = true;
    t.Hear(0.5);  // the song's beats fall every half second
    EXPECT_GE(clicks(t.output->TakeSent()), 1) << "no click within half a second of the metronome";
    t.Hear(2.0);
    EXPECT_EQ(clicks(t.output->TakeSent()), 4);
    t.session.practice.metronome = false;
    t.Hear(0.5);
    (void)t.output->TakeSent();
    t.Hear(2.0);
    EXPECT_EQ(clicks(t.output->TakeSent()), 0);
    Sent drums;
    for (const auto& m : t.output->SentSoFar())
        if ((m.bytes[0] & 15) == 9) drums.push_back(m);
    EXPECT_EQ(Sounding(drums), 0) << "a click left sounding";
}

TEST(MidiPlayback, WaitsWhileTheSongWaitsForThePlayer) {
    Bench t;
    t.transport.Start();
    t.Hear(0.2);
    t.transport.HoldForPlayer(static_cast<uint32_t>(0.47 * kRate));
    t.Hear(2.0);
    EXPECT_EQ(Struck(t.output->TakeSent()), (std::vector<int>{60, 40}))
        << "held before the second note, the song sends nothing more however long the player takes";
    t.transport.ReleaseForPlayer();
    t.Hear(0.1);
    EXPECT_EQ(Struck(t.output->TakeSent()), (std::vector<int>{61, 41}));
}

TEST(MidiPlayback, AnInstrumentThatGoesPausesTheSongAndComesBackByItself) {
    Bench t;
    t.transport.Start();
    t.Hear(1.1);
    t.output->Unplug("Stage piano:sound");
    t.Hear(0.6);
    EXPECT_EQ(t.session.command, Command::Pause);
    EXPECT_FALSE(t.room.Sending());
    EXPECT_FALSE(t.transport.Silent()) << "the SoundFont sounds while the instrument is gone";
    EXPECT_EQ(t.room.Rows().chosen, 0);
    t.output->Plug("Stage piano:sound");
    t.Hear(0.6);
    EXPECT_TRUE(t.room.Sending()) << "the chosen instrument is taken up again once it is back";
    EXPECT_TRUE(t.transport.Silent());
}

TEST(MidiPlayback, ThePlayersKeysAreNotEchoedToTheInstrumentTheyArePlayedOn) {
    Bench t;
    t.session.playAlong.inputName = "Stage piano:keys";
    t.room.PlayerKey(64, true, 90);
    t.room.PlayerKey(64, false, 0);
    EXPECT_TRUE(t.output->TakeSent().empty());
    t.session.playAlong.inputName = "Keystation:port";
    t.room.PlayerKey(64, true, 90);
    const Sent sent = t.output->TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes[0], 0x90);
    EXPECT_EQ(sent[0].bytes[2], 90);
    // Another output chosen lets the key go on the one left.
    t.room.Choose(2);
    EXPECT_EQ(Sounding(t.output->SentSoFar()), 0);
    EXPECT_EQ(t.output->OpenName(), "Synth:in");
}

// Played from its start, the song is counted in on the instrument: a bar of clicks on the beats
// the window counts, at the practice speed, and the song's first notes as the bar ends. A pause
// during the bar leaves nothing sounding and the song unsent.
TEST(MidiPlayback, TheBarCountedInClicksOnTheInstrumentAndTheSongFollowsInStep) {
    for (const int percent : {100, 50}) {
        SCOPED_TRACE(percent);
        Bench t;
        t.session.practice.choice.speedPercent = percent;
        // 4/4 at 120 beats a minute: four clicks a beat apart, the first accented, then the song.
        const double beat = 0.5 * 100 / percent;
        const double began = t.now;
        t.transport.Play();
        ASSERT_TRUE(t.transport.CountingIn());
        std::vector<int> keys;
        std::vector<double> when;
        while (t.now < began + 5 * beat && keys.size() < 5) {
            t.Hear(1.0 / 60);
            const std::vector<int> struck = Struck(t.output->SentSoFar());
            for (size_t i = keys.size(); i < struck.size(); ++i) {
                keys.push_back(struck[i]);
                when.push_back(t.now - began);
            }
        }
        EXPECT_EQ(keys, (std::vector<int>{76, 77, 77, 77, 60, 40}));
        ASSERT_EQ(when.size(), 6u);
        for (size_t i = 0; i < 5; ++i)
            EXPECT_NEAR(when[i], static_cast<double>(i) * beat, 1.0 / 60 + 1e-6) << "strike " << i;
    }

    Bench p;
    p.transport.Play();
    p.Hear(0.6);
    ASSERT_EQ(Struck(p.output->SentSoFar()), (std::vector<int>{76, 77}));
    const std::vector<uint8_t> heard = p.sound.ring->Contents();
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](uint8_t b) { return b == 0; }))
        << "the window clicked the bar as well as the instrument";
    p.transport.Pause();
    p.Hear(3.0);
    EXPECT_EQ(Struck(p.output->SentSoFar()), (std::vector<int>{76, 77}));
    EXPECT_EQ(Sounding(p.output->SentSoFar()), 0);
}

// Playing along round a loop, each pass is counted in on the instrument, and the loop's first
// notes are not struck early on the way round, however long the instrument's delay.
TEST(MidiPlayback, EachPassPlayedAlongIsCountedInOnTheInstrument) {
    Bench t;
    t.room.SetDelay(50);
    t.session.playAlong.mode = PlayAlongMode::Following;
    t.transport.SetLoop({static_cast<int64_t>(1.0 * kRate), static_cast<int64_t>(2.0 * kRate)});
    t.transport.Play();
    t.Hear(5.2);
    std::vector<int> struck = Struck(t.output->SentSoFar());
    const std::vector<int> twice{76, 77, 77, 77, 62, 42, 63, 43, 76, 77, 77, 77, 62, 42};
    struck.resize(std::min(struck.size(), twice.size()));
    EXPECT_EQ(struck, twice);
}

}  // namespace
