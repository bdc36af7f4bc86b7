// The shared records' own rules: posting commands, the error box and the palette conversion.
#include "app/session_state.h"

#include <gtest/gtest.h>

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
    ShowErrorBox(state, res::IdsInvalidMidiFile, res::IdsError);
    ShowErrorBox(state, res::IdsNoSoundfontLoaded, res::IdsNoMidiFileLoaded);
    Report(state,
           Failure::Because(FailureKind::Write, "Couldn't write /tmp/a.flac: No space left on device"));
    Report(state, Failure::Because(FailureKind::Cancelled, "The export was cancelled"));
    Report(state, Failure::None());
    ASSERT_EQ(dialogs.errorBoxes.size(), 3u) << "a cancel and a success say nothing";
    EXPECT_EQ(dialogs.errorBoxes[0].text, "Invalid MIDI file");
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
    EXPECT_STREQ(res::LoadString(102), "Load file");
    EXPECT_STREQ(res::LoadString(120), "MP3 - MPEG-1 Audio Layer III (*.mp3)");
    EXPECT_STREQ(res::LoadString(132), "Error reading file");
    EXPECT_STREQ(res::LoadString(101), "");
    EXPECT_STREQ(res::LoadString(133), "");
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

}  // namespace
