// Which note-ons of a song denser than its voices start: blocks of events through the budget, and
// what comes out of each.
#include "synth/note_budget.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// 4 voices at 1,000 frames a second: the budget holds four notes and regains one every
// kLeastVoiceSeconds / 4.
constexpr int kVoices = 4;
constexpr uint32_t kRate = 1000;
const int64_t kOneNote = static_cast<int64_t>(NoteBudget::kLeastVoiceSeconds * kRate / kVoices + 0.5);

SequencedEvent On(int channel, int key, int velocity) {
    return {0, 0.0, static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key),
            static_cast<uint8_t>(velocity)};
}
SequencedEvent Off(int channel, int key) {
    return {0, 0.0, static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 0};
}
SequencedEvent Control(int channel, int controller, int value) {
    return {0, 0.0, static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller),
            static_cast<uint8_t>(value)};
}

// The events the budget sends, as "on60 off60 cc7".
std::string Sent(const NoteBudget& budget, const std::vector<SequencedEvent>& events) {
    std::string text;
    for (size_t i = 0; i < events.size(); ++i) {
        if (!budget.Sends(i)) continue;
        const int kind = events[i].status & 0xF0;
        text += text.empty() ? "" : " ";
        text += (kind == 0x90 ? "on" : kind == 0x80 ? "off" : "cc") + std::to_string(events[i].data1);
    }
    return text;
}

struct Block {
    int64_t frame;
    std::vector<SequencedEvent> in;
    std::string out;
    std::vector<uint8_t> silenced = {};  // per event: a note-on of a muted part
};

TEST(NoteBudget, StartsTheLoudestNotesTheVoicesHaveTimeFor) {
    const struct {
        const char* name;
        std::vector<Block> blocks;
    } cases[] = {
        {"as many notes as voices start whole, with the events between them in order",
         {{0,
           {Control(0, 10, 0), On(0, 60, 10), On(1, 61, 10), Off(0, 60), On(2, 62, 10), On(3, 63, 10)},
           "cc10 on60 on61 off60 on62 on63"}}},
        {"past the voices, the quietest are dropped with their note-offs; ties go to the earliest",
         {{0,
           {On(0, 60, 50), On(0, 61, 90), On(0, 62, 20), On(0, 63, 50), On(0, 64, 70), On(0, 65, 50)},
           "on60 on61 on63 on64"},
          {0, {Off(0, 60), Off(0, 62), Off(0, 65), Off(0, 61)}, "off60 off61"}}},
        {"a channel's volume and expression count, as they stand when the note comes",
         {{0,
           {Control(1, 7, 10), On(1, 70, 127), On(0, 71, 40), Control(2, 11, 10), On(2, 72, 100),
            On(0, 73, 30), Control(1, 7, 127), On(1, 74, 35), On(0, 75, 20)},
           "cc7 on71 cc11 on73 cc7 on74 on75"}}},
        {"spent, the budget comes back one note per share of the least life, never past the voices",
         {{0, {On(0, 60, 9), On(0, 61, 9), On(0, 62, 9), On(0, 63, 9)}, "on60 on61 on62 on63"},
          {0, {On(0, 64, 127)}, ""},
          {kOneNote + 1, {On(0, 65, 9), On(0, 66, 9)}, "on65"},
          {kOneNote * 100,
           {On(0, 67, 9), On(0, 68, 9), On(0, 69, 9), On(0, 70, 9), On(0, 71, 9)},
           "on67 on68 on69 on70"}}},
        {"a re-struck key keeps both its note-offs; a stray note-off, and one after all-notes-off, is held",
         {{0, {Off(0, 50), On(0, 60, 64), On(0, 60, 64), On(1, 61, 64)}, "on60 on60 on61"},
          {0, {Off(0, 60), Control(1, 123, 0), Off(0, 60), Off(1, 61), Off(0, 60)}, "off60 cc123 off60"}}},
        {"a muted part's notes take no voice from the heard ones, and their note-offs are held",
         {{0,
           {On(0, 60, 127), On(0, 61, 127), On(1, 62, 9), On(1, 63, 9), On(1, 64, 9), On(1, 65, 9)},
           "on62 on63 on64 on65",
           {1, 1, 0, 0, 0, 0}},
          {0, {Off(0, 60), Off(1, 62)}, "off62"}}},
    };
    for (const auto& c : cases) {
        NoteBudget budget(kVoices, kRate);
        for (size_t i = 0; i < c.blocks.size(); ++i) {
            budget.Sift(c.blocks[i].frame, c.blocks[i].in, c.blocks[i].silenced);
            EXPECT_EQ(Sent(budget, c.blocks[i].in), c.blocks[i].out) << c.name << ", block " << i;
        }
    }
}

TEST(NoteBudget, ControllersSetBeforeTheStartCount) {
    NoteBudget budget(1, kRate);
    budget.Follow(Control(0, 11, 1));
    const std::vector<SequencedEvent> events = {On(0, 60, 127), On(1, 61, 2)};
    budget.Sift(0, events);
    EXPECT_EQ(Sent(budget, events), "on61")
        << "a channel turned all but silent before the start gives way first";
}

}  // namespace
