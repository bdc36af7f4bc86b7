// The legend as drawn into a recording target: rows in the order of the parts, each with its colour's
// note, its instrument and track name and its note count, and a summing-up line when space runs out.
#include "ui/voice_legend.h"

#include <gtest/gtest.h>

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
         {"20 voices", piano, "1", piano, "1", piano, "1", "+17 more"}},
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

}  // namespace
