#include "synth/part_mute.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "smf_builder.h"
#include "synth/practice_choice.h"
#include "synth/render_stream.h"
#include "synth/synth_renderer.h"

namespace {

constexpr uint32_t kRate = 44100;

struct PartNotes {
    int32_t track;
    int32_t channel;
    std::vector<NoteRecord> notes;
};

// A song of the given parts, as the reader leaves one: every part's notes in one store.
std::unique_ptr<SongData> MakeSong(SongReading reading, const std::vector<PartNotes>& parts,
                                   int32_t percussionNotes = 0) {
    auto song = std::make_unique<SongData>();
    song->reading = reading;
    song->handRule = reading == ReadingHands ? HandsByPitch : HandsNone;
    song->partCount = static_cast<int32_t>(parts.size());
    song->percussionNotes = percussionNotes;
    int64_t total = 0;
    for (const PartNotes& p : parts) total += static_cast<int64_t>(p.notes.size());
    EXPECT_TRUE(song->AllocateNotes(total));
    NoteRecord* at = song->noteStore.get();
    for (size_t i = 0; i < parts.size(); ++i) {
        SongPart& part = song->parts[i];
        part.track = parts[i].track;
        part.channel = parts[i].channel;
        part.noteCount = static_cast<int32_t>(parts[i].notes.size());
        part.notes = at;
        for (const NoteRecord& n : parts[i].notes) *at++ = n;
    }
    return song;
}

NoteRecord Note(int key, float start) {
    return {start, start + 0.2f, static_cast<uint8_t>(key), 100};
}

// A note-on as the player plays it: on `channel` for `key`, when the render has reached `seconds`
// of rendered time.
struct NoteOn {
    double seconds;
    int channel;
    int key;
    bool muted;
};

void Expect(NoteMuter& muter, int64_t& frames, const std::vector<NoteOn>& onsets, const std::string& what) {
    for (const NoteOn& on : onsets) {
        frames = static_cast<int64_t>(on.seconds * kRate);
        EXPECT_EQ(muter.Muted(on.channel, on.key), on.muted)
            << what << ": the note-on at " << on.seconds << " s on channel " << on.channel + 1 << ", key "
            << on.key << " expected " << (on.muted ? "muted" : "heard");
    }
}

// Hands split by pitch share one channel and, in the middle of the keyboard, keys: key 60 is the
// second hand's at 0 s and 2 s and the first hand's at 1 s. The player plays each note a little
// after its time, and the position read lags by up to a block.
TEST(NoteMuter, TellsHandsSharingAChannelAndAKeyApartByTime) {
    const auto song = MakeSong(ReadingHands, {{0, 0, {Note(72, 0.0f), Note(60, 1.0f), Note(64, 1.5f)}},
                                              {0, 0, {Note(60, 0.0f), Note(48, 0.5f), Note(60, 2.0f)}}});
    PartMutes mutes;
    mutes.parts.set(1);
    int64_t frames = 0;
    NoteMuter muter(song.get(), mutes, 1.0, kRate, &frames, nullptr);
    Expect(muter, frames,
           {{0.0, 0, 72, false},
            {0.0015, 0, 60, true},
            {0.501, 0, 48, true},
            {0.999, 0, 60, false},
            {1.5, 0, 64, false},
            {2.003, 0, 60, true},
            // A key of the muted hand's is muted wherever it comes, on any of the hands' channels.
            {5.0, 1, 48, true},
            // A note the reader does not have (one past its limits) sounds.
            {7.0, 0, 60, false}},
           "hands");
}

// Voices are a track and a channel each: two voices of one channel from different tracks, one of
// them muted, play the same key at different times; a voice on another channel is untouched.
TEST(NoteMuter, TellsVoicesOfOneChannelApartAndKeepsOtherChannels) {
    const auto song = MakeSong(ReadingVoices,
                               {{1, 2, {Note(60, 0.0f), Note(62, 1.0f)}},
                                {2, 2, {Note(60, 0.5f), Note(60, 1.0f), Note(65, 3.0f)}},
                                {3, 4, {Note(60, 0.5f)}}},
                               5);
    PartMutes mutes;
    mutes.parts.set(1);
    int64_t frames = 0;
    NoteMuter muter(song.get(), mutes, 1.0, kRate, &frames, nullptr);
    Expect(muter, frames,
           {{0.0, 2, 60, false},
            {0.5, 2, 60, true},
            {0.5, 4, 60, false},
            {1.0, 2, 62, false},
            {1.0, 2, 60, true},
            {3.0, 2, 65, true},
            // The channel alone does not decide: the other voice of channel 3 has no key 65.
            {3.0, 3, 65, false},
            // The drums belong to no part, and are heard unless muted as drums.
            {3.0, kPercussionChannel, 36, false}},
           "voices");
}

// At half speed a note's time in the render is twice its time in the song; drums are the
// percussion channel whatever the parts.
TEST(NoteMuter, MatchesAtTheRendersSpeedAndMutesDrums) {
    const auto song = MakeSong(ReadingHands, {{0, 0, {Note(60, 1.0f)}}, {0, 0, {Note(60, 2.0f)}}}, 3);
    PartMutes mutes;
    mutes.parts.set(0);
    mutes.drums = true;
    int64_t frames = 0;
    NoteMuter muter(song.get(), mutes, 0.5, kRate, &frames, nullptr);
    Expect(muter, frames, {{2.0, 0, 60, true}, {4.001, 0, 60, false}, {4.5, kPercussionChannel, 38, true}},
           "half speed");
}

TEST(AddMutedPart, TakesThePartsTheSongHasAndNamesTheOnesItHasNot) {
    const auto hands = MakeSong(ReadingHands, {{0, 0, {Note(60, 0)}}, {1, 0, {Note(40, 0)}}});
    const auto voices =
        MakeSong(ReadingVoices, {{0, 0, {Note(60, 0)}}, {1, 1, {Note(40, 0)}}, {2, 2, {}}}, 4);
    struct Row {
        const SongData* song;
        std::string part;
        int part0;  // the part it mutes, counted from 0; -1 for the drums; -2 when refused
        std::string words;
    };
    const std::vector<Row> rows = {
        {hands.get(), "1", 0, ""},
        {hands.get(), "2", 1, ""},
        {hands.get(), "3", -2, "no part 3 (it is read as two hands: 1 and 2)"},
        {hands.get(), "0", -2, "no part 0"},
        {hands.get(), "drums", -2, "no drums"},
        {hands.get(), "-1", -2, "no part -1"},
        {hands.get(), "", -2, "no part "},
        {voices.get(), "3", 2, ""},
        {voices.get(), "4", -2, "no part 4 (it has voices 1 to 3, or drums)"},
        {voices.get(), "99999999999999999999", -2, "no part 9999"},
        {voices.get(), "drums", -1, ""},
    };
    for (const Row& row : rows) {
        PartMutes mutes;
        const Failure refused = AddMutedPart(*row.song, row.part, mutes);
        const bool taken = refused.Ok();
        const std::string& error = refused.text;
        EXPECT_EQ(taken, row.part0 != -2) << "\"" << row.part << "\": " << error;
        if (row.part0 == -2) {
            EXPECT_NE(error.find(row.words), std::string::npos)
                << "\"" << row.part << "\": expected \"" << row.words << "\" in \"" << error << "\"";
            EXPECT_FALSE(mutes.Any()) << row.part;
        } else if (row.part0 == -1) {
            EXPECT_TRUE(mutes.drums);
            EXPECT_FALSE(mutes.parts.any());
        } else {
            EXPECT_EQ(mutes.parts.count(), 1u) << row.part;
            EXPECT_TRUE(mutes.parts.test(static_cast<size_t>(row.part0))) << row.part;
        }
    }
}

// A render is refused, before anything is written, at a speed it does not play at, or with parts
// muted in a song it was not given.
TEST(SetUpPractice, RefusesWhatARenderCannotDo) {
    const std::string folder = ::testing::TempDir();
    struct Row {
        double speed;
        bool mutePart;
        std::string words;
        int transpose = 0;
        bool rawClicks = false;  // a raw render asked for a metronome
    };
    for (const Row& row : std::vector<Row>{{0.1, false, "speed"},
                                           {2.5, false, "speed"},
                                           {-1.0, false, "speed"},
                                           {std::nan(""), false, "speed"},
                                           {1.0, true, "a part can be muted only"},
                                           {1.0, false, "outside -12 to 12", 13},
                                           {1.0, false, "outside -12 to 12", -13},
                                           {1.0, false, "takes no metronome", 0, true}}) {
        SynthRenderer synth;
        ASSERT_TRUE(synth.Valid());
        // The tests run in the source folder.
        std::vector<uint8_t> demo;
        const Failure read = ReadFileBytes("examples/demo_song.mid", demo);
        ASSERT_TRUE(read.Ok()) << read.text;
        RenderRequest request{smf::Shared(demo), "/usr/share/sounds/sf2/TimGM6mb.sf2", nullptr};
        request.speed = row.speed;
        request.mutes.parts.set(0, row.mutePart);
        request.transpose = row.transpose;
        request.raw = row.rawClicks;
        if (row.rawClicks) request.metronome = {{0.0, true}};
        const Failure started = synth.StartRender(request, folder);
        EXPECT_FALSE(started.Ok()) << row.speed;
        EXPECT_NE(started.text.find(row.words), std::string::npos) << started.text;
        EXPECT_FALSE(synth.rendering);
    }
}

}  // namespace

// A passage rendered again for practice: from a place inside the song (past a change of tempo),
// at half speed, as loud as the song's render, and with one of two voices of one channel and key
// silent. Its frames start at the place asked for, and only notes struck from there on sound.
TEST(StreamRender, StartsInsideTheSongAtItsSpeedWithItsPartsSilent) {
    using namespace smf;
    // Quarter notes of key 60 from two tracks in turn: 0.5 s apart at first, 0.25 s apart from
    // tick 1920 (2 s) on.
    const Bytes bytes = Song(480, {Track({Tempo(0, 500000), Tempo(1920, 250000), EndOfTrack(1920)}),
                                   Track({Program(0, 0, 40), On(0, 0, 60), Off(240, 0, 60), On(1680, 0, 60),
                                          Off(240, 0, 60), EndOfTrack(1440)}),
                                   Track({Program(0, 0, 40), On(1440, 0, 60), Off(240, 0, 60), On(720, 0, 60),
                                          Off(240, 0, 60), EndOfTrack()})});
    SongData song{};
    TempoMap tempo;
    ASSERT_TRUE(ParseSong(song, bytes.data(), bytes.size(), &tempo));
    ASSERT_EQ(song.partCount, 2);
    // Notes: track 1 at 0 s and 2 s, track 2 at 1.5 s and 2.25 s.
    const double from = 1.6;
    const int64_t tick = tempo.TickAtOrBefore(from);
    EXPECT_NEAR(tempo.Seconds(tick), from, 1e-3);
    EXPECT_LE(tempo.Seconds(tick), from);

    // The energy of the stream's frames between two times of the stream.
    const auto energy = [](const RenderStream& stream, double a, double b) {
        const auto first = static_cast<int64_t>(a * kRate);
        std::vector<float> frames(static_cast<size_t>((b - a) * kRate) * 2);
        const size_t got = stream.Read(first, frames.data(), frames.size() / 2);
        double sum = 0;
        for (size_t i = 0; i < got * 2; ++i) sum += double(frames[i]) * frames[i];
        return sum;
    };
    // The same through FluidSynth's player and through the render's own sequencer, which a song
    // too big for the player takes.
    for (const bool own : {false, true}) {
        SCOPED_TRACE(own ? "own sequencer" : "FluidSynth's player");
        // The renderer keeps no stream once the render is over: the test keeps its own share first.
        SynthRenderer synth;
        RenderRequest request{Shared(bytes), "/usr/share/sounds/sf2/TimGM6mb.sf2", &song};
        request.speed = 0.5;
        request.startTick = tick;
        request.startSeconds = tempo.Seconds(tick);
        request.ownSequencerBytes = own ? 0 : kOwnSequencerBytes;
        const Failure started = synth.StartStreamRender(request, ::testing::TempDir(), nullptr);
        ASSERT_TRUE(started.Ok()) << started.text;
        const std::shared_ptr<RenderStream> heard = synth.Stream();
        while (synth.RenderStep().outcome == RenderOutcome::Running) {
        }
        ASSERT_TRUE(heard->Completed());
        request.mutes.parts.set(1);
        ASSERT_TRUE(synth.StartStreamRender(request, ::testing::TempDir(), nullptr).Ok());
        const std::shared_ptr<RenderStream> muted = synth.Stream();
        while (synth.RenderStep().outcome == RenderOutcome::Running) {
        }
        ASSERT_TRUE(muted->Completed());

        // Nothing struck before the place sounds: the note at 1.5 s is not in the stream. The note at
        // 2 s comes (2 - 1.6) / 0.5 = 0.8 s into the stream, and the one at 2.25 s at 1.3 s.
        EXPECT_LT(energy(*heard, 0.0, 0.78), 1e-6);
        const double first = energy(*heard, 0.8, 1.0);
        EXPECT_GT(first, 1.0);
        EXPECT_GT(energy(*heard, 1.3, 1.5), first / 4);
        // The second voice's note is silent where the first's sounds as before.
        EXPECT_NEAR(energy(*muted, 0.8, 1.0), first, first * 0.01);
        EXPECT_LT(energy(*muted, 1.32, 1.5), energy(*heard, 1.32, 1.5) / 10);

        // Every part muted is silence asked for, not a failed render: the stream completes.
        request.mutes.parts.set(0);
        ASSERT_TRUE(synth.StartStreamRender(request, ::testing::TempDir(), nullptr).Ok());
        const std::shared_ptr<RenderStream> silent = synth.Stream();
        RenderStatus status;
        do {
            status = synth.RenderStep();
        } while (status.outcome == RenderOutcome::Running);
        EXPECT_EQ(status.outcome, RenderOutcome::Finished) << status.failure.text;
        EXPECT_TRUE(silent->Completed());
        EXPECT_LT(energy(*silent, 0.0, 2.0), 1e-6);
    }
}

// The practice choice: a legend click takes a part round muted, solo and back; a solo silences
// every other part and the drums; the speed keeps to its steps and range; and the few words the
// export's dialog shows say what differs from the song as written.
TEST(PracticeChoice, CyclesPartsSolosAndDescribesItself) {
    PracticeChoice choice;
    EXPECT_TRUE(choice.Plain());
    EXPECT_EQ(choice.Describe(2, true), "");
    choice.CyclePart(1);
    EXPECT_EQ(choice.parts[1], PartSound::Muted);
    PartMutes mutes = choice.Mutes(3);
    EXPECT_EQ(mutes.parts.to_ulong(), 0b010u);
    EXPECT_FALSE(mutes.drums);
    EXPECT_EQ(choice.Describe(3, false), "voice 2 muted");
    choice.CyclePart(1);
    EXPECT_EQ(choice.parts[1], PartSound::Solo);
    mutes = choice.Mutes(3);
    EXPECT_EQ(mutes.parts.to_ulong(), 0b101u) << "only the soloed part sounds";
    EXPECT_TRUE(mutes.drums);
    EXPECT_EQ(choice.Describe(2, true), "Hand 2 (left) alone");
    choice.CyclePart(1);
    EXPECT_TRUE(choice.Plain());
    EXPECT_FALSE(choice.CyclePart(kMaxParts));

    for (int i = 0; i < 40; ++i) choice.StepSpeed(-1);
    EXPECT_EQ(choice.speedPercent, PracticeChoice::kMinSpeed);
    EXPECT_FALSE(choice.StepSpeed(-1));
    choice.SetSpeed(73.0);
    EXPECT_EQ(choice.speedPercent, 75) << "rounded to a step";
    choice.SetSpeed(std::nan(""));
    EXPECT_EQ(choice.speedPercent, 75);
    choice.drumsMuted = true;
    choice.ToggleMute(0);
    EXPECT_EQ(choice.Describe(2, true), "75% speed, Hand 1 (right) muted, drums muted");

    // The legend's own buttons: S puts a part alone and back; the triangle leaves one part to the
    // player, whatever was muted or soloed before.
    choice.ToggleSolo(2);
    EXPECT_EQ(choice.Mutes(3).parts.to_ulong(), 0b011u);
    choice.ToggleSolo(2);
    EXPECT_EQ(choice.parts[2], PartSound::Heard);
    choice.parts[1] = PartSound::Solo;
    EXPECT_TRUE(choice.LeaveToPlayer(2));
    EXPECT_EQ(choice.Mutes(3).parts.to_ulong(), 0b100u);
    EXPECT_FALSE(choice.LeaveToPlayer(-1));
}

// The trainer raises the speed a step after a clean pass only, and never past the song's own.
TEST(PracticeChoice, TrainerRaisesTheSpeedAfterCleanPassesOnly) {
    struct Case {
        const char* what;
        PlayScore pass;
        int speed;
        int after;
    };
    const Case cases[] = {
        {"all hits", {.hits = 10}, 70, 75},
        {"early and late notes still found every key", {.hits = 8, .early = 1, .late = 1}, 70, 75},
        {"a missed note", {.hits = 9, .missed = 1}, 70, 70},
        {"a wrong key", {.hits = 10, .wrong = 1}, 70, 70},
        {"no notes at all", {}, 70, 70},
        {"up to the song's own speed", {.hits = 10}, 100, 100},
        {"a song set faster stays", {.hits = 10}, 120, 120},
    };
    for (const Case& c : cases) {
        PracticeChoice choice;
        choice.speedPercent = c.speed;
        EXPECT_EQ(choice.TrainAfter(c.pass), c.after != c.speed) << c.what;
        EXPECT_EQ(choice.speedPercent, c.after) << c.what;
    }
}
