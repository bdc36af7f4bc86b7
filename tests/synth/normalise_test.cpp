// The normalised render over generated songs: loud ones are brought down and faint ones up to the
// target loudness without a peak past the ceiling, and every song ends where its sound does.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "smf_builder.h"
#include "synth/loudness.h"
#include "synth/synth_renderer.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kRate = 44100;
constexpr int kBeat = 480;  // ticks per quarter note: half a second at the default tempo

smf::Bytes Cc(uint32_t delta, int channel, int controller, int value) {
    return smf::Event(delta, {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller),
                              static_cast<uint8_t>(value)});
}

// Eight voices of loud chords at full velocity and volume: far past full scale at the
// synthesiser's fixed gain.
smf::Bytes LoudBand() {
    using namespace smf;
    Bytes tracks;
    for (int channel = 0; channel < 8; ++channel) {
        Bytes body =
            Cat({Program(0, channel, 30 + channel * 6), Cc(0, channel, 7, 127), Cc(0, channel, 11, 127)});
        for (int bar = 0; bar < 6; ++bar) {
            for (int k = 0; k < 4; ++k) body = Cat({body, On(0, channel, 40 + channel * 3 + k * 4, 127)});
            for (int k = 0; k < 4; ++k)
                body = Cat({body, Off(k == 0 ? kBeat : 0, channel, 40 + channel * 3 + k * 4)});
        }
        tracks = Cat({tracks, Track({body, EndOfTrack()})});
    }
    return Cat({Header(kBeat, 1, 8), tracks});
}

// A piano line played very softly.
smf::Bytes FaintPiano() {
    using namespace smf;
    Bytes body = Cc(0, 0, 7, 64);
    for (int i = 0; i < 8; ++i)
        body = Cat({body, On(0, 0, 60 + (i % 5) * 2, 24), Off(kBeat, 0, 60 + (i % 5) * 2)});
    return Cat({Header(kBeat, 1, 1), Track({body, EndOfTrack()})});
}

// A chord held by no note-off: the track ends after two seconds with the chord still sounding.
smf::Bytes HeldChord() {
    using namespace smf;
    return Cat({Header(kBeat, 1, 1), Track({Program(0, 0, 19), On(0, 0, 48, 100), On(0, 0, 55, 100),
                                            On(0, 0, 64, 100), EndOfTrack(4 * kBeat)})});
}

// Strings with the reverb turned fully up: the sound rings on well past the last note-off.
smf::Bytes LongTail() {
    using namespace smf;
    return Cat({Header(kBeat, 1, 1),
                Track({Program(0, 0, 48), Cc(0, 0, 91, 127), On(0, 0, 60, 110), On(0, 0, 67, 110),
                       Off(2 * kBeat, 0, 60), Off(0, 0, 67), EndOfTrack()})});
}

// Two notes, then ten seconds of nothing before the track ends.
smf::Bytes SilentEnd() {
    using namespace smf;
    return Cat({Header(kBeat, 1, 1), Track({On(0, 0, 60, 90), Off(kBeat, 0, 60), On(0, 0, 64, 90),
                                            Off(kBeat, 0, 64), EndOfTrack(20 * kBeat)})});
}

struct Rendered {
    std::vector<float> samples;  // interleaved stereo, as read back from the file
    int64_t frames = 0;
    int16_t highest = 0;  // the largest magnitude of any sample
};

Rendered ReadWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    Rendered out;
    if (bytes.size() < 44) return out;
    for (size_t at = 44; at + 1 < bytes.size(); at += 2) {
        const auto value = static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) |
                                                (static_cast<uint8_t>(bytes[at + 1]) << 8));
        out.highest =
            std::max<int16_t>(out.highest, static_cast<int16_t>(std::abs(value == -32768 ? 32767 : value)));
        out.samples.push_back(static_cast<float>(value) / 32768.0f);
    }
    out.frames = static_cast<int64_t>(out.samples.size() / 2);
    return out;
}

// The last frame at or above the end threshold.
int64_t LastAudibleFrame(const Rendered& r) {
    const float threshold = static_cast<float>(DbToGain(kEndThresholdDbfs));
    for (int64_t f = r.frames; f-- > 0;) {
        if (std::fabs(r.samples[2 * f]) >= threshold || std::fabs(r.samples[2 * f + 1]) >= threshold)
            return f;
    }
    return -1;
}

struct Case {
    const char* name;
    smf::Bytes (*song)();
    double longestSeconds;  // the render must end by then: no fixed tail of silence
};

class Normalise : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        if (!fs::exists(kSoundFont)) GTEST_SKIP() << kSoundFont << " is not installed";
        ShowFluidSynthMessages(false);
        std::string pattern = (fs::temp_directory_path() / "dorvik-normalise-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    std::string dir_;
};

TEST_P(Normalise, ReachesTheTargetAndEndsWithItsSound) {
    const Case& c = GetParam();
    const std::string midi = dir_ + "/song.mid";
    const smf::Bytes bytes = c.song();
    std::ofstream(midi, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    auto song = smf::NewSong();
    ASSERT_TRUE(ReadMidiFile(*song, midi));

    SynthRenderer synth;
    auto file = std::make_unique<RenderFile>();
    const Failure made = file->CreateOwn(dir_ + "/out.wav");
    ASSERT_TRUE(made.Ok()) << made.text;
    ASSERT_TRUE(synth.StartRender({smf::Shared(bytes), kSoundFont, song.get()}, std::move(file)).Ok());
    RenderStatus status;
    for (int i = 0; i < 100000 && (status = synth.RenderStep()).outcome == RenderOutcome::Running; ++i) {
    }
    ASSERT_EQ(status.outcome, RenderOutcome::Finished) << status.failure.text;
    // Nothing but the render file is left in its folder: the scratch file went with the render.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);

    const Rendered r = ReadWav(dir_ + "/out.wav");
    ASSERT_GT(r.frames, 0);
    LoudnessMeter meter;
    ASSERT_TRUE(meter.Open(2, kRate));
    meter.AddFrames(r.samples.data(), static_cast<size_t>(r.frames));
    EXPECT_NEAR(meter.IntegratedLufs(), kTargetLufs, 1.0) << "gain " << synth.plan.gain;
    EXPECT_LE(meter.TruePeak(), DbToGain(kCeilingDbtp)) << "limited: " << synth.plan.limit;
    EXPECT_LT(r.highest, 32767);

    // The render ends within the fade (and one measuring block) after its last audible sample.
    const int64_t last = LastAudibleFrame(r);
    ASSERT_GE(last, 0);
    EXPECT_LE(r.frames - last, static_cast<int64_t>((kEndFadeSeconds + 0.02) * kRate))
        << "sound ends at " << static_cast<double>(last) / kRate << " s, the render at "
        << static_cast<double>(r.frames) / kRate << " s";
    EXPECT_LE(static_cast<double>(r.frames) / kRate, c.longestSeconds);
}

INSTANTIATE_TEST_SUITE_P(Songs, Normalise,
                         ::testing::Values(Case{"LoudBand", LoudBand, 6.0},
                                           Case{"FaintPiano", FaintPiano, 7.0},
                                           Case{"HeldChord", HeldChord, 6.0}, Case{"LongTail", LongTail, 8.0},
                                           Case{"SilentEnd", SilentEnd, 4.0}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

// The loud song is brought down and the faint one up: the plan says which way the gain went.
TEST(NormalisePlan, LoudComesDownAndFaintGoesUp) {
    if (!fs::exists(kSoundFont)) GTEST_SKIP() << kSoundFont << " is not installed";
    std::string pattern = (fs::temp_directory_path() / "dorvik-normalise-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string dir = pattern;
    for (const auto& [song, louder] : {std::pair{&LoudBand, false}, std::pair{&FaintPiano, true}}) {
        const smf::Bytes bytes = song();
        SynthRenderer synth;
        auto file = std::make_unique<RenderFile>();
        ASSERT_TRUE(file->CreateOwn(dir + "/out.wav").Ok());
        ASSERT_TRUE(synth.StartRender({smf::Shared(bytes), kSoundFont, nullptr}, std::move(file)).Ok());
        RenderStatus status;
        while ((status = synth.RenderStep()).outcome == RenderOutcome::Running) {
        }
        ASSERT_EQ(status.outcome, RenderOutcome::Finished) << status.failure.text;
        EXPECT_EQ(synth.plan.gain > 1.0, louder) << synth.plan.gain;
    }
    fs::remove_all(dir);
}

}  // namespace
