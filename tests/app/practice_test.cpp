// Practice in the window, through the controller with a real render and a sound device the test
// moves: the speed and the parts heard change from the place the song is at, the notes keep in
// step with the sound at the new speed, a seek outside the practice render starts another, and
// the choice comes back with the song.
#include <RtMidi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/player_controller.h"
#include "audio/streaming_player.h"
#include "manual_output.h"
#include "midi/midi_reader.h"
#include "midi/play_follow.h"
#include "midi/play_wait.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/midi_input.h"
#include "platform/window.h"
#include "settings/settings.h"
#include "settings/song_memory.h"
#include "settings/song_scores.h"
#include "smf_builder.h"
#include "synth/background_render.h"
#include "synth/live_synth.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"
#include "synth/synth_renderer.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
constexpr uint32_t kRate = 44100;

// The count-in's clock, moved by hand: a thousand ticks a second.
int64_t testNow = 0;
int64_t TestFrequency() {
    return 1000;
}
int64_t TestNow() {
    return testNow;
}

class PracticeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("dorvik-practice-" + std::to_string(getpid()));
        fs::create_directories(folder);
        setenv("XDG_DATA_HOME", folder.c_str(), 1);
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ShowFluidSynthMessages(false);
        c.synth = std::make_unique<SynthRenderer>();
        c.transport.SetRenderFolder(folder.string());
        c.shared.soundFontPath = "/usr/share/sounds/sf2/TimGM6mb.sf2";
        c.shared.soundFontLoaded = true;
        c.CreatePlayer(out, milliseconds(0));
        // Two hands on tracks of their own, a note each every half second for 30 s.
        using namespace smf;
        Bytes right, left;
        for (int i = 0; i < 60; ++i) {
            right = Cat({right, On(i == 0 ? 0 : 240, 0, 72), Off(240, 0, 72)});
            left = Cat({left, On(i == 0 ? 0 : 240, 1, 48), Off(240, 1, 48)});
        }
        const Bytes bytes =
            Song(480, {Chunk("MTrk", Cat({right, EndOfTrack()})), Chunk("MTrk", Cat({left, EndOfTrack()}))});
        path = (folder / "hands.mid").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void TearDown() override {
        c.ReleaseObjects();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    void Load() {
        c.LoadMidi(path);
        ASSERT_NE(c.transport.Playback(), nullptr);
        (void)c.backgroundRender->Wait();
        c.StepLoading();
    }
    void Key(uint32_t code, int times = 1) {
        for (int i = 0; i < times; ++i) {
            platform::InputMessage message;
            message.kind = platform::InputKind::KeyDown;
            message.keyCode = code;
            c.OnKeyDown(message);
        }
    }
    void WaitForPractice() {
        if (c.transport.PracticeRender()) (void)c.transport.PracticeRender()->Wait();
    }
    // The device plays `seconds`, with the refills a timer would run.
    void Hear(double seconds) {
        auto frames = static_cast<uint32_t>(seconds * kRate);
        while (frames > 0) {
            const uint32_t step = std::min(frames, 4410u);
            out.ring->Advance(step * 4);
            c.transport.Player()->OnTimer();
            frames -= step;
        }
        c.transport.Update();
    }

    // A keyboard of the test's own takes the place of whatever input play-along opened.
    platform::ScriptedMidiInput* PlugKeyboard() {
        auto keyboard = std::make_unique<platform::ScriptedMidiInput>();
        keyboard->Plug("Test keyboard");
        EXPECT_TRUE(keyboard->Open("Test keyboard").Ok());
        platform::ScriptedMidiInput* keys = keyboard.get();
        c.playAlong.UseInput(std::move(keyboard));
        c.shared.playAlong.inputName = "Test keyboard";
        return keys;
    }
    // A key going down or up on it now, taken in as a frame would.
    void Press(platform::ScriptedMidiInput* keys, int key, bool down) {
        const double now = platform::SteadySeconds();
        const uint8_t bytes[3] = {static_cast<uint8_t>(down ? 0x90 : 0x80), static_cast<uint8_t>(key), 100};
        platform::MidiMessage message;
        ASSERT_TRUE(platform::MakeMidiMessage(now, bytes, 3, message));
        keys->Send(message);
        c.playAlong.Step();
    }

    fs::path folder;
    std::string path;
    platform::ScriptedDialogs dialogs;
    ManualOutput out;
    PlayerController c;
};

}  // namespace

TEST_F(PracticeTest, SpeedAndPartsPlayFromTheirOwnRenderInStepWithTheNotes) {
    Load();
    ASSERT_TRUE(c.shared.session.Ready());
    c.transport.SeekTo(10 * kRate);
    Key('[', 10);
    EXPECT_EQ(c.shared.practice.choice.speedPercent, 50);
    ASSERT_NE(c.transport.PracticeRender(), nullptr);
    EXPECT_NE(&c.transport.Playback()->Stream(), c.transport.SongStream())
        << "played from a render of its own";
    EXPECT_DOUBLE_EQ(c.transport.Playback()->Timeline().speed, 0.5);
    EXPECT_NEAR(c.transport.Playback()->Timeline().origin, 8 * kRate, kRate / 100) << "two seconds before";
    EXPECT_EQ(c.transport.Frame(), 10 * kRate) << "the place stays";

    // Played: a second of sound moves the song on by half a second, and sound is heard.
    WaitForPractice();
    c.transport.Start();
    ASSERT_FALSE(c.transport.WaitingForRender());
    Hear(1.0);
    EXPECT_NEAR(c.transport.Frame(), 10.5 * kRate, kRate / 100);
    const std::vector<uint8_t> ring = out.ring->Contents();
    EXPECT_TRUE(std::any_of(ring.begin(), ring.end(), [](uint8_t b) { return b != 0; }));

    // A hand silenced: the practice plays on from where it was heard, and is kept with the song.
    Key('1');
    EXPECT_EQ(c.shared.practice.choice.parts[0], PartSound::Muted);
    EXPECT_NEAR(c.transport.Frame(), 10.5 * kRate, kRate / 100);
    SongMemory kept = ReadSongMemory(c.shared.practice.Key());
    EXPECT_EQ(kept.speedPercent, 50);
    EXPECT_EQ(kept.mutedParts, std::vector<int>{0});

    // A seek before the practice render's start makes one from there.
    c.transport.SeekTo(2 * kRate);
    EXPECT_NEAR(c.transport.Playback()->Timeline().origin, 0, kRate / 100);
    EXPECT_EQ(c.transport.Frame(), 2 * kRate);
    WaitForPractice();

    // Back to the song as written: its own render plays, at its own speed.
    Key(']', 10);
    Key('1');
    EXPECT_TRUE(c.shared.practice.choice.Plain());
    EXPECT_EQ(&c.transport.Playback()->Stream(), c.transport.SongStream());
    EXPECT_EQ(c.transport.Frame(), 2 * kRate);

    // The choice comes back when the song is opened again.
    Key('2');
    Key('[', 4);
    c.LoadMidi(path);
    EXPECT_EQ(c.shared.practice.choice.speedPercent, 80);
    EXPECT_EQ(c.shared.practice.choice.parts[1], PartSound::Muted);
    ASSERT_NE(c.transport.Playback(), nullptr);
    EXPECT_DOUBLE_EQ(c.transport.Playback()->Timeline().speed, 0.8);
}

// The song's renders play the bytes its load read: the file replaced on disk while it plays (here
// by one that is no MIDI file at all) changes nothing of a practice passage rendered after it.
TEST_F(PracticeTest, AFileReplacedOnDiskChangesNoLaterRender) {
    c.shared.dialogs = &dialogs;
    Load();
    ASSERT_TRUE(c.shared.session.Ready());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "another file entirely";
    Key('[');
    ASSERT_NE(c.transport.PracticeRender(), nullptr);
    const RenderStatus status = c.transport.PracticeRender()->Wait();
    EXPECT_EQ(status.outcome, RenderOutcome::Finished) << status.failure.text;
    c.StepLoading();
    EXPECT_TRUE(dialogs.errorBoxes.empty()) << dialogs.errorBoxes.at(0).text;
    EXPECT_FALSE(c.shared.practice.choice.Plain()) << "the practice stays, rendered from the song";
}

// Play-along: the hand silenced is the player's; the song holds at its next note until the key
// goes down on the player's keyboard (here a scripted one), which lights, and a wrong key shows
// as wrong without moving the song on.
TEST_F(PracticeTest, TheSongWaitsForThePlayersHand) {
    Load();
    Key('1');
    Key('\t');
    ASSERT_TRUE(c.shared.playAlong.On());
    EXPECT_EQ(c.shared.practice.choice.parts[0], PartSound::Muted);
    EXPECT_EQ(c.shared.playAlong.scoreText.rfind("Playing along on ", 0), 0u) << "what plays is said";
    platform::ScriptedMidiInput* keys = PlugKeyboard();
    const auto press = [&](int key, bool down) { Press(keys, key, down); };

    WaitForPractice();
    c.transport.Start();
    ASSERT_FALSE(c.transport.WaitingForRender());
    // The first note of the right hand (key 72) is at the start: the song holds there at once.
    c.playAlong.Step();
    EXPECT_TRUE(c.transport.State() == TransportState::HeldForPlayer);
    EXPECT_EQ(c.transport.Frame(), 0u);
    // The view is told what to put in front: the part played, and the key waited for at its note.
    NotesViewOptions shown;
    c.playAlong.ShowIn(shown);
    EXPECT_TRUE(shown.playedParts.test(0) && !shown.playedParts.test(1));
    EXPECT_TRUE(shown.awaitedKeys.test(72) && shown.awaitedKeys.count() == 1);
    EXPECT_FLOAT_EQ(shown.awaitedOnset, 0.0f);
    EXPECT_EQ(shown.letterBase, -1) << "a MIDI keyboard has no letters";
    press(60, true);  // not the note wanted
    EXPECT_TRUE(c.transport.State() == TransportState::HeldForPlayer) << "a wrong key moves nothing on";
    EXPECT_TRUE(c.playAlong.Wait()->State().wrong.test(60));
    press(60, false);
    press(72, true);
    EXPECT_TRUE(c.shared.playAlong.keysDown.test(72)) << "the key lights";
    ASSERT_NE(c.playAlong.Synth(), nullptr);
    std::vector<int16_t> mixed(2 * 512, 0);
    c.playAlong.Synth()->Mix(mixed.data(), 512, kRate);
    EXPECT_TRUE(std::any_of(mixed.begin(), mixed.end(), [](int16_t v) { return v != 0; }))
        << "the key sounds, handed over by the keyboard's input itself";
    EXPECT_FALSE(c.transport.State() == TransportState::HeldForPlayer) << "the right key lets the song go on";
    c.playAlong.ShowIn(shown);
    EXPECT_TRUE(shown.awaitedKeys.none()) << "nothing is awaited while the song runs";
    press(72, false);

    // The next note is half a second on: the song plays up to it and holds just before it.
    for (int i = 0; i < 10 && c.transport.State() != TransportState::HeldForPlayer; ++i) {
        Hear(0.1);
        c.playAlong.Step();
    }
    ASSERT_TRUE(c.transport.State() == TransportState::HeldForPlayer);
    EXPECT_NEAR(c.transport.Frame(), 0.47 * kRate, kRate / 100);
    press(72, true);
    EXPECT_FALSE(c.transport.State() == TransportState::HeldForPlayer);

    press(72, false);

    // A keyboard unplugged mid-song pauses the song and says so; the computer keyboard takes over
    // until it is plugged in again, and the panel's list follows.
    c.playAlong.RestartInputWatch();
    const auto look = [&] {
        c.shared.playAlong.lastInputCheck = 0;
        c.playAlong.Step();
    };
    look();
    EXPECT_EQ(c.playAlong.Inputs().names, (std::vector<std::string>{"Test keyboard", "Computer keyboard"}));
    EXPECT_EQ(c.playAlong.Inputs().listening, 0);
    c.shared.dialogs = &dialogs;
    press(60, true);
    keys->Unplug("Test keyboard");
    look();
    EXPECT_FALSE(c.playAlong.ListeningToMidi());
    EXPECT_FALSE(c.shared.playAlong.keysDown.test(60)) << "a key held on the keyboard pulled out is let go";
    EXPECT_EQ(c.shared.command, Command::Pause);
    ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
    EXPECT_NE(dialogs.errorBoxes[0].text.find("\"Test keyboard\" is gone"), std::string::npos);
    EXPECT_EQ(dialogs.errorBoxes[0].caption, "MIDI keyboard") << "news, not an error";
    EXPECT_EQ(c.playAlong.Inputs().names, std::vector<std::string>{"Computer keyboard"});
    c.shared.command = Command::None;
    keys->Plug("Test keyboard");
    look();
    EXPECT_TRUE(c.playAlong.ListeningToMidi()) << "the keyboard plugged in again is taken up";
    EXPECT_NE(c.shared.playAlong.scoreText.find("on Test keyboard"), std::string::npos);

    // Choosing the computer keyboard in the panel is remembered, with the keys' own volume.
    PanelRequest choose;
    choose.intent = PanelIntent::ChooseInput;
    choose.input = 1;
    c.HandlePanelRequest(choose);
    EXPECT_FALSE(c.playAlong.ListeningToMidi());
    PanelRequest keep;
    keep.intent = PanelIntent::KeepKeysVolume;
    keep.volume = 40;
    c.HandlePanelRequest(keep);
    EXPECT_EQ(ReadSettings().midiInput, kComputerKeyboardInput);
    EXPECT_EQ(ReadSettings().keysVolumePercent, 40);
    keys->Unplug("Test keyboard");
    look();
    keys->Plug("Test keyboard");
    look();
    EXPECT_FALSE(c.playAlong.ListeningToMidi()) << "a keyboard plugged in does not override the choice";

    // Ending play-along offers what was played for saving, with its own timing: two strikes of 72.
    platform::ScriptedDialogs::SaveScript save;
    save.answer.path = (folder / "take.mid").string();
    dialogs.saveScripts.push_back(save);
    Key('\t');
    EXPECT_FALSE(c.shared.playAlong.On());
    EXPECT_EQ(c.playAlong.Synth(), nullptr);
    SongData taken{};
    ASSERT_TRUE(ReadMidiFile(taken, save.answer.path)) << "the take is a MIDI file";
    int strikes = 0;
    for (int p = 0; p < taken.partCount || p < 2; ++p)
        for (int i = 0; i < taken.parts[p].noteCount; ++i) strikes += taken.parts[p].notes[i].key == 72;
    EXPECT_EQ(strikes, 2);
}

// With no song, a key struck on the keyboard begins free play as Tab would: the key is lit and
// kept in the take. With a song loaded a key begins nothing; only Tab plays along.
TEST_F(PracticeTest, AKeyStruckWithNoSongBeginsFreePlay) {
    c.shared.dialogs = &dialogs;
    platform::ScriptedMidiInput* keys = PlugKeyboard();
    c.playAlong.Step();
    EXPECT_FALSE(c.shared.playAlong.On()) << "nothing was played yet";
    Press(keys, 64, true);
    EXPECT_EQ(c.shared.playAlong.mode, PlayAlongMode::Free);
    EXPECT_TRUE(c.shared.playAlong.keysDown.test(64)) << "the key that began free play is its first";
    EXPECT_NE(c.playAlong.Synth(), nullptr);
    Press(keys, 64, false);
    Key('\t');
    EXPECT_FALSE(c.shared.playAlong.On());
    ASSERT_EQ(dialogs.saveRequests.size(), 1u) << "the take with its one note is offered for saving";

    Load();
    keys = PlugKeyboard();
    Press(keys, 64, true);
    EXPECT_FALSE(c.shared.playAlong.On()) << "a key with a song loaded started playing along";
    EXPECT_FALSE(c.shared.playAlong.keysDown.test(64));
}

// Play-along that follows: the song runs on, each key of the player's is judged against the hand's
// notes, and a pass of the loop ends with its score shown over the notes.
TEST_F(PracticeTest, FollowingJudgesEachKeyAndShowsThePassScore) {
    Load();
    Key('1');
    platform::InputMessage shiftTab;
    shiftTab.kind = platform::InputKind::KeyDown;
    shiftTab.keyCode = '\t';
    shiftTab.shift = true;
    c.OnKeyDown(shiftTab);
    ASSERT_TRUE(c.shared.playAlong.On());
    ASSERT_NE(c.playAlong.Follow(), nullptr);
    EXPECT_EQ(c.playAlong.Wait(), nullptr) << "the song does not wait";
    platform::ScriptedMidiInput* keys = PlugKeyboard();
    const auto press = [&](int key, bool down) { Press(keys, key, down); };

    // A passage of the first three notes of the right hand (0, 0.5 and 1 s), played over and over.
    c.transport.Clock().Init({&TestFrequency, &TestNow});
    c.transport.SetLoop({0, static_cast<int64_t>(1.2 * kRate)});
    WaitForPractice();
    c.transport.Start();
    ASSERT_FALSE(c.transport.WaitingForRender());
    int struck = 0;
    for (int step = 0; step < 80 && c.playAlong.Follow()->PassesEnded() == 0; ++step) {
        c.playAlong.Step();
        const double song = c.transport.HeardSongTime();
        if (struck < 3 && std::fabs(song - 0.5 * struck) < 0.04) {
            press(72, true);
            press(72, false);
            ++struck;
        }
        Hear(0.025);
    }
    EXPECT_EQ(struck, 3);
    EXPECT_FALSE(c.transport.State() == TransportState::HeldForPlayer) << "following never holds the song";
    EXPECT_EQ(c.shared.playAlong.scoreText.rfind("3 of 3 notes, ", 0), 0u) << c.shared.playAlong.scoreText;
    ASSERT_FALSE(c.shared.practice.Key().empty());
    const ScoreMemory kept = ReadScoreMemory(c.shared.practice.Key());
    ASSERT_EQ(kept.passes.size(), 1u) << "every pass is kept, best or not";
    EXPECT_EQ(kept.passes[0].parts, "1");

    // Each time round is a pass of its own, counted in by a bar (4/4 at 120: two seconds).
    ASSERT_TRUE(c.transport.CountingIn());
    EXPECT_EQ(c.transport.Frame(), 0u) << "at the loop's start";
    testNow += 2000;
    c.transport.StepCountIn();
    ASSERT_EQ(c.transport.State(), TransportState::Playing);

    // The next time round nothing is struck: each note is marked missed on its bar once the song
    // has passed it (the one at the wrap itself is the last time round's), and the marks of the
    // last time round went at the wrap.
    for (int step = 0; step < 60 && c.transport.HeardSongTime() < 1.1; ++step) {
        c.playAlong.Step();
        Hear(0.025);
    }
    c.playAlong.Step();
    const NoteMarks& marks = c.playAlong.Marks();
    EXPECT_TRUE(marks.Missed(72, 0.5f)) << marks.count << " marks";
    for (int i = 0; i < marks.count; ++i) EXPECT_EQ(marks.marks[i].judgement, Judgement::Missed);
    NotesViewOptions shown;
    c.playAlong.ShowIn(shown);
    EXPECT_EQ(shown.marks, &marks);
}

TEST_F(PracticeTest, LoopsAreMarkedByBarsAndPlayFromTheirStart) {
    Load();
    WaitForPractice();
    const auto mark = [&](uint32_t code, bool shift) {
        platform::InputMessage message;
        message.kind = platform::InputKind::KeyDown;
        message.keyCode = code;
        message.shift = shift;
        c.OnInput(message);
    };
    const auto frames = [](double seconds) { return static_cast<int64_t>(seconds * kRate); };
    // Four beats at 120 a minute: a bar line every two seconds.
    c.transport.SeekTo(static_cast<uint32_t>(frames(2.3)));
    mark('l', false);
    EXPECT_EQ(c.shared.practice.loopMark, frames(2.0)) << "the start goes to the nearest bar line";
    EXPECT_DOUBLE_EQ(c.ViewOfSong().loopMark, 2.0) << "and shows at once";
    c.transport.SeekTo(static_cast<uint32_t>(frames(2.6)));
    mark('l', false);
    ASSERT_TRUE(c.transport.Playback()->Loop().Active());
    EXPECT_EQ(c.transport.Playback()->Loop().start, frames(2.0));
    EXPECT_EQ(c.transport.Playback()->Loop().end, frames(4.0)) << "an end near the start still makes a bar";
    c.transport.SeekTo(static_cast<uint32_t>(frames(3.0)));
    Key(platform::kKeyHome);
    EXPECT_EQ(c.transport.Frame(), frames(2.0)) << "Home goes to the loop's start";

    // Shift marks the exact time; while playing along, the key beside the computer keyboard's
    // notes marks it without leaving play-along.
    mark('l', false);
    ASSERT_FALSE(c.transport.Playback()->Loop().Active());
    Key('\t');
    ASSERT_TRUE(c.shared.playAlong.On());
    c.transport.SeekTo(static_cast<uint32_t>(frames(6.3)));
    mark('\\', true);
    EXPECT_EQ(c.shared.practice.loopMark, frames(6.3));
    c.transport.SeekTo(static_cast<uint32_t>(frames(9.1)));
    mark('\\', false);
    ASSERT_TRUE(c.transport.Playback()->Loop().Active());
    EXPECT_EQ(c.transport.Playback()->Loop().start, frames(6.3));
    EXPECT_EQ(c.transport.Playback()->Loop().end, frames(10.0));
    EXPECT_TRUE(c.shared.playAlong.On());
    Key('\t');

    // Opened again, the song plays its kept loop from the loop's start.
    Load();
    ASSERT_TRUE(c.transport.Playback()->Loop().Active());
    c.transport.Play();
    EXPECT_NEAR(static_cast<double>(c.transport.Frame()), static_cast<double>(frames(6.3)), kRate / 100.0);
}

TEST_F(PracticeTest, TranspositionMetronomeAndTrainerAreKeptWithTheSong) {
    Load();
    WaitForPractice();
    Key('.', 14);
    EXPECT_EQ(c.shared.practice.transpose, 12) << "an octave up at most";
    ASSERT_NE(c.transport.PracticeRender(), nullptr) << "the song is rendered again, moved";
    Key(',', 9);
    Key('m');
    EXPECT_EQ(c.shared.practice.transpose, 3);
    EXPECT_TRUE(c.shared.practice.metronome);
    const SongMemory kept = ReadSongMemory(c.shared.practice.Key());
    EXPECT_EQ(kept.transpose, 3);
    EXPECT_TRUE(kept.metronome);

    // Shift+] turns the trainer on, and it is kept with the song though nothing sounds different.
    platform::InputMessage trainer;
    trainer.kind = platform::InputKind::KeyDown;
    trainer.keyCode = ']';
    trainer.shift = true;
    c.OnKeyDown(trainer);
    EXPECT_TRUE(c.shared.practice.trainer);
    EXPECT_TRUE(ReadSongMemory(c.shared.practice.Key()).trainer);

    Load();
    EXPECT_EQ(c.shared.practice.transpose, 3) << "opened again, the song is heard as it was left";
    EXPECT_TRUE(c.shared.practice.metronome);
    EXPECT_TRUE(c.shared.practice.trainer);
    Key('m');
    Key(',', 3);
    c.OnKeyDown(trainer);
    EXPECT_TRUE(c.shared.practice.PlainSound());
    EXPECT_EQ(ReadSongMemory(c.shared.practice.Key()).transpose, 0);
    EXPECT_FALSE(ReadSongMemory(c.shared.practice.Key()).trainer);
}

// Play-along with a keyboard on a real MIDI system: a JACK server on its dummy back end, the
// keyboard a second client of it (play_along_jack.sh starts the server and runs this). Play-along
// finds the keyboard, lists it, and its key lets the waiting song go on.
TEST_F(PracticeTest, PlaysAlongOnAKeyboardThroughJack) {
    if (std::getenv("DORVIK_TEST_JACK") == nullptr)
        GTEST_SKIP() << "play_along_jack.sh runs this with a server";
    RtMidiOut keyboard(RtMidi::UNIX_JACK, "test piano");
    keyboard.openVirtualPort("keys");
    Load();
    Key('1');
    Key('\t');
    ASSERT_TRUE(c.playAlong.ListeningToMidi()) << c.shared.playAlong.scoreText;
    EXPECT_NE(c.shared.playAlong.inputName.find("test piano"), std::string::npos);
    ASSERT_FALSE(c.playAlong.Inputs().names.empty());
    EXPECT_EQ(c.playAlong.Inputs().listening, 0);

    WaitForPractice();
    c.transport.Start();
    c.playAlong.Step();
    ASSERT_TRUE(c.transport.State() == TransportState::HeldForPlayer);
    const std::vector<unsigned char> down = {0x90, 72, 100};
    keyboard.sendMessage(&down);
    bool lit = false;
    for (int i = 0; i < 400 && c.transport.State() == TransportState::HeldForPlayer; ++i) {
        usleep(5000);
        c.playAlong.Step();
        lit = lit || c.shared.playAlong.keysDown.test(72);
    }
    EXPECT_TRUE(lit) << "the key lights";
    EXPECT_FALSE(c.transport.State() == TransportState::HeldForPlayer) << "the key lets the song go on";
}
