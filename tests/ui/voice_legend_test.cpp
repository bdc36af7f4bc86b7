// The legend as drawn into a recording target: rows in the order of the parts, each with its colour's
// note, its instrument and track name and its note count, and a summing-up line when space runs out.
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
        {"a piano song",
         ReadingHands,
         {{-1, "", 120}, {-1, "Left", 80}},
         0,
         300,
         {"2 hands", "Hand 1", "120", "Hand 2 \u00B7 Left", "80"}},
        {"a band",
         ReadingVoices,
         {{33, "Bass", 64}, {-1, "", 12}, {48, "Strings", 7}},
         300,
         300,
         {"3 voices", std::string(GmProgramName(33)) + " \u00B7 Bass", "64", piano, "12",
          std::string(GmProgramName(48)) + " \u00B7 Strings", "7", "Drums: 300 notes, not drawn"}},
        {"more voices than rows",
         ReadingVoices,
         std::vector<PartSpec>(20, PartSpec{0, "", 1}),
         0,
         22 + 4 * 18,
         {"20 voices", piano, "track 0", "1", piano, "track 1", "1", piano, "track 2", "1", "+17 more"}},
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
        for (const Call& t : target.Texts()) {
            texts.push_back(t.text);
            EXPECT_GE(t.rect.top, area.top) << t.text;
            EXPECT_LE(t.rect.bottom, area.bottom) << t.text;
        }
        EXPECT_EQ(texts, c.texts);
        // One note of each shown row's colour, in order.
        std::vector<int> swatches;
        for (const Call& i : target.Where([](const Call& k) { return k.op == Op::Image; }))
            swatches.push_back(i.imageId);
        ASSERT_EQ(swatches.size(), static_cast<size_t>(legend.shownRows));
        for (int r = 0; r < legend.shownRows; ++r)
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

TEST(VoiceLegend, TheMouseOverALineShowsItsWholeText) {
    const std::string longName = "A track name far too long for the narrow column of the panel";
    std::vector<PartSpec> parts(6, PartSpec{0, "", 3});
    for (int p = 0; p < 6; ++p) parts[p].program = p;  // no twins: one text a row
    parts[0].name = longName.c_str();
    const std::unique_ptr<SongData> song = MakeSong(ReadingVoices, parts, 1211);
    ASSERT_NE(song, nullptr);
    const std::vector<LegendRow> rows = LegendRows(*song);
    const RectF area{1000, 400, 1200, 400 + VoiceLegend::HeightFor(4)};
    const float firstRow = area.top + 22, rowHeight = 18;
    struct Case {
        const char* what;
        float y;                         // the mouse's height; the mouse is in the legend's middle
        std::vector<std::string> parts;  // what the tip must say
    };
    const Case cases[] = {
        {"the first row", firstRow + 9, {rows[0].text, "3 notes"}},
        {"the summing-up line", firstRow + 3 * rowHeight + 9, {rows[3].text, rows[4].text, rows[5].text}},
        {"the drums' footnote", firstRow + 4 * rowHeight + 9, {"Drums: 1211 notes, not drawn"}},
        {"the heading", area.top + 5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        viewtest::RecordingTarget target;
        GraphicsDevice device;
        device.target = &target;
        VoiceLegend legend;
        legend.Build(&device, &viewtest::FakeImages);
        legend.SetSong(song.get());
        target.calls.clear();
        const PointI mouse{1100, static_cast<int>(c.y)};
        legend.Draw(&device, area, {1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 1}, &mouse);
        ASSERT_EQ(legend.shownRows, 3);
        const std::vector<Call> texts = target.Texts();
        // Without a part to tell, no tip: the heading, three rows of two texts, "+3 more", the footnote.
        const size_t plain = 1 + 3 * 2 + 1 + 1;
        ASSERT_EQ(texts.size(), plain + (c.parts.empty() ? 0 : 1));
        if (c.parts.empty()) continue;
        const Call& tip = texts.back();
        for (const std::string& part : c.parts) EXPECT_NE(tip.text.find(part), std::string::npos) << part;
        EXPECT_TRUE(tip.format.wrap) << "a long name wraps inside the tip";
        // Room for every line the tip has, at the tip's line height or more.
        const size_t lines = static_cast<size_t>(std::count(tip.text.begin(), tip.text.end(), '\n')) + 1;
        EXPECT_GE(tip.rect.bottom - tip.rect.top, 13.0f * static_cast<float>(lines));
    }
}

}  // namespace
