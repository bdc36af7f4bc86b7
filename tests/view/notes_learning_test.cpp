// The notes view while playing along: the player's part bright and edged in their colour with the
// rest dimmer, the keys and notes the song waits for, the computer keyboard's letters, follow
// mode's marks; and the progress chart's layout.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/hand_editing.h"
#include "midi/hand_split.h"
#include "settings/song_hands.h"
#include "tests/view/view_rig.h"
#include "view/note_marks.h"
#include "view/progress_chart.h"

namespace {

using viewtest::Call;
using viewtest::Op;
using viewtest::ViewRig;

constexpr uint32_t kFlat[res::kNoteColourCount] = {0xFFCC00, 0x33CC33};

// The flat bars drawn over `key`'s column this frame, in drawing order.
std::vector<Call> BarsOn(const ViewRig& rig, int key, Op op) {
    const RectF& k = rig.view->keys[key - kLowestKey].rect;
    return rig.target.Where([&](const Call& c) {
        return c.op == op && c.rect.left == k.left + 1.0f && c.rect.right == k.right - 1.0f &&
               c.rect.bottom <= rig.view->notesHeight;
    });
}

TEST(PlayingAlong, ThePlayersPartIsBrightAndEdgedAndTheRestDimmer) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 72, 2.0f, 2.5f);
    ViewRig::AddNote(song, 1, 48, 2.0f, 2.5f);
    NotesViewOptions& o = rig.controller.viewOptions;
    o.flatNoteColours = kFlat;
    rig.Frame(0.5f);
    EXPECT_FLOAT_EQ(BarsOn(rig, 72, Op::Fill).at(0).colour.a, 1.0f) << "nobody playing along: both bright";
    EXPECT_FLOAT_EQ(BarsOn(rig, 48, Op::Fill).at(0).colour.a, 1.0f);

    // Playing the second hand, which the song therefore silences: it must not be the faded one.
    o.playedParts.set(1);
    o.quietParts.set(1);
    rig.Frame(0.5f);
    EXPECT_FLOAT_EQ(BarsOn(rig, 48, Op::Fill).at(0).colour.a, 1.0f) << "the part played";
    EXPECT_FLOAT_EQ(BarsOn(rig, 72, Op::Fill).at(0).colour.a, 0.45f) << "the song's other part";
    const std::vector<Call> edges = BarsOn(rig, 48, Op::Outline);
    ASSERT_EQ(edges.size(), 2u) << "the dark edge, then the player's";
    EXPECT_FLOAT_EQ(edges[1].colour.b, 1.0f) << "edged in the player's own colour";
    EXPECT_EQ(BarsOn(rig, 72, Op::Outline).size(), 1u) << "the other part keeps its plain edge";
    o.quietParts.set(0);
    rig.Frame(0.5f);
    EXPECT_FLOAT_EQ(BarsOn(rig, 72, Op::Fill).at(0).colour.a, 0.3f) << "muted besides: fainter still";
}

TEST(PlayingAlong, AwaitedKeysAndNotesAreMarkedAndEachKeyShowsItsLetter) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 60, 2.0f, 2.5f);
    ViewRig::AddNote(song, 0, 64, 2.0f, 2.5f);
    ViewRig::AddNote(song, 0, 60, 3.0f, 3.5f);  // the same key later: not what the song waits for now
    NotesViewOptions& o = rig.controller.viewOptions;
    o.flatNoteColours = kFlat;
    o.playedParts.set(0);
    o.awaitedKeys.set(60);
    o.awaitedKeys.set(64);
    o.awaitedOnset = 2.0f;
    o.letterBase = 60;
    rig.Frame(1.0f);
    const std::vector<Call> edges = BarsOn(rig, 60, Op::Outline);
    ASSERT_EQ(edges.size(), 4u) << "two notes, each with two edges";
    int awaited = 0;
    for (const Call& c : edges) awaited += c.width == 3.0f ? 1 : 0;
    EXPECT_EQ(awaited, 1) << "only the note at the awaited onset";
    for (const int key : {60, 64}) {
        const RectF& k = rig.view->keys[key - kLowestKey].rect;
        const auto marks = rig.target.Where([&](const Call& c) {
            return c.op == Op::Fill && c.rect.left == k.left + 1 && c.rect.top == k.top + 2;
        });
        EXPECT_EQ(marks.size(), 1u) << "key " << key << " is marked as awaited";
    }
    const auto letters = rig.target.Texts();
    auto letterOn = [&](int key) {
        const RectF& k = rig.view->keys[key - kLowestKey].rect;
        for (const Call& c : letters)
            if (c.rect.left == k.left && c.rect.right == k.right && c.text.size() == 1) return c.text;
        return std::string();
    };
    EXPECT_EQ(letterOn(60), "A");
    EXPECT_EQ(letterOn(61), "W");
    EXPECT_EQ(letterOn(77), "'");
    EXPECT_EQ(letterOn(59), "") << "below the computer keyboard's reach";
}

TEST(PlayingAlong, JudgedNotesAreMarkedOverTheirKeysAndAMissedNoteOnItsBar) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 60, 2.0f, 4.0f);
    NoteMarks marks;
    marks.Add(2.0f, 60, Judgement::Missed);
    marks.Add(2.1f, 62, Judgement::Late);
    marks.Add(-1.0f, 64, Judgement::Hit);  // long past
    NotesViewOptions& o = rig.controller.viewOptions;
    o.flatNoteColours = kFlat;
    o.playedParts.set(0);
    o.marks = &marks;
    rig.Frame(2.5f);
    const std::vector<Call> edges = BarsOn(rig, 60, Op::Outline);
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_FLOAT_EQ(edges[1].colour.r, 1.0f) << "the missed note's bar is edged in red";
    EXPECT_LT(edges[1].colour.b, 0.5f);
    auto signOver = [&](int key) {
        const RectF& k = rig.view->keys[key - kLowestKey].rect;
        const float cx = (k.left + k.right) * 0.5f;
        for (const Call& c : rig.target.Texts())
            if (c.rect.left < cx && c.rect.right > cx && c.rect.bottom == rig.view->notesHeight - 4) return c;
        return Call{};
    };
    EXPECT_EQ(signOver(62).text, ">") << "late";
    EXPECT_NEAR(signOver(62).colour.a, 1.0f - 0.4f / NoteMarks::kShowSeconds, 1e-4) << "fading with its age";
    EXPECT_EQ(signOver(60).text, "-") << "missed";
    EXPECT_EQ(signOver(64).text, "") << "older than a mark shows for";
    marks.Clear();
    rig.Frame(2.5f);
    EXPECT_EQ(BarsOn(rig, 60, Op::Outline).size(), 2u);
    EXPECT_GT(BarsOn(rig, 60, Op::Outline)[1].colour.b, 0.5f) << "cleared: the player's own edge again";
}

TEST(PlayingAlong, ATransposedSongFallsOntoAndLightsTheKeysThatSound) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 69, 1.0f, 2.0f);  // A4, heard as C5
    NotesViewOptions& o = rig.controller.viewOptions;
    o.flatNoteColours = kFlat;
    o.transpose = 3;
    o.awaitedKeys.set(69);
    o.awaitedOnset = 1.0f;
    rig.Frame(0.5f);
    EXPECT_EQ(BarsOn(rig, 72, Op::Fill).size(), 1u) << "the bar falls onto C5";
    EXPECT_TRUE(BarsOn(rig, 69, Op::Fill).empty());
    const RectF& c5 = rig.view->keys[72 - kLowestKey].rect;
    EXPECT_EQ(
        rig.target.Where([&](const Call& c) { return c.op == Op::Fill && c.rect.top == c5.top + 2; }).size(),
        1u)
        << "the awaited key is marked where it sounds";
    rig.Frame(1.5f);
    EXPECT_GT(rig.view->keys[72 - kLowestKey].intensity, 0.0f);
    EXPECT_FLOAT_EQ(rig.view->keys[69 - kLowestKey].intensity, 0.0f);
}

TEST(ProgressChart, NewestPassesFromTheRightWithTimingAroundTheMiddleAndRulesBetweenDays) {
    std::vector<PassRecord> passes;
    auto add = [&](const char* parts, int64_t when, int hits, int missed, double offsetMs) {
        PassRecord p{parts, when, {}};
        p.score.hits = hits;
        p.score.missed = missed;
        p.score.meanOffsetMs = offsetMs;
        passes.push_back(p);
    };
    const int64_t day = 86400;
    add("1", 10 * day + 100, 5, 5, 300.0);   // 50%, late past the scale
    add("2", 10 * day + 200, 10, 0, 0.0);    // another part: not in this chart
    add("1", 10 * day + 300, 10, 0, -75.0);  // 100%, early by half the scale
    add("1", 11 * day + 5, 0, 10, 0.0);      // the next day, 0%
    const RectF box{0, 0, 400, 100};
    const ProgressChartLayout chart = LayOutProgressChart(passes, "1", box);
    ASSERT_EQ(chart.count, 3);
    const float slot = 400.0f / ProgressChartLayout::kFewestSlots;
    EXPECT_FLOAT_EQ(chart.passes[2].x, 400 - slot * 0.5f) << "the newest at the right";
    EXPECT_LT(chart.passes[0].x, chart.passes[1].x);
    EXPECT_FLOAT_EQ(chart.passes[0].accuracyY, (chart.accuracyBox.top + chart.accuracyBox.bottom) * 0.5f);
    EXPECT_LT(chart.passes[1].accuracyY, chart.passes[0].accuracyY) << "higher accuracy higher up";
    const float middle = (chart.timingBox.top + chart.timingBox.bottom) * 0.5f;
    const float half = (chart.timingBox.bottom - chart.timingBox.top) * 0.5f - 1.0f;
    EXPECT_FLOAT_EQ(chart.passes[0].offsetTop, middle - half) << "late, cut at the scale";
    EXPECT_FLOAT_EQ(chart.passes[0].offsetBottom, middle);
    EXPECT_FLOAT_EQ(chart.passes[1].offsetBottom, middle + half * 0.5f) << "early leans down";
    EXPECT_FALSE(chart.passes[1].newDay);
    EXPECT_TRUE(chart.passes[2].newDay);
    EXPECT_EQ(LayOutProgressChart(passes, "1+2", box).count, 0);
}

// In the window, the chart of the parts played shows under the score, clear of the view toggle;
// parts never played before show none.
TEST(ProgressChart, ShowsUnderTheScoreForThePartsPlayed) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 60, 2.0f, 2.5f);
    std::vector<PassRecord> passes(2, PassRecord{"1", 100, {}});
    passes[0].score.hits = 5;
    passes[1].score.hits = 10;
    NotesViewOptions& o = rig.controller.viewOptions;
    o.scoreText = "10 of 10 hit";
    const auto chartLabel = [&]() -> const Call* {
        for (const Call& c : rig.target.calls)
            if (c.op == Op::Text && c.text == "accuracy") return &c;
        return nullptr;
    };
    rig.Frame(0.5f);
    EXPECT_EQ(chartLabel(), nullptr) << "no history handed over, no chart";
    o.history = &passes;
    o.historyParts = "1";
    rig.Frame(0.5f);
    const Call* label = chartLabel();
    ASSERT_NE(label, nullptr);
    const Call* score = nullptr;
    for (const Call& c : rig.target.calls)
        if (c.op == Op::Text && c.text == o.scoreText) score = &c;
    ASSERT_NE(score, nullptr);
    EXPECT_GT(label->rect.top, score->rect.bottom) << "under the score";
    EXPECT_LT(label->rect.left, 1040 - 40) << "clear of the view toggle";
    o.historyParts = "2";
    rig.Frame(0.5f);
    EXPECT_EQ(chartLabel(), nullptr);
}

}  // namespace

// The hand editor: with Ctrl, a click on a falling note moves it to the other hand and the same
// click moves it back; a box moves every note it touches; the moves are kept for the song; and a
// press anywhere else, or while playing along, is left to the view's ordinary clicks.
TEST(HandEditor, CtrlClickAndBoxMoveNotesToTheOtherHandAndBack) {
    char folder[] = "/tmp/dorvik-hands-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    setenv("XDG_DATA_HOME", folder, 1);
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    // The two hands as the reader lays them out: one run of notes, the first hand's first.
    ViewRig::GiveHandsRoom(song, 2);
    ViewRig::AddNote(song, 0, 72, 2.0f, 2.5f);
    ViewRig::AddNote(song, 0, 76, 2.0f, 2.5f);
    ViewRig::AddNote(song, 1, 48, 2.0f, 2.5f);
    ViewRig::AddNote(song, 1, 52, 5.0f, 5.5f);
    SessionState& session = rig.controller.shared;
    session.practice.NewSong("ab12-40");
    rig.Frame(0.5f);
    const NotesView& v = *rig.view;
    const auto x = [&](int key) {
        const RectF& r = v.keys[key - kLowestKey].rect;
        return (r.left + r.right) / 2;
    };
    const float y = (v.topTime - 2.25f) * v.notesHeight / v.lookAhead;
    const auto click = [&](float x0, float y0, float x1, float y1) {
        return BeginHandBox(session, &v, x0, y0) ? EndHandBox(session, &v, x1, y1) : -1;
    };
    const auto keysOf = [&](int part) {
        std::vector<int> keys;
        for (int i = 0; i < song.parts[part].noteCount; ++i) keys.push_back(song.parts[part].notes[i].key);
        std::sort(keys.begin(), keys.end());
        return keys;
    };

    EXPECT_EQ(click(x(72), y, x(72), y), 1);
    EXPECT_EQ(keysOf(0), std::vector<int>({76}));
    EXPECT_EQ(keysOf(1), std::vector<int>({48, 52, 72}));
    EXPECT_TRUE(ReadHandEdits("ab12-40").Moved(72, 2.0f)) << "kept for the next time";
    rig.Frame(0.5f);  // the controller shows the song again after a move
    EXPECT_EQ(click(x(72), y, x(72), y), 1);
    EXPECT_EQ(keysOf(0), std::vector<int>({72, 76})) << "the same click moves it back";
    EXPECT_EQ(ReadHandEdits("ab12-40").HandOf(72, 2.0f), RightHand) << "kept as the hand chosen";
    rig.Frame(0.5f);
    EXPECT_EQ(click(x(48) - 5, y - 20, x(76) + 5, y + 20), 3) << "a box moves all it touches";
    EXPECT_EQ(keysOf(0), std::vector<int>({48}));
    EXPECT_EQ(keysOf(1), std::vector<int>({52, 72, 76})) << "a note out of the box stays";

    // Read again, the song comes with the hands as mended.
    SongData& again = rig.NewSong(20);
    ViewRig::GiveHandsRoom(again, 2);
    ViewRig::AddNote(again, 0, 72, 2.0f, 2.5f);
    ViewRig::AddNote(again, 0, 76, 2.0f, 2.5f);
    ViewRig::AddNote(again, 1, 48, 2.0f, 2.5f);
    ViewRig::AddNote(again, 1, 52, 5.0f, 5.5f);
    TakeHandEdits(session.practice, again);
    EXPECT_EQ(again.parts[0].noteCount, 1);
    EXPECT_EQ(again.parts[0].notes[0].key, 48);
    // A record of the older form, a move to the other hand, is read as today's split gives it and
    // kept from then on as the hand it gave.
    {
        std::ofstream(std::string(folder) + "/dorvik-midi-player/songs/ab12-40.hands.txt")
            << "move 52 5000\n";
        SongData& older = rig.NewSong(20);
        ViewRig::GiveHandsRoom(older, 2);
        ViewRig::AddNote(older, 0, 72, 2.0f, 2.5f);
        ViewRig::AddNote(older, 0, 76, 2.0f, 2.5f);
        ViewRig::AddNote(older, 1, 48, 2.0f, 2.5f);
        ViewRig::AddNote(older, 1, 52, 5.0f, 5.5f);
        TakeHandEdits(session.practice, older);
        EXPECT_EQ(older.parts[0].noteCount, 3);
        EXPECT_EQ(ReadHandEdits("ab12-40").HandOf(52, 5.0f), RightHand);
    }

    rig.Frame(0.5f);
    EXPECT_EQ(click(x(60), y, x(60), y), 0) << "nothing under the click";
    // While dragged, the box shows over the notes whichever way it goes, kept to the notes area.
    NotesViewOptions& o = rig.controller.viewOptions;
    o.handBoxShown = true;
    o.handBox = {300, v.notesHeight + 50, 200, 100};
    rig.Frame(0.5f);
    const std::vector<Call> boxes = rig.target.Where([&](const Call& c) {
        return c.op == Op::Outline && c.rect.left == 200 && c.rect.top == 100 && c.rect.right == 300;
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FLOAT_EQ(boxes[0].rect.bottom, v.notesHeight);
    o.handBoxShown = false;
    EXPECT_FALSE(BeginHandBox(session, &v, x(72), v.notesHeight + 10)) << "the keyboard keeps its clicks";
    session.playAlong.Begin(PlayAlongMode::Following, "", "Hand 1");
    EXPECT_FALSE(BeginHandBox(session, &v, x(72), y)) << "not while playing along";
    std::filesystem::remove_all(folder);
}
