// Playing a render as it runs: the stream the render appends to, and the playback that reads it at
// the song's loudness, under the ceiling, to the song's end.
#include "synth/stream_playback.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "synth/loudness.h"
#include "synth/render_stream.h"

namespace {

constexpr uint32_t kRate = 44100;

// A stream over an unnamed file in the temporary folder, fed by the test as a render would.
std::shared_ptr<RenderStream> MakeStream(int64_t expectedFrames) {
    auto file = std::make_unique<RenderFile>();
    const char* tmp = std::getenv("TMPDIR");
    const Failure made = file->CreateTemporary(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    EXPECT_TRUE(made.Ok()) << made.text;
    return std::make_shared<RenderStream>(std::move(file), kRate, expectedFrames);
}

void Append(RenderStream& stream, const std::vector<float>& frames) {
    const auto* bytes = reinterpret_cast<const char*>(frames.data());
    ASSERT_EQ(write(stream.Fd(), bytes, frames.size() * sizeof(float)),
              static_cast<ssize_t>(frames.size() * sizeof(float)));
    stream.Append(frames.data(), frames.size() / 2);
}

// `frames` stereo frames of a sine of `amplitude` (a different phase per channel).
std::vector<float> Sine(size_t frames, double amplitude, double hz = 441.0, size_t first = 0) {
    std::vector<float> out(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(first + i) / kRate;
        out[2 * i] = static_cast<float>(amplitude * std::sin(2 * M_PI * hz * t));
        out[2 * i + 1] = static_cast<float>(amplitude * std::cos(2 * M_PI * hz * t));
    }
    return out;
}

std::vector<int16_t> Play(StreamPlayback& playback, size_t frames, float volume = 1.0f,
                          size_t* song = nullptr) {
    std::vector<int16_t> out(frames * 2);
    const size_t got = playback.Fill(out.data(), frames, volume);
    if (song != nullptr) *song = got;
    return out;
}

int PeakOf(const std::vector<int16_t>& samples, size_t from = 0, size_t to = SIZE_MAX) {
    int peak = 0;
    for (size_t i = from; i < std::min(to, samples.size()); ++i)
        peak = std::max(peak, std::abs(int{samples[i]}));
    return peak;
}

}  // namespace

// Under the ceiling the playback is the render itself, frame for frame from the place it starts:
// the limiter's delay is read ahead, never heard as an offset.
TEST(StreamPlaybackTest, QuietSoundPassesFrameForFrameFromAnyStart) {
    auto stream = MakeStream(kRate);
    std::vector<float> frames(kRate * 2);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<float>(static_cast<int>(i % 2000) - 1000) / 8192.0f;
    Append(*stream, frames);
    stream->Complete(1.0, kRate, 0);
    for (const int64_t start : {int64_t{0}, int64_t{12345}}) {
        SCOPED_TRACE(start);
        StreamPlayback playback(stream);
        playback.Seek(start);
        const std::vector<int16_t> out = Play(playback, 3000);
        for (size_t i = 0; i < out.size(); ++i) {
            const float expected = frames[static_cast<size_t>(start) * 2 + i] * 32768.0f;
            ASSERT_EQ(out[i], static_cast<int16_t>(std::lrintf(expected))) << "sample " << i;
        }
        EXPECT_EQ(playback.Position(), start + 3000);
    }
}

// A song that would clip at its gain, or whose estimate rises while it plays, stays under the
// ceiling, and the gain moves without a step.
TEST(StreamPlaybackTest, NeverPassesTheCeilingAndMovesTheGainSmoothly) {
    const int ceiling = static_cast<int>(32768.0 * DbToGain(kCeilingDbtp)) + 1;
    struct Case {
        const char* name;
        double amplitude, firstGain, laterGain;
    } cases[] = {{"loud at unit gain", 2.5, 1.0, 1.0},
                 {"estimate rises", 0.2, 1.0, 8.0},
                 {"estimate falls", 0.5, 4.0, 0.5}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto stream = MakeStream(4 * kRate);
        Append(*stream, Sine(4 * kRate, k.amplitude));
        stream->EstimateGain(k.firstGain);
        StreamPlayback playback(stream);
        std::vector<int16_t> heard = Play(playback, kRate / 2);
        stream->EstimateGain(k.laterGain);
        const std::vector<int16_t> more = Play(playback, 3 * kRate);
        heard.insert(heard.end(), more.begin(), more.end());
        EXPECT_LE(PeakOf(heard), ceiling);
        // Period by period (100 frames of 441 Hz), the level never jumps.
        int last = -1;
        for (size_t p = 0; p + 200 <= heard.size(); p += 200) {
            const int peak = PeakOf(heard, p, p + 200);
            if (last > 1000) {
                EXPECT_LT(std::abs(peak - last), last / 10) << "at frame " << p / 2;
            }
            last = peak;
        }
        // The level settles at the later gain (or the ceiling).
        const double settled =
            std::min(k.amplitude * k.laterGain * 32768.0, 32768.0 * DbToGain(kCeilingDbtp));
        EXPECT_NEAR(PeakOf(heard, heard.size() - 2000), settled, settled * 0.12);
    }
}

// The end: once the song is complete, its frames run to where its sound ends, fading before it,
// and silence follows; frames the render has not reached are silent too.
TEST(StreamPlaybackTest, EndsWithTheRenderAndIsSilentWhereNothingIsRendered) {
    auto stream = MakeStream(kRate);
    Append(*stream, Sine(kRate / 2, 0.5));
    StreamPlayback playback(stream);
    playback.Seek(kRate / 2 - 100);
    size_t song = 0;
    std::vector<int16_t> out = Play(playback, 1000, 1.0f, &song);
    EXPECT_EQ(song, 1000u) << "the end is not known yet";
    EXPECT_GT(PeakOf(out, 0, 200), 1000);
    EXPECT_EQ(PeakOf(out, 200), 0) << "not rendered yet";

    const int64_t end = kRate / 2 - 1000;
    const int64_t fade = 500;
    stream->Complete(1.0, end, fade);
    playback.Seek(end - 2000);
    out = Play(playback, 4000, 1.0f, &song);
    EXPECT_EQ(song, 2000u);
    EXPECT_GT(PeakOf(out, 0, 2 * 1400), 10000);
    EXPECT_LT(PeakOf(out, 2 * 1990, 2 * 2000), 1000) << "faded at the end";
    EXPECT_EQ(PeakOf(out, 2 * 2000), 0);
}

// The volume scales what is heard, reached within a few hundredths of a second.
TEST(StreamPlaybackTest, VolumeScalesPlaybackSmoothly) {
    auto stream = MakeStream(2 * kRate);
    Append(*stream, Sine(2 * kRate, 0.25));
    stream->Complete(1.0, 2 * kRate, 0);
    StreamPlayback playback(stream);
    const int full = PeakOf(Play(playback, kRate / 4));
    const std::vector<int16_t> half = Play(playback, kRate / 4, 0.5f);
    EXPECT_NEAR(PeakOf(half, half.size() / 2), full / 2, full / 50);
    EXPECT_GT(PeakOf(half, 0, 20), full * 9 / 10) << "no step at the change";
    EXPECT_EQ(PeakOf(Play(playback, kRate / 4, 0.0f), kRate / 4), 0);
}

// What the time bar shows while the render runs: the share rendered, and the waveform so far.
TEST(StreamPlaybackTest, TheOverviewFillsInAsTheRenderAdvances) {
    auto stream = MakeStream(4 * kRate);
    Append(*stream, Sine(kRate, 0.5));
    EXPECT_NEAR(stream->RenderedShare(), 0.25f, 0.001f);
    AudioOverview overview;
    stream->TakeOverview(overview);
    EXPECT_GT(overview.overviewMaxLeft[kOverviewColumns / 8], 15000);
    EXPECT_EQ(overview.overviewMaxLeft[kOverviewColumns / 2], 0);
    stream->EstimateGain(0.5);
    stream->TakeOverview(overview);
    EXPECT_LT(overview.overviewMaxLeft[kOverviewColumns / 8], 8300);
    stream->Abandon();
    EXPECT_EQ(stream->RenderedShare(), 1.0f);
    EXPECT_FALSE(stream->Completed());
    EXPECT_EQ(stream->EndFrame(), -1);
}

TEST(StreamPlaybackTest, ALoopMapsFramesBackToItsStartOnlyWhenEnteredBeforeItsEnd) {
    const PlaybackLoop loop{10000, 20000};
    const struct {
        int64_t from, played, frame;
    } cases[] = {{0, 5000, 5000},      {0, 19999, 19999},     {0, 20000, 10000},   {0, 35000, 15000},
                 {15000, 5000, 10000}, {15000, 25000, 10000}, {20000, 100, 20100}, {25000, 0, 25000}};
    for (const auto& k : cases)
        EXPECT_EQ(loop.FrameAfter(k.from, k.played), k.frame) << k.from << "+" << k.played;
    EXPECT_FALSE((PlaybackLoop{100, 100 + PlaybackLoop::kShortestFrames - 1}.Active())) << "too short";
    EXPECT_EQ((PlaybackLoop{}.FrameAfter(3, 4)), 7);
}

// Twenty passes of a loop: each wrap comes back to the loop's start with no gap, and the sound
// moves across it no more than it moves anywhere else.
TEST(StreamPlaybackTest, ALoopWrapsWithoutAGapOrAClick) {
    auto stream = MakeStream(4 * kRate);
    Append(*stream, Sine(4 * kRate, 0.25));
    stream->Complete(1.0, 4 * kRate, 0);
    StreamPlayback playback(stream);
    const PlaybackLoop loop{kRate / 2 + 123, kRate + 7000};
    playback.SetLoop(loop);
    playback.Seek(kRate / 4);
    const int64_t length = loop.end - loop.start;
    const size_t total = static_cast<size_t>(kRate / 4 + 20 * length);
    const std::vector<int16_t> heard = Play(playback, total);
    EXPECT_EQ(playback.Position(), loop.FrameAfter(kRate / 4, static_cast<int64_t>(total)));
    // The song's own largest step from one sample to the next, and the largest in what was heard.
    const std::vector<float> song = Sine(4 * kRate, 0.25);
    float ownStep = 0;
    for (size_t i = 2; i < song.size(); ++i)
        ownStep = std::max(ownStep, std::fabs(song[i] - song[i - 2]) * 32768);
    int heardStep = 0;
    for (size_t i = 2; i < heard.size(); ++i)
        heardStep = std::max(heardStep, std::abs(heard[i] - heard[i - 2]));
    EXPECT_LE(heardStep, ownStep * 1.3f);
    // Past the blend, a pass plays the song's own frames from the loop's start.
    const size_t secondPass = static_cast<size_t>((loop.end - kRate / 4) + length + 1000);
    const size_t songFrame = static_cast<size_t>(loop.start + 1000);
    EXPECT_NEAR(heard[2 * secondPass], song[2 * songFrame] * 32768, 1.5);
    EXPECT_GT(PeakOf(heard, heard.size() - 2000), 7000) << "no gap";
}
