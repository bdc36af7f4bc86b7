// The transport as a state machine: every state against every step, over a render the test
// writes, a ring the test moves and a counter the test sets, so nothing waits on time. Beside the
// state each step leads to, the table checks the rule the rest of the program relies on: the sound
// runs in Playing and in no other state.
#include "app/transport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/session_state.h"
#include "audio/streaming_player.h"
#include "manual_output.h"
#include "midi/note_timeline.h"
#include "synth/render_stream.h"
#include "synth/stream_playback.h"

using std::chrono::milliseconds;

namespace {

constexpr uint32_t kRate = 44100;

int64_t fakeNow = 1000;  // a thousand ticks a second, moved by hand
int64_t FakeFrequency() {
    return 1000;
}
int64_t FakeNow() {
    return fakeNow;
}

using TS = TransportState;
constexpr TS kStates[] = {TS::Idle,          TS::CountingIn, TS::Playing, TS::WaitingForRender,
                          TS::HeldForPlayer, TS::Paused,     TS::Stopped};

const char* Name(TS state) {
    switch (state) {
        case TS::Idle:
            return "Idle";
        case TS::CountingIn:
            return "CountingIn";
        case TS::Playing:
            return "Playing";
        case TS::WaitingForRender:
            return "WaitingForRender";
        case TS::HeldForPlayer:
            return "HeldForPlayer";
        case TS::Paused:
            return "Paused";
        case TS::Stopped:
            return "Stopped";
    }
    return "?";
}

// A 20-second song whose render has reached 10 seconds.
class TransportTable {
  public:
    TransportTable() {
        session.song = std::make_unique<SongData>();
        session.song->duration = 20.0;
        transport.CreatePlayer(out, milliseconds(0));
        transport.Clock().Init({&FakeFrequency, &FakeNow});
        auto file = std::make_unique<RenderFile>();
        if (const Failure made = file->CreateTemporary("/tmp"); !made.Ok()) ADD_FAILURE() << made.text;
        stream = std::make_shared<RenderStream>(std::move(file), kRate, 20 * kRate);
        EXPECT_TRUE(transport.PrepareStreamPlayback(stream));
        RenderTo(10.0);
    }

    void RenderTo(double seconds) {
        const auto to = static_cast<int64_t>(seconds * kRate);
        std::vector<float> frames(static_cast<size_t>(2 * (to - stream->ReadyFrames())), 0.001f);
        if (frames.empty()) return;
        ASSERT_EQ(write(stream->Fd(), frames.data(), frames.size() * sizeof(float)),
                  static_cast<ssize_t>(frames.size() * sizeof(float)));
        stream->Append(frames.data(), frames.size() / 2);
    }
    // The device plays `seconds` (if the ring runs), with the refills a timer would run, then a frame.
    void Hear(double seconds) {
        for (auto frames = static_cast<uint32_t>(seconds * kRate); frames > 0;) {
            const uint32_t step = std::min(frames, 4410u);
            out.ring->Advance(step * 4);
            transport.Player()->OnTimer();
            frames -= step;
        }
        transport.Update();
    }

    // Brought to `state` the way the window gets there, and one frame drawn.
    void BringTo(TS state) {
        switch (state) {
            case TS::Idle:
                break;
            case TS::CountingIn:
                transport.Play();
                break;
            case TS::Playing:
                transport.Start();
                break;
            case TS::WaitingForRender:
                transport.Start();
                transport.SeekTo(15 * kRate);  // past the render
                break;
            case TS::HeldForPlayer:
                transport.Start();
                transport.HoldForPlayer(kRate);
                break;
            case TS::Paused:
                transport.Start();
                Hear(0.5);
                transport.Pause();
                break;
            case TS::Stopped:
                transport.Start();
                transport.Stop();
                break;
        }
        transport.Update();
        ASSERT_EQ(transport.State(), state) << "could not bring the transport to " << Name(state);
    }

    SessionState session;
    ManualOutput out;
    Transport transport{session};
    std::shared_ptr<RenderStream> stream;
};

}  // namespace

TEST(Transport, EveryStateAgainstEveryStep) {
    enum Step {
        Play,
        CountInOver,
        Pause,
        Stop,
        Rewind,
        SeekInRender,
        SeekPastRender,
        RenderCatchesUp,
        RenderFallsBehind,
        Hold,
        Release,
        Prepare,
        kSteps
    };
    const char* const stepNames[kSteps] = {"Play",           "CountInOver",     "Pause",
                                           "Stop",           "Rewind",          "SeekInRender",
                                           "SeekPastRender", "RenderCatchesUp", "RenderFallsBehind",
                                           "Hold",           "Release",         "Prepare"};
    // Per step, the state reached from each state of kStates, in that order:
    //               Idle          CountingIn    Playing           WaitingForRender  HeldForPlayer     Paused
    //               Stopped
    const TS expected[kSteps][std::size(kStates)] = {
        /* Play */ {TS::CountingIn, TS::CountingIn, TS::Playing, TS::WaitingForRender, TS::Playing,
                    TS::Playing, TS::CountingIn},
        /* CountInOver */
        {TS::Idle, TS::Playing, TS::Playing, TS::WaitingForRender, TS::HeldForPlayer, TS::Paused,
         TS::Stopped},
        /* Pause */ {TS::Paused, TS::Paused, TS::Paused, TS::Paused, TS::Paused, TS::Paused, TS::Paused},
        /* Stop */
        {TS::Stopped, TS::Stopped, TS::Stopped, TS::Stopped, TS::Stopped, TS::Stopped, TS::Stopped},
        /* Rewind */ {TS::Idle, TS::Playing, TS::Playing, TS::Playing, TS::Playing, TS::Paused, TS::Stopped},
        /* SeekInRender */
        {TS::Paused, TS::Paused, TS::Playing, TS::Playing, TS::Playing, TS::Paused, TS::Paused},
        /* SeekPastRender */
        {TS::Paused, TS::Paused, TS::WaitingForRender, TS::WaitingForRender, TS::WaitingForRender, TS::Paused,
         TS::Paused},
        /* RenderCatchesUp */
        {TS::Idle, TS::CountingIn, TS::Playing, TS::Playing, TS::HeldForPlayer, TS::Paused, TS::Stopped},
        /* RenderFallsBehind */
        {TS::Idle, TS::CountingIn, TS::WaitingForRender, TS::WaitingForRender, TS::HeldForPlayer, TS::Paused,
         TS::Stopped},
        /* Hold */
        {TS::Idle, TS::CountingIn, TS::HeldForPlayer, TS::WaitingForRender, TS::HeldForPlayer, TS::Paused,
         TS::Stopped},
        /* Release */
        {TS::Idle, TS::CountingIn, TS::Playing, TS::WaitingForRender, TS::Playing, TS::Paused, TS::Stopped},
        /* Prepare */
        {TS::Idle, TS::CountingIn, TS::Playing, TS::Playing, TS::Playing, TS::Paused, TS::Stopped},
    };
    for (int step = 0; step < kSteps; ++step) {
        for (size_t from = 0; from < std::size(kStates); ++from) {
            SCOPED_TRACE(testing::Message() << stepNames[step] << " from " << Name(kStates[from]));
            TransportTable rig;
            ASSERT_NO_FATAL_FAILURE(rig.BringTo(kStates[from]));
            Transport& t = rig.transport;
            switch (static_cast<Step>(step)) {
                case Play:
                    t.Play();
                    break;
                case CountInOver:
                    fakeNow += 1000;
                    t.StepCountIn();
                    break;
                case Pause:
                    t.Pause();
                    break;
                case Stop:
                    t.Stop();
                    break;
                case Rewind:
                    t.Rewind();
                    break;
                case SeekInRender:
                    t.SeekTo(2 * kRate);
                    break;
                case SeekPastRender:
                    t.SeekTo(15 * kRate);
                    break;
                case RenderCatchesUp:
                    rig.RenderTo(20.0);
                    t.Update();
                    break;
                case RenderFallsBehind:
                    rig.Hear(8.0);
                    break;
                case Hold:
                    t.HoldForPlayer(kRate);
                    break;
                case Release:
                    t.ReleaseForPlayer();
                    break;
                case Prepare:
                    (void)t.PrepareStreamPlayback(rig.stream);
                    break;
                default:
                    break;
            }
            const TS want = expected[step][from];
            EXPECT_EQ(t.State(), want) << "expected " << Name(want) << ", got " << Name(t.State());
            // A new sound is set up silent, whatever the state; its caller stops or seeks next.
            if (step != Prepare) {
                EXPECT_EQ(rig.out.ring->Playing(), t.State() == TS::Playing)
                    << "the sound runs in Playing only";
            }
            EXPECT_TRUE(std::isfinite(t.HeardSongTime()));
        }
    }
}

// Where each step leaves the place: a move lands where it was sent and tells the notes view,
// a hold stands just where it was asked, and the count-in's clock runs from -1 to 0.
TEST(Transport, StepsLeaveThePlaceWhereTheySay) {
    {
        TransportTable rig;
        Transport& t = rig.transport;
        t.Play();
        fakeNow += 250;
        t.Update();
        EXPECT_NEAR(t.SongTime(), -0.75, 1e-3) << "the count-in counts up to the first note";
        EXPECT_EQ(t.Frame(), 0u);
    }
    {
        TransportTable rig;
        Transport& t = rig.transport;
        rig.BringTo(TS::Playing);
        rig.Hear(1.0);
        rig.session.refreshBits = 0;
        const uint32_t jumps = t.Jumps();
        t.HoldForPlayer(kRate / 2);
        EXPECT_EQ(t.Jumps(), jumps + 1);
        EXPECT_EQ(t.SeekOffset(), kRate / 2);
        EXPECT_EQ(t.Frame(), kRate / 2);
        EXPECT_TRUE(rig.session.refreshBits & RefreshNotesView) << "a hold is a jump of the place";
        EXPECT_DOUBLE_EQ(t.HeardSongTime(), 0.5) << "no lead while held";
        rig.Hear(1.0);
        EXPECT_EQ(t.Frame(), kRate / 2) << "nothing is heard while held";
        t.ReleaseForPlayer();
        rig.Hear(1.0);
        EXPECT_EQ(t.Frame(), kRate / 2 + kRate);
    }
}

// Faults of the flags the transport replaced: a seek while the song was held for the player left
// it silent for good once the render was behind (held, and waiting, each waiting for the other);
// a pause and play while held played on past the note waited for; a practice change while held
// sounded the song with its notes standing still.
TEST(Transport, AHoldNeverOutlastsWhatEndsIt) {
    {
        TransportTable rig;
        Transport& t = rig.transport;
        rig.BringTo(TS::HeldForPlayer);
        t.SeekTo(15 * kRate);
        ASSERT_EQ(t.State(), TS::WaitingForRender);
        rig.RenderTo(20.0);
        t.Update();
        EXPECT_EQ(t.State(), TS::Playing) << "the render caught up: the song goes on";
        EXPECT_TRUE(rig.out.ring->Playing());
    }
    {
        TransportTable rig;
        Transport& t = rig.transport;
        rig.BringTo(TS::HeldForPlayer);
        t.Pause();
        t.Play();
        EXPECT_EQ(t.State(), TS::Playing) << "free to be held again at the note";
        t.HoldForPlayer(kRate);
        EXPECT_EQ(t.State(), TS::HeldForPlayer);
    }
    {
        TransportTable rig;
        Transport& t = rig.transport;
        rig.BringTo(TS::HeldForPlayer);
        t.ApplyPractice();
        EXPECT_EQ(t.State(), TS::HeldForPlayer);
        EXPECT_FALSE(rig.out.ring->Playing()) << "the song stays held at the note";
        EXPECT_EQ(t.Frame(), kRate);
    }
}

namespace {

// 3/4 at 100 quarters a minute: a bar is 1.8 seconds.
std::unique_ptr<TempoMap> ThreeFour() {
    auto tempo = std::make_unique<TempoMap>();
    tempo->Build(480, {{0, 600000}});
    tempo->SetMeters({{0, 3, 2}});
    return tempo;
}

// The loudest sample of the click that starts at `seconds` into the count-in.
int ClickPeak(const std::vector<int16_t>& sound, double seconds) {
    const auto from = static_cast<size_t>(seconds * kRate) * 2;
    int peak = 0;
    for (size_t i = from; i < std::min(sound.size(), from + 2 * kRate / 50); ++i)
        peak = std::max(peak, std::abs(static_cast<int>(sound[i])));
    return peak;
}

}  // namespace

// The count-in is a bar of the song's own meter at its tempo and the practice speed, its clicks
// sounding through the player (the first accented), and the song starts where the bar ends: from
// the song's start, from the loop's, and each time a loop comes round while playing along.
TEST(Transport, CountsInABarOfTheSongsMeter) {
    {
        TransportTable rig;
        Transport& t = rig.transport;
        t.SetSongTempo(ThreeFour());
        t.Play();
        ASSERT_EQ(t.State(), TS::CountingIn);
        EXPECT_NEAR(t.CountInSeconds(), 1.8, 1e-9);
        EXPECT_TRUE(rig.out.ring->Playing()) << "the clicks sound while counting in";
        const std::vector<int16_t>& clicks = t.CountInSound();
        ASSERT_EQ(clicks.size(), static_cast<size_t>(std::ceil(1.8 * kRate)) * 2);
        const int accent = ClickPeak(clicks, 0.0);
        EXPECT_GT(accent, ClickPeak(clicks, 0.6)) << "the bar's first click is accented";
        EXPECT_GT(ClickPeak(clicks, 1.2), 0);
        EXPECT_EQ(ClickPeak(clicks, 1.5), 0) << "three beats to the bar, no more";
        rig.Hear(0.9);
        fakeNow += 900;
        t.Update();
        EXPECT_EQ(t.Frame(), 0u) << "the song stands still under the clicks";
        EXPECT_NEAR(t.SongTime(), -0.9, 0.01);
        fakeNow += 800;
        t.StepCountIn();
        EXPECT_EQ(t.State(), TS::CountingIn);
        fakeNow += 100;
        t.StepCountIn();
        EXPECT_EQ(t.State(), TS::Playing);
        rig.Hear(0.5);
        EXPECT_EQ(t.Frame(), kRate / 2) << "the song itself is heard from its start";
    }
    {
        // Half speed: twice as long, and the song time covers the same bar of the song.
        TransportTable rig;
        Transport& t = rig.transport;
        t.SetSongTempo(ThreeFour());
        rig.session.practice.choice.speedPercent = 50;
        t.Play();
        EXPECT_NEAR(t.CountInSeconds(), 3.6, 1e-9);
        fakeNow += 1800;
        t.Update();
        EXPECT_NEAR(t.SongTime(), -0.9, 0.01);
    }
    {
        // A paused song goes on at once, but not one paused at the very start.
        TransportTable rig;
        Transport& t = rig.transport;
        t.SetSongTempo(ThreeFour());
        rig.BringTo(TS::Paused);
        t.Play();
        EXPECT_EQ(t.State(), TS::Playing);
        t.SeekTo(0);
        t.Pause();
        t.Play();
        EXPECT_EQ(t.State(), TS::CountingIn);
        t.Pause();
        EXPECT_FALSE(rig.out.ring->Playing()) << "a pause silences the clicks";
        EXPECT_EQ(t.Frame(), 0u);
    }
    for (const bool along : {false, true}) {
        SCOPED_TRACE(along ? "playing along" : "listening");
        TransportTable rig;
        Transport& t = rig.transport;
        t.SetSongTempo(ThreeFour());
        t.SetLoop({kRate, 3 * kRate});
        if (along) rig.session.playAlong.Begin(PlayAlongMode::Following, "", "Hand 1");
        t.Play();
        EXPECT_EQ(t.State(), TS::CountingIn) << "from the loop's start";
        EXPECT_EQ(t.Frame(), kRate);
        fakeNow += 1800;
        t.StepCountIn();
        rig.Hear(1.5);
        EXPECT_EQ(t.State(), TS::Playing);
        rig.Hear(1.0);  // round the loop
        EXPECT_EQ(t.State(), along ? TS::CountingIn : TS::Playing);
        if (along) {
            EXPECT_EQ(t.Frame(), kRate) << "counted in again at the loop's start";
        }
    }
}
