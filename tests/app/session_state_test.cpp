// The shared records' own rules: posting commands, the error box, the palette conversion and the
// part the score shows.
#include "app/session_state.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/palette.h"
#include "platform/dialogs.h"
#include "resources/strings.h"

namespace {

TEST(SessionState, CommandsArePostedOnlyWhileNoneIsPending) {
    SessionState state;
    EXPECT_TRUE(state.Post(Command::Play));
    EXPECT_FALSE(state.Post(Command::Pause)) << "a press during a pending command is dropped";
    EXPECT_EQ(state.command, Command::Play);
    state.command = Command::None;
    EXPECT_TRUE(state.Post(Command::Pause));
    EXPECT_EQ(state.command, Command::Pause);
}

TEST(SessionState, InitialValues) {
    SessionState state;
    // The words of WAV (0) and Ogg Vorbis (4) are always set; FLAC (1) waits for the probe.
    EXPECT_EQ(state.exportFormatFlags[0], 0x00FF);
    EXPECT_EQ(state.exportFormatFlags[4], 0x0003);
    EXPECT_EQ(state.exportFormatFlags[1], 0);
    EXPECT_EQ(state.song, nullptr);
}

TEST(SessionState, FailuresAreReportedInOneBoxOrOnStandardError) {
    platform::ScriptedDialogs dialogs;
    SessionState state;
    state.dialogs = &dialogs;
    ShowErrorBox(state, res::IdsNoSoundfontLoaded, res::IdsError);
    ShowErrorBox(state, res::IdsNoSoundfontLoaded, res::IdsNoMidiFileLoaded);
    Report(state,
           Failure::Because(FailureKind::Write, "Couldn't write /tmp/a.flac: No space left on device"));
    Report(state, Failure::Because(FailureKind::Cancelled, "The export was cancelled"));
    Report(state, Failure::None());
    ASSERT_EQ(dialogs.errorBoxes.size(), 3u) << "a cancel and a success say nothing";
    EXPECT_EQ(dialogs.errorBoxes[0].text, "no SoundFont loaded");
    EXPECT_EQ(dialogs.errorBoxes[0].caption, "Error");
    EXPECT_EQ(dialogs.errorBoxes[1].text, "no SoundFont loaded");
    EXPECT_EQ(dialogs.errorBoxes[1].caption, "no MIDI file loaded");
    EXPECT_EQ(dialogs.errorBoxes[2].caption, "Error") << "the caption a failure gets by default";

    // Without dialogs (the window could not make them) nothing is lost: it goes to standard error.
    state.dialogs = nullptr;
    testing::internal::CaptureStderr();
    Report(state, Failure::Because(FailureKind::Read, "song.mid: the file shrank while it was read"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: song.mid: the file shrank while it was read\n");
}

TEST(StringTable, CoversExactlyItsIds) {
    EXPECT_STREQ(res::LoadString(104), "Select MIDI file");
    EXPECT_STREQ(res::LoadString(120), "MP3 - MPEG-1 Audio Layer III (*.mp3)");
    EXPECT_STREQ(res::LoadString(128), "Load SoundFont");
    // Ids no text has any more, and ids outside the table, give nothing.
    for (const int gone : {101, 102, 103, 108, 109, 111, 113, 129, 131, 132})
        EXPECT_STREQ(res::LoadString(gone), "") << gone;
}

TEST(Palette, EntriesConvertChannelByChannel) {
    const ColourF c = PaletteColour(kDefaultPalette.colour[12]);  // 0x97CC00
    EXPECT_FLOAT_EQ(c.r, 0x97 / 255.0f);
    EXPECT_FLOAT_EQ(c.g, 0xCC / 255.0f);
    EXPECT_FLOAT_EQ(c.b, 0.0f);
    EXPECT_FLOAT_EQ(c.a, 1.0f);
    EXPECT_EQ(kDefaultPalette.colour[PalControlPanel], 0x102040u);
    EXPECT_EQ(kDefaultPalette.colour[PalTimeBar], 0x051020u);
}

// The score of a voices song shows the parts the learner practises: those played along, else those
// left to the player (muted), else those listened to (soloed); none chosen leaves it to the song
// (its first piano part).
TEST(PracticeSession, TheScoreShowsThePartsChosen) {
    const struct {
        const char* what;
        std::vector<std::pair<int, PartSound>> parts;
        bool playingAlong;
        std::vector<int32_t> shown;
    } cases[] = {
        {"nothing chosen", {}, false, {}},
        {"nothing chosen, playing along", {}, true, {}},
        {"a part muted", {{2, PartSound::Muted}}, false, {2}},
        {"two parts muted", {{4, PartSound::Muted}, {1, PartSound::Muted}}, false, {1, 4}},
        {"a part soloed", {{3, PartSound::Solo}}, false, {3}},
        {"muted before soloed", {{3, PartSound::Solo}, {4, PartSound::Muted}}, false, {4}},
        // Playing along with a part soloed, the player plays every part not heard.
        {"soloed, playing along", {{1, PartSound::Solo}}, true, {0, 2, 3, 4}},
        {"past the song's parts", {{6, PartSound::Muted}}, false, {}},
    };
    for (const auto& k : cases) {
        PracticeSession practice;
        for (const auto& [part, sound] : k.parts) practice.choice.parts[static_cast<size_t>(part)] = sound;
        EXPECT_EQ(practice.ScoreParts(5, k.playingAlong), k.shown) << k.what;
    }
}

}  // namespace
