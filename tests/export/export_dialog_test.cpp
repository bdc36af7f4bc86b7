// The export dialog over scripted answers: which types are offered, when the quality choice shows,
// and what a choice or a cancel leaves in the session.
#include "export/export_dialog.h"

#include <gtest/gtest.h>

#include "export/export_format.h"
#include "platform/dialogs.h"

namespace {

using Flags = std::array<uint16_t, ExportFormatCount>;
constexpr Flags kAll{255, 255, 255, 771, 3, 1283};

struct DialogRig {
    platform::ScriptedDialogs dialogs;
    SessionState state;
    DialogRig() {
        state.dialogs = &dialogs;
        state.midiName = "Moonlight";
        state.exportFormatFlags = kAll;
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
        rig.state.exportFormatFlags = c.flags;
        std::vector<int> rows;
        for (size_t i = 0; i + 1 < c.shown.size(); ++i) rows.push_back(static_cast<int>(i));
        rig.Answer("/tmp/x.wav", 0, rows);
        ASSERT_TRUE(ShowExportDialog(rig.state));
        ASSERT_EQ(rig.dialogs.saveRequests.size(), 1u);
        const auto& record = rig.dialogs.saveRequests[0];
        EXPECT_EQ(Patterns(record.request), c.patterns);
        EXPECT_EQ(record.choiceShown, c.shown);
    }
}

TEST(ExportDialog, OffersTheSongsNameTheTableTextsAndStandardQuality) {
    DialogRig rig;
    rig.Answer("/tmp/x.wav");
    ASSERT_TRUE(ShowExportDialog(rig.state));
    const platform::SaveRequest& r = rig.dialogs.saveRequests.at(0).request;
    ASSERT_EQ(r.types.size(), 6u);
    EXPECT_EQ(r.types[0].name, "WAV - Waveform Audio (*.wav)");
    EXPECT_EQ(r.types[1].name, "FLAC - Free Lossless Audio Codec (*.flac)");
    EXPECT_EQ(r.types[4].name, "MP3 - Mpeg 2 - Audio Layer III (*.mp3)");
    EXPECT_EQ(r.types[5].name, "Ogg Vorbis (*.ogg)");
    EXPECT_EQ(r.initialType, 0);
    EXPECT_EQ(r.choiceLabel, "Quality");
    EXPECT_EQ(r.choiceOptions, (std::vector<std::string>{"standard", "high", "maximum"}));
    EXPECT_EQ(r.initialChoice, 0);
    EXPECT_EQ(r.fileName, "Moonlight");
    EXPECT_EQ(r.defaultExtension, "wav");
}

// The format comes from the chosen name's own extension in any case; a folder's name does not
// count, and a bare name repeats the last format. A cancel leaves everything as it was.
TEST(ExportDialog, ChoiceSetsPathQualityAndFormatByTheNamesExtension) {
    DialogRig rig;
    const struct {
        const char* path;  // empty: cancel
        int quality;
        uint16_t format;  // expected afterwards
        int16_t storedQuality;
    } steps[] = {
        {"/music/a.MP3", 2, FormatMp3, 2},       {"/music/x.ogg/b.flac", 1, FormatFlac, 1},
        {"/music/x.ogg/bare", 0, FormatFlac, 0}, {"", 2, FormatFlac, 0},
        {"/music/c.Ogg", 7, FormatOgg, 0},  // a level the dialog never offers is standard
    };
    std::string lastPath;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.path);
        if (*s.path != '\0') rig.Answer(s.path, s.quality);
        EXPECT_EQ(ShowExportDialog(rig.state), *s.path != '\0');
        if (*s.path != '\0') lastPath = s.path;
        EXPECT_EQ(rig.state.exportPath, lastPath);
        EXPECT_EQ(rig.state.exportFormat, s.format);
        EXPECT_EQ(rig.state.exportQuality, s.storedQuality);
    }
}
