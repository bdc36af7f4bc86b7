// The legend as drawn into a recording target: rows in the order of the parts, each with its colour's
// note, its instrument and track name and its buttons, scrolling when space runs out.
#include "ui/voice_legend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/song_data.h"
#include "midi/gm_programs.h"
#include "view/graphics_device.h"
#include "view/recording_target.h"

namespace {

using viewtest::Call;
using viewtest::Op;

struct PartSpec {
    int program;
    const char* name;
    int notes;
    int track = -1;  // -1: the part's own number
};

std::unique_ptr<SongData> MakeSong(int reading, const std::vector<PartSpec>& specs, int percussion) {
    auto song = std::make_unique<SongData>();
    int total = 0;
    for (const PartSpec& s : specs) total += s.notes;
    if (!song->AllocateNotes(total)) return nullptr;
    song->reading = reading;
    song->partCount = static_cast<int32_t>(specs.size());
    song->percussionNotes = percussion;
    NoteRecord* at = song->noteStore.get();
    for (size_t p = 0; p < specs.size(); ++p) {
        SongPart& part = song->parts[p];
        part.notes = at;
        part.noteCount = specs[p].notes;
        part.program = specs[p].program;
        part.channel = static_cast<int32_t>(p % kPercussionChannel);  // voices hold no percussion
        part.track = specs[p].track >= 0 ? specs[p].track : static_cast<int32_t>(p);
        part.colour = static_cast<int32_t>(p);
        std::strncpy(part.name, specs[p].name, sizeof part.name - 1);
        at += specs[p].notes;
    }
    return song;
}

TEST(VoiceLegend, ListsThePartsInOrderWithNamesAndCounts) {
    const std::string piano = GmProgramName(0);
    struct Case {
        const char* what;
        int reading;
        std::vector<PartSpec> parts;
        int percussion;
        float height;
        std::vector<std::string> texts;  // every text drawn, in order
    };
    const Case cases[] = {
        // A track named for the hand it is adds nothing; one named for the other hand is kept.
        {"a piano song",
         ReadingHands,
         {{-1, "Piano RH", 120}, {-1, "Right Hand", 80}},
         0,
         300,
         {"2 hands", "Hand 1 (right)", "Hand 2 (left) \u00B7 Right Hand"}},
        {"a band",
         ReadingVoices,
         {{33, "Bass", 64}, {-1, "", 12}, {48, "Strings", 7}, {40, "VIOLIN ", 5}},
         300,
         300,
         {"4 voices", std::string(GmProgramName(33)) + " \u00B7 Bass", piano,
          std::string(GmProgramName(48)) + " \u00B7 Strings", "Violin", "Drums: 300 notes, not drawn"}},
        {"more voices than rows",
         ReadingVoices,
         std::vector<PartSpec>(20, PartSpec{0, "", 1}),
         0,
         22 + 4 * 18,
         {"20 voices", piano, "track 0", piano, "track 1", piano, "track 2", piano, "track 3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        viewtest::RecordingTarget target;
        GraphicsDevice device;
        device.target = &target;
        VoiceLegend legend;
        legend.Build(&device, &viewtest::FakeImages);
        const std::unique_ptr<SongData> song = MakeSong(c.reading, c.parts, c.percussion);
        ASSERT_NE(song, nullptr);
        legend.SetSong(song.get());
        target.calls.clear();
        const RectF area{1000, 400, 1200, 400 + c.height};
        legend.Draw(&device, area, {1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 1});

        std::vector<std::string> texts;
        int buttons = 0;
        for (const Call& t : target.Texts()) {
            EXPECT_GE(t.rect.top, area.top) << t.text;
            EXPECT_LE(t.rect.bottom, area.bottom) << t.text;
            const bool button = t.text == "M" || t.text == "S" || t.text == "\u25B6";
            buttons += button ? 1 : 0;
            if (!button) texts.push_back(t.text);
        }
        EXPECT_EQ(texts, c.texts);
        const int partRows = std::min(legend.shownRows, static_cast<int>(c.parts.size()));
        EXPECT_EQ(buttons, 3 * partRows + (legend.shownRows > partRows ? 1 : 0)) << "M, S, play; the drums M";
        // One note of each shown row's colour, in order.
        std::vector<int> swatches;
        for (const Call& i : target.Where([](const Call& k) { return k.op == Op::Image; }))
            swatches.push_back(i.imageId);
        ASSERT_EQ(swatches.size(),
                  static_cast<size_t>(std::min(legend.shownRows, static_cast<int>(c.parts.size()))));
        for (size_t r = 0; r < swatches.size(); ++r)
            EXPECT_EQ(swatches[r], res::NoteBodyImage(res::WrapNoteColour(r))) << "row " << r;
    }
}

TEST(VoiceLegend, RowsThatReadAlikeSayWhereTheyComeFrom) {
    const std::string guitar = GmProgramName(30);
    struct Case {
        const char* what;
        std::vector<PartSpec> parts;
        std::vector<std::string> texts;
        std::vector<std::string> marks;  // drawn apart, so that a cut name keeps them
    };
    const Case cases[] = {
        {"two tracks of one instrument",
         {{30, "", 5, 3}, {33, "", 5, 4}, {30, "", 5, 6}},
         {guitar + " (track 3)", GmProgramName(33), guitar + " (track 6)"},
         {"track 3", "", "track 6"}},
        {"one track on two channels",
         {{30, "", 5, 2}, {30, "", 5, 2}},
         {guitar + " (track 2, channel 1)", guitar + " (track 2, channel 2)"},
         {"ch. 1", "ch. 2"}},
        {"names that differ need nothing more",
         {{30, "Lead", 5, 1}, {30, "Rhythm", 5, 1}},
         {guitar + " \u00B7 Lead", guitar + " \u00B7 Rhythm"},
         {"", ""}},
        {"the same name on the same instrument",
         {{30, "Gtr", 5, 1}, {30, "Gtr", 5, 2}},
         {guitar + " \u00B7 Gtr (track 1)", guitar + " \u00B7 Gtr (track 2)"},
         {"track 1", "track 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::unique_ptr<SongData> song = MakeSong(ReadingVoices, c.parts, 0);
        ASSERT_NE(song, nullptr);
        std::vector<std::string> texts, marks;
        for (const LegendRow& row : LegendRows(*song)) {
            texts.push_back(row.text);
            marks.push_back(row.mark);
            if (!row.mark.empty()) {
                EXPECT_EQ(row.text.rfind(row.name, 0), 0u) << "the name starts the text";
            }
        }
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(marks, c.marks);
    }
}

struct LegendRig {
    explicit LegendRig(const SongData* song, float height) : area{1000, 400, 1200, 400 + height} {
        device.target = &target;
        legend.Build(&device, &viewtest::FakeImages);
        legend.SetSong(song);
    }
    // One frame with the mouse at (x, y), pressed there since the last frame or not.
    LegendAnswer Frame(float x, float y, bool pressed = false, bool down = false) {
        target.calls.clear();
        mouse = {static_cast<int>(x), static_cast<int>(y)};
        return legend.Draw(&device, area, {1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 1}, &mouse, {0, 0, 0, 1}, pressed,
                           &practice, down);
    }
    [[nodiscard]] std::string Tip() const {
        const std::vector<Call> texts = target.Texts();
        for (const Call& t : texts)
            if (t.format.wrap) return t.text;
        return {};
    }
    [[nodiscard]] std::string FirstRowText() const { return target.Texts().at(1).text; }

    viewtest::RecordingTarget target;
    GraphicsDevice device;
    VoiceLegend legend;
    PracticeChoice practice;
    PointI mouse;
    RectF area;
};

constexpr float kFirstRow = 22, kRowHeight = 18;
float RowY(int shownRow) {
    return 400 + kFirstRow + kRowHeight * static_cast<float>(shownRow) + 9;
}

TEST(VoiceLegend, TheMouseOverALineOrAButtonSaysWhatItIs) {
    const std::string longName = "A track name far too long for the narrow column of the panel";
    std::vector<PartSpec> parts(3, PartSpec{0, "", 3});
    for (int p = 0; p < 3; ++p) parts[p].program = p;  // no twins: one text a row
    parts[0].name = longName.c_str();
    const std::unique_ptr<SongData> song = MakeSong(ReadingVoices, parts, 1211);
    ASSERT_NE(song, nullptr);
    const std::vector<LegendRow> rows = LegendRows(*song);
    LegendRig rig(song.get(), VoiceLegend::HeightFor(4));
    const float mButton = 1190 - 3 * 17 + 8;
    struct Case {
        const char* what;
        float x, y;
        std::vector<std::string> parts;  // what the tip must say
    };
    const Case cases[] = {
        {"the first row", 1050, RowY(0), {rows[0].text, "3 notes"}},
        {"a row's mute button", mButton, RowY(1), {rows[1].text, "mute this part", "(key 2)"}},
        {"a row's play button", mButton + 34, RowY(2), {"play this part yourself"}},
        {"the drums row", 1050, RowY(3), {"Drums: 1211 notes, not drawn", "(D)"}},
        {"the heading", 1050, 405, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        (void)rig.Frame(c.x, c.y);
        ASSERT_EQ(rig.legend.shownRows, 4);
        const std::string tip = rig.Tip();
        EXPECT_EQ(tip.empty(), c.parts.empty()) << tip;
        for (const std::string& part : c.parts) EXPECT_NE(tip.find(part), std::string::npos) << part;
    }
}

TEST(VoiceLegend, EveryPartIsInReachByWheelDragAndButtons) {
    // Fifteen voices and the drums in room for five rows.
    std::vector<PartSpec> parts(15, PartSpec{0, "", 2});
    for (int p = 0; p < 15; ++p) parts[p].program = p;
    const std::unique_ptr<SongData> song = MakeSong(ReadingVoices, parts, 40);
    ASSERT_NE(song, nullptr);
    const std::vector<LegendRow> rows = LegendRows(*song);
    LegendRig rig(song.get(), VoiceLegend::HeightFor(5));
    (void)rig.Frame(1050, RowY(0));
    EXPECT_EQ(rig.legend.RowCount(), 16);
    EXPECT_EQ(rig.FirstRowText(), rows[0].text);

    // The wheel: towards the user scrolls down, never past the last row or above the first, and
    // only over the rows.
    EXPECT_FALSE(rig.legend.Wheel({1050, 300}, -3)) << "the mouse is elsewhere";
    EXPECT_TRUE(rig.legend.Wheel({1050, static_cast<int>(RowY(1))}, -3));
    (void)rig.Frame(1050, RowY(0));
    EXPECT_EQ(rig.FirstRowText(), rows[3].text);
    EXPECT_TRUE(rig.legend.Wheel({1050, static_cast<int>(RowY(1))}, -100));
    (void)rig.Frame(1050, RowY(0));
    EXPECT_EQ(rig.legend.firstRow, 11) << "the last five rows in view";
    const LegendAnswer drums = rig.Frame(1190 - 3 * 17 + 8, RowY(4), true);
    EXPECT_EQ(drums.action, LegendAction::Mute);
    EXPECT_EQ(drums.part, kDrumsPart);

    // The bar: a press at its top, dragged to the middle and let go.
    const float barX = 1200 - 2 - 2.5f;
    (void)rig.Frame(barX, RowY(0) - 8, true, true);
    EXPECT_EQ(rig.legend.firstRow, 0);
    (void)rig.Frame(barX, 400 + kFirstRow + 2.5f * kRowHeight, false, true);
    EXPECT_GT(rig.legend.firstRow, 3);
    EXPECT_LT(rig.legend.firstRow, 8);
    const int dragged = rig.legend.firstRow;
    (void)rig.Frame(1050, 300);
    EXPECT_EQ(rig.legend.firstRow, dragged) << "let go where it was";

    // Each of a row's buttons answers for the part in that row, scrolled or not.
    const float buttons = 1200 - 5 - 4 - 3 * 17;
    const struct {
        float x;
        LegendAction action;
    } presses[] = {{1050, LegendAction::Cycle},
                   {buttons + 8, LegendAction::Mute},
                   {buttons + 25, LegendAction::Solo},
                   {buttons + 42, LegendAction::Play}};
    for (const auto& p : presses) {
        const LegendAnswer a = rig.Frame(p.x, RowY(2), true);
        EXPECT_EQ(a.action, p.action) << "at x " << p.x;
        EXPECT_EQ(a.part, dragged + 2) << "at x " << p.x;
    }
    rig.legend.ShowRow(0);
    EXPECT_EQ(rig.legend.firstRow, 0);
    rig.legend.ShowRow(14);
    EXPECT_EQ(rig.legend.firstRow, 10);
}

}  // namespace
