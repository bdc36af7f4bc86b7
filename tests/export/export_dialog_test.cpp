// The export dialog over scripted answers: which types are offered, when the quality choice shows,
// and what a choice or a cancel returns.
#include "export/export_dialog.h"

#include <gtest/gtest.h>

#include "export/export_format.h"
#include "platform/dialogs.h"

namespace {

using Flags = FormatAvailability;
constexpr Flags kAll{255, 255, 255, 771, 3, 1283};

// The dialog as the window runs it: the last format chosen is what a bare name asks for next.
struct DialogRig {
    platform::ScriptedDialogs dialogs;
    Flags flags = kAll;
    ExportFormat lastFormat = ExportFormat::Wav;
    std::optional<ExportChoice> Show() {
        platform::SaveAnswer answer;
        if (!dialogs.SaveFile(ExportSaveRequest(flags, "Moonlight", QualityStandard), answer))
            return std::nullopt;
        const ExportChoice choice = ExportChoiceOf(answer, lastFormat);
        lastFormat = choice.format;
        return choice;
    }
    void Answer(const std::string& path, int quality = 0, std::vector<int> typeChanges = {}) {
        platform::ScriptedDialogs::SaveScript script;
        script.typeChanges = std::move(typeChanges);
        script.answer.path = path;
        script.answer.choice = quality;
        dialogs.saveScripts.push_back(script);
    }
};

std::string Patterns(const platform::SaveRequest& r) {
    std::string out;
    for (const auto& t : r.types) out += (out.empty() ? "" : " ") + t.pattern;
    return out;
}

}  // namespace

// The rows close up when formats are missing, and the quality choice follows the position, not
// the format: with FLAC and ALAC gone, AAC and MP3 sit at rows 2 and 3 without it.
TEST(ExportDialog, OfferedTypesAndTheQualityChoiceFollowAvailability) {
    const struct {
        const char* name;
        Flags flags;
        const char* patterns;
        std::vector<bool> shown;  // at opening on row 1, then for each row in turn
    } cases[] = {
        {"all", kAll, "*.wav *.flac *.m4a *.aac *.mp3 *.ogg", {false, false, false, false, true, true, true}},
        {"no FLAC or ALAC",
         {255, 0, 0, 771, 3, 1283},
         "*.wav *.aac *.mp3 *.ogg",
         {false, false, false, false, true}},
        {"WAV and Ogg only", {255, 0, 0, 0, 3, 0}, "*.wav *.ogg", {false, false, false}},
        {"no MP3",
         {255, 255, 255, 771, 3, 0},
         "*.wav *.flac *.m4a *.aac *.ogg",
         {false, false, false, false, true, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DialogRig rig;
        rig.flags = c.flags;
        std::vector<int> rows;
        for (size_t i = 0; i + 1 < c.shown.size(); ++i) rows.push_back(static_cast<int>(i));
        rig.Answer("/tmp/x.wav", 0, rows);
        ASSERT_TRUE(rig.Show());
        ASSERT_EQ(rig.dialogs.saveRequests.size(), 1u);
        const auto& record = rig.dialogs.saveRequests[0];
        EXPECT_EQ(Patterns(record.request), c.patterns);
        EXPECT_EQ(record.choiceShown, c.shown);
    }
}

TEST(ExportDialog, OffersTheSongsNameTheTableTextsAndStandardQuality) {
    DialogRig rig;
    rig.Answer("/tmp/x.wav");
    ASSERT_TRUE(rig.Show());
    const platform::SaveRequest& r = rig.dialogs.saveRequests.at(0).request;
    ASSERT_EQ(r.types.size(), 6u);
    EXPECT_EQ(r.types[0].name, "WAV - Waveform Audio (*.wav)");
    EXPECT_EQ(r.types[1].name, "FLAC - Free Lossless Audio Codec (*.flac)");
    EXPECT_EQ(r.types[4].name, "MP3 - MPEG-1 Audio Layer III (*.mp3)");
    EXPECT_EQ(r.types[5].name, "Ogg Vorbis (*.ogg)");
    EXPECT_EQ(r.initialType, 0);
    EXPECT_EQ(r.choiceLabel, "Quality");
    EXPECT_EQ(r.choiceOptions, (std::vector<std::string>{"standard", "high", "maximum"}));
    EXPECT_EQ(r.initialChoice, 0);
    EXPECT_EQ(r.fileName, "Moonlight");
    EXPECT_EQ(r.defaultExtension, "wav");
}

// The format comes from the chosen name's own extension in any case; a folder's name does not
// count, and a bare name repeats the last format. A cancel returns nothing.
TEST(ExportDialog, ChoiceReturnsPathQualityAndFormatByTheNamesExtension) {
    DialogRig rig;
    const struct {
        const char* path;  // empty: cancel
        int quality;
        ExportFormat format;  // expected afterwards
        int chosenQuality;
    } steps[] = {
        {"/music/a.MP3", 2, ExportFormat::Mp3, 2},       {"/music/x.ogg/b.flac", 1, ExportFormat::Flac, 1},
        {"/music/x.ogg/bare", 0, ExportFormat::Flac, 0}, {"", 2, ExportFormat::Flac, 0},
        {"/music/c.Ogg", 7, ExportFormat::Ogg, 0},  // a level the dialog never offers is standard
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.path);
        if (*s.path != '\0') rig.Answer(s.path, s.quality);
        const std::optional<ExportChoice> choice = rig.Show();
        ASSERT_EQ(choice.has_value(), *s.path != '\0');
        EXPECT_EQ(rig.lastFormat, s.format);
        if (!choice) continue;
        EXPECT_EQ(choice->path, s.path);
        EXPECT_EQ(choice->quality, s.chosenQuality);
    }
}

// The video dialog starts from the last choices and maps what is picked to the encoder's settings
// and the view; a size that is no preset is offered as a custom one and kept while it is chosen,
// and an answer that carries no pick, or one out of range, keeps the last value.
TEST(ExportDialog, VideoChoicesBecomeTheEncodersSettings) {
    const VideoChoices hd{1920, 1080, 60, false, 0};
    const VideoChoices custom{1600, 900, 30, true, 2, true};
    const platform::SaveRequest fresh = VideoSaveRequest("Song", hd);
    ASSERT_EQ(fresh.moreChoices.size(), 4u);
    EXPECT_EQ(fresh.moreChoices[3].initial, 0) << "no score";
    EXPECT_EQ(fresh.moreChoices[0].options.size(), 5u) << "no custom size without one kept";
    EXPECT_EQ(fresh.moreChoices[0].initial, 0);
    const platform::SaveRequest kept = VideoSaveRequest("Song", custom);
    ASSERT_EQ(kept.moreChoices[0].options.size(), 6u);
    EXPECT_EQ(kept.moreChoices[0].options[5], "Custom (1600x900)");
    EXPECT_EQ(kept.moreChoices[0].initial, 5);
    EXPECT_EQ(kept.moreChoices[1].initial, 1) << "30 fps";
    EXPECT_EQ(kept.moreChoices[2].initial, 1) << "the whole window";
    EXPECT_EQ(kept.moreChoices[3].initial, 1) << "the score above the notes";
    EXPECT_EQ(kept.initialChoice, 2) << "maximum quality";

    const struct {
        VideoChoices last;
        int quality;
        std::vector<int> picks;  // size, rate, view, score
        VideoSettings settings;
        VideoView view;
        bool score;
    } cases[] = {
        {hd, 0, {3, 1, 0}, {1080, 1920, 30, 0}, VideoView::Full, false},
        {hd, 1, {4, 0, 1, 1}, {1080, 1080, 60, 1}, VideoView::Window, true},
        {hd, 0, {2}, {3840, 2160, 60, 0}, VideoView::Full, false},
        {custom, 2, {5, 1, 1, 0}, {1600, 900, 30, 2}, VideoView::Window, false},
        {custom, 0, {}, {1600, 900, 30, 0}, VideoView::Window, true},
        {custom, 1, {1, -1, 9, 2}, {1280, 720, 30, 1}, VideoView::Window, true},
    };
    for (const auto& c : cases) {
        platform::SaveAnswer answer;
        answer.path = "/v/song.mp4";
        answer.choice = c.quality;
        answer.moreChoices = c.picks;
        const VideoChoices chosen = VideoChoicesOf(answer, c.last);
        const VideoSettings s = VideoSettingsOf(chosen);
        EXPECT_EQ(s.width, c.settings.width);
        EXPECT_EQ(s.height, c.settings.height);
        EXPECT_EQ(s.fps, c.settings.fps);
        EXPECT_EQ(s.quality, c.settings.quality);
        EXPECT_EQ(VideoViewOf(chosen), c.view);
        EXPECT_EQ(chosen.score, c.score);
        EXPECT_EQ(VideoChoicesFor(s, VideoViewOf(chosen), chosen.score), chosen)
            << "the window's copy gives the same choices";
    }
}
