// Exporting part of a song: the times the command line takes, and the cut itself judged by ffprobe
// and ffmpeg against the source's own samples.
#include "export/export_range.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "export_fixture.h"

using namespace export_test;

namespace {

std::string Cli() {
    return DORVIK_MIDI_BINARY;
}

constexpr uint32_t kRate = 44100;

}  // namespace

TEST(ExportRange, TimesAreReadAsSecondsOrMinutesAndSeconds) {
    const struct {
        const char* text;
        double seconds;  // -1: refused
    } cases[] = {
        {"0", 0.0},    {"75", 75.0},      {"75.5", 75.5}, {"1:15", 75.0},  {"1:15.25", 75.25},
        {"0:05", 5.0}, {"90:00", 5400.0}, {"1.5:00", -1}, {"1:5", -1},     {"1:60", -1},
        {"1:123", -1}, {"", -1},          {":30", -1},    {"1:", -1},      {"-3", -1},
        {"+3", -1},    {"1e3", -1},       {"inf", -1},    {"nan", -1},     {" 3", -1},
        {"3 ", -1},    {"3.", -1},        {".5", -1},     {"1:30:00", -1}, {"0x10", -1},
    };
    for (const auto& c : cases) {
        double seconds = -7.0;
        const bool read = ParseRangeTime(c.text, seconds);
        EXPECT_EQ(read, c.seconds >= 0) << "\"" << c.text << "\"";
        EXPECT_DOUBLE_EQ(seconds, read ? c.seconds : -7.0) << "\"" << c.text << "\"";
    }
    EXPECT_EQ(FormatRangeTime(75.0), "1:15");
    EXPECT_EQ(FormatRangeTime(5.46), "0:05.5");
    EXPECT_NE(RangeProblem({5.0, 4.0}, -1.0), "");
    EXPECT_NE(RangeProblem({5.0, 5.0}, -1.0), "");
    EXPECT_NE(RangeProblem({10.0, -1.0}, 10.0), "") << "a part starting at the end holds nothing";
    EXPECT_EQ(RangeProblem({9.0, 20.0}, 10.0), "") << "a part running past the end is cut to it";
}

// The part holds the source's own samples from the first frame on, sample for sample, except in
// the fades where the cut goes into the sound; at the song's own start and end nothing fades. Every
// format gets the same cut, and a lossless one gives it back exactly.
TEST(ExportRange, ThePartIsTheSourcesOwnSamplesWithFadesAtTheCuts) {
    ScratchFolder dir;
    const std::vector<uint8_t> wav = MakeWav(2, kRate, 4 * kRate);
    WriteFile(dir / "song.wav", wav);
    const auto source = reinterpret_cast<const int16_t*>(wav.data() + 44);
    const long fade = std::lround(kCutFadeSeconds * kRate);

    const struct {
        const char* name;
        const char* args;
        long first, frames;  // where the part starts in the source, and its length
        bool fadeIn, fadeOut;
    } cases[] = {
        {"mid.flac", "--from 1.5 --to 2.75", 66150, 55125, true, true},
        {"start.wav", "--to 0:01", 0, 44100, false, true},
        {"end.wav", "--from 0:03.5 --to 60", 154350, 22050, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir / c.name;
        ASSERT_EQ(
            std::system(
                (Cli() + " export " + Quote(dir / "song.wav") + " -o " + Quote(out) + " " + c.args).c_str()),
            0);
        EXPECT_NEAR(std::strtod(ProbeStream(out, "duration").c_str(), nullptr), double(c.frames) / kRate,
                    1e-4);
        const std::vector<int16_t> part = DecodeStereo(out);
        ASSERT_EQ(part.size(), size_t(2 * c.frames));
        long differing = 0;
        for (long i = 0; i < 2 * c.frames; ++i) {
            const long frame = i / 2;
            const int16_t want = source[2 * c.first + i];
            const bool inFade = (c.fadeIn && frame < fade) || (c.fadeOut && c.frames - 1 - frame < fade);
            if (!inFade) {
                differing += part[size_t(i)] != want;
            } else {
                EXPECT_LE(std::abs(part[size_t(i)]), std::abs(want) + 1)
                    << "a fade only softens, at " << frame;
            }
        }
        EXPECT_EQ(differing, 0) << "samples outside the fades that differ from the source";
        if (c.fadeIn) {
            EXPECT_EQ(part[0], 0) << "the fade-in starts from silence";
        }
        if (c.fadeOut) {
            EXPECT_EQ(part.back(), 0) << "the fade-out ends in silence";
        }
    }
}

// Times the command cannot use are usage errors, told before anything is written.
TEST(ExportRange, BadTimesAreUsageErrorsAndWriteNothing) {
    ScratchFolder dir;
    WriteFile(dir / "song.wav", MakeWav(2, kRate, 2 * kRate));
    for (const char* args :
         {"--from 1:5", "--from 1 --to 0:01", "--from 2", "--from 9:00 --to 9:30", "--to"}) {
        SCOPED_TRACE(args);
        const std::string command = Cli() + " export " + Quote(dir / "song.wav") + " -o " +
                                    Quote(dir / "part.mp3") + " " + args + " 2>&1; echo status $?";
        const std::string said = RunCommand(command);
        EXPECT_NE(said.find("status 2"), std::string::npos) << said;
        EXPECT_NE(said.find("dorvik-midi: "), std::string::npos) << said;
        EXPECT_FALSE(Exists(dir / "part.mp3"));
    }
}
