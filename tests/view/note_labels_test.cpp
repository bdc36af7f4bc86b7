// Note names on lit keys and falling notes, how a name is fitted to its room, and the falling
// speed: the notes reach their keys at their start at every speed.
#include "view/note_labels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/window.h"
#include "tests/view/view_rig.h"

namespace {

using viewtest::Call;
using viewtest::Op;
using viewtest::ViewRig;

constexpr float kEps = 1e-3f;

TEST(FitKeyLabel, TakesTheFirstShapeThatFitsAndNeverALetterWithoutItsSign) {
    struct Case {
        int key;
        Accidentals spelling;
        float width, height;  // the room, at text size 10: a character 7 wide, a line 12 tall
        const char* text;
        LabelShape shape;
    };
    const Case cases[] = {
        {60, Accidentals::Sharps, 30, 20, "C4", LabelShape::Line},           // room for the whole name
        {60, Accidentals::Sharps, 14, 12.5f, "C4", LabelShape::Line},        // exactly as wide
        {60, Accidentals::Sharps, 13.9f, 12.5f, "C", LabelShape::Line},      // a narrow white key
        {61, Accidentals::Sharps, 21, 12.5f, "C#4", LabelShape::Line},       //
        {61, Accidentals::Sharps, 20, 12.5f, "C#", LabelShape::Line},        // the pitch alone
        {61, Accidentals::Flats, 13.9f, 40, "D\nb\n4", LabelShape::Column},  // a narrow, tall black key
        {61, Accidentals::Sharps, 8, 30, "C\n#", LabelShape::Column},        // no room for the octave
        {61, Accidentals::Sharps, 8, 23, "", LabelShape::None},              // never "C" for C#
        {60, Accidentals::Sharps, 6.9f, 100, "", LabelShape::None},          // narrower than one letter
        {60, Accidentals::Sharps, 30, 11.9f, "", LabelShape::None},          // lower than one line
        {1, Accidentals::Sharps, 28, 12.5f, "C#-1", LabelShape::Line},       // the longest name
        {200, Accidentals::Sharps, 100, 100, "", LabelShape::None},          // no key, no name
    };
    for (const Case& c : cases) {
        const KeyLabel label = FitKeyLabel(NameOfKey(c.key, c.spelling), 10.0f, c.width, c.height);
        EXPECT_EQ(std::string(label.text), c.text)
            << "key " << c.key << " in " << c.width << " x " << c.height;
        EXPECT_EQ(label.shape, c.shape) << "key " << c.key << " in " << c.width << " x " << c.height;
        if (c.shape != LabelShape::None) {
            EXPECT_LE(label.width, c.width);
            EXPECT_LE(label.height, c.height);
        }
    }
}

TEST(FallSpeed, StepsStayInsideTheRangeAndTheUsualStepShowsThreeSeconds) {
    EXPECT_EQ(LookAheadAt(kUsualFallSpeed), 3.0f) << "the usual view is drawn exactly as before";
    EXPECT_FLOAT_EQ(LookAheadAt(0), kLongestLookAhead);
    EXPECT_FLOAT_EQ(LookAheadAt(kFallSpeedCount - 1), 1.0f);
    EXPECT_EQ(LookAheadAt(-5), LookAheadAt(0));
    EXPECT_EQ(LookAheadAt(99), LookAheadAt(kFallSpeedCount - 1));
    EXPECT_EQ(StepFallSpeed(kUsualFallSpeed, 1), kUsualFallSpeed + 1);
    EXPECT_EQ(StepFallSpeed(0, -1), 0);
    EXPECT_EQ(StepFallSpeed(kFallSpeedCount - 1, 1), kFallSpeedCount - 1);
    for (int s = 1; s < kFallSpeedCount; ++s)
        EXPECT_LT(LookAheadAt(s), LookAheadAt(s - 1)) << "faster shows less";
}

// A note and a bar line at the same moment fall together and meet the keyboard at that moment,
// at the usual speed and at others; only how far they are at a given second changes.
TEST(FallSpeed, NotesAndBarLinesMeetTheKeyboardAtTheirStartAtEverySpeed) {
    for (const int speed : {0, kUsualFallSpeed, kFallSpeedCount - 1}) {
        SCOPED_TRACE("speed step " + std::to_string(speed));
        ViewRig rig(1040, 530);  // notes area 400 high
        rig.controller.viewOptions.fallSpeed = speed;
        SongData& song = rig.NewSong(20);
        ViewRig::AddNote(song, 0, 60, 10.0f, 10.5f);
        song.barLines[song.barLineCount++] = 10.0f;
        const float lookAhead = LookAheadAt(speed);
        const float h = 400;

        for (const float before : {lookAhead, 0.5f * lookAhead, 0.25f * lookAhead}) {
            rig.Frame(10.0f - before);
            const float expected = h - before * h / lookAhead;
            const auto body = rig.target.Images(131);
            ASSERT_FALSE(body.empty());
            EXPECT_NEAR(body.back().rect.bottom - 32, expected, 0.01f) << before << " s before the start";
            ASSERT_EQ(rig.view->barCount, 1);
            EXPECT_NEAR(rig.view->barY[0], expected, 0.01f) << "the bar line falls with the note";
        }
        rig.Frame(10.0f);
        const auto body = rig.target.Images(131);
        ASSERT_FALSE(body.empty());
        EXPECT_NEAR(body.back().rect.bottom, h, kEps) << "at its start the note meets the keyboard";
        EXPECT_NEAR(body.back().source.bottom, 64, kEps) << "with the last row of its core";
        EXPECT_NEAR(rig.view->barY[0], h, kEps);
    }
}

// The texts of the last frame that are names rather than bar numbers.
std::vector<Call> Names(const ViewRig& rig) {
    return rig.target.Where([](const Call& c) {
        return c.op == Op::Text && !c.text.empty() && c.text[0] >= 'A' && c.text[0] <= 'G';
    });
}

TEST(KeyNames, LitKeysShowTheirNamesBelowTheBlackKeysOrDownTheBlackKey) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 60, 1.0f, 3.0f);
    ViewRig::AddNote(song, 1, 61, 1.0f, 3.0f);
    rig.Frame(2.0f);
    const KeyRecord& c4 = rig.view->keys[60 - kLowestKey];
    const KeyRecord& cs4 = rig.view->keys[61 - kLowestKey];
    const float blackEnd = cs4.rect.bottom;

    std::vector<Call> names = Names(rig);
    ASSERT_EQ(names.size(), 3u) << "C4, then C#4 over its shadow";
    EXPECT_EQ(names[0].text, "C4");
    EXPECT_GE(names[0].rect.top, blackEnd) << "below the black keys";
    EXPECT_LT(names[0].rect.bottom, c4.rect.bottom);
    EXPECT_GE(names[0].rect.left, c4.rect.left - kEps);
    EXPECT_LE(names[0].rect.right, c4.rect.right + kEps);
    EXPECT_LT(names[0].colour.r, 0.2f) << "dark on the lit white key";
    EXPECT_EQ(names[2].text, "C\n#\n4") << "too narrow for a line: one character a line";
    EXPECT_GE(names[2].rect.top, cs4.rect.top + (cs4.rect.right - cs4.rect.left)) << "below the spark";
    EXPECT_LT(names[2].rect.bottom, cs4.rect.bottom);
    EXPECT_GT(names[2].colour.r, 0.9f) << "light on the lit black key";
    EXPECT_EQ(names[1].text, names[2].text);
    EXPECT_LT(names[1].colour.r, 0.1f) << "over a dark shadow";
    EXPECT_EQ(names[2].format.weight, 700);

    rig.controller.viewOptions.labels.flats = true;
    rig.Frame(2.1f);
    names = Names(rig);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[2].text, "D\nb\n4");

    rig.controller.viewOptions.labels.onKeys = false;
    rig.Frame(2.2f);
    EXPECT_TRUE(Names(rig).empty());

    rig.controller.viewOptions.labels.onKeys = true;
    rig.Frame(3.5f);
    EXPECT_TRUE(Names(rig).empty()) << "dark keys are not named";
}

TEST(KeyNames, TheSmallestWindowNamesWhiteKeysByTheirLetter) {
    // The notes view of an 800 x 500 window: 1000 x 625 design units less the control panel and
    // the time bar.
    ViewRig rig(798, 450);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 64, 1.0f, 3.0f);
    ViewRig::AddNote(song, 0, 66, 1.0f, 3.0f);
    rig.Frame(2.0f);
    const std::vector<Call> names = Names(rig);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].text, "E");
    EXPECT_EQ(names[2].text, "F\n#\n4");
    EXPECT_GE(names[0].format.size, 12.0f) << "at least about 10 pixels at the window's scale";
}

TEST(NoteNames, FallingNotesShowTheirNamesOnlyWhenAskedAndWhereTheyFit) {
    ViewRig rig(1040, 530);  // 400 high: 133 units a second
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 67, 2.0f, 2.6f);   // long enough
    ViewRig::AddNote(song, 0, 69, 2.0f, 2.05f);  // too short for any name
    ViewRig::AddNote(song, 1, 70, 2.0f, 2.6f);   // a black key's note: one character a line
    rig.Frame(1.0f);
    EXPECT_TRUE(Names(rig).empty()) << "off by default";

    rig.controller.viewOptions.labels.onNotes = true;
    rig.Frame(1.0f);
    std::vector<Call> names = Names(rig);
    ASSERT_EQ(names.size(), 2u);
    const float startY = 400 - 1.0f * 400 / 3;
    EXPECT_EQ(names[0].text, "G4");
    EXPECT_LT(names[0].rect.bottom, startY) << "at the note's lower end, inside it";
    EXPECT_GT(names[0].rect.bottom, startY - 8);
    EXPECT_EQ(names[1].text, "A\n#\n4");

    // Once the notes sound, the names stay on the parts above the keys' sparks while they fit.
    rig.Frame(2.25f);
    names = Names(rig);
    ASSERT_GE(names.size(), 1u);
    EXPECT_EQ(names[0].text, "G4");
    EXPECT_LE(names[0].rect.bottom, rig.view->keys[67 - kLowestKey].sparkRect.top);
    rig.Frame(2.58f);
    for (const Call& c : Names(rig)) EXPECT_GT(c.rect.top, 400.0f) << "only the key names are left";
}

TEST(NameKeys, NBAndFToggleTheNamesAndTheFitAndZStepsTheFallingSpeed) {
    ViewRig rig(1040, 530);
    PlayerController& c = rig.controller;
    auto press = [&](uint32_t key, bool shift = false, bool repeat = false) {
        platform::InputMessage m;
        m.kind = platform::InputKind::KeyDown;
        m.keyCode = key;
        m.shift = shift;
        m.repeat = repeat;
        c.OnInput(m);
    };
    const NoteLabels start = c.viewOptions.labels;
    EXPECT_TRUE(start.onKeys);
    EXPECT_FALSE(start.onNotes);
    EXPECT_FALSE(start.flats);

    press('n');
    EXPECT_TRUE(c.viewOptions.labels.onNotes);
    press('n', false, true);
    EXPECT_TRUE(c.viewOptions.labels.onNotes) << "a held key does not toggle again";
    press('n', true);
    EXPECT_FALSE(c.viewOptions.labels.onKeys) << "Shift+N: the names on the keys";
    EXPECT_TRUE(c.viewOptions.labels.onNotes);
    press('b');
    EXPECT_TRUE(c.viewOptions.labels.flats);
    press('B');
    EXPECT_FALSE(c.viewOptions.labels.flats);

    EXPECT_FALSE(c.viewOptions.fitSong);
    press('f');
    EXPECT_TRUE(c.viewOptions.fitSong) << "F: the keyboard fits the song";
    press('f', false, true);
    EXPECT_TRUE(c.viewOptions.fitSong);

    press('z');
    EXPECT_EQ(c.viewOptions.fallSpeed, kUsualFallSpeed + 1) << "Z: faster";
    for (int i = 0; i < 10; ++i) press('z', true, i > 0);
    EXPECT_EQ(c.viewOptions.fallSpeed, 0) << "Shift+Z, held: down to the slowest and no further";
}

}  // namespace

namespace {

// The keyboard fitted to the song: its shown white keys fill the view, the song's keys are all
// among them with room beside, and the keyboard's images stay inside the view.
TEST(FitSong, TheSongsKeysFillTheViewAndNothingSpillsPastIt) {
    struct Case {
        const char* what;
        int low, high;           // the song's keys
        int firstWhite, whites;  // expected: A0 is white key 0, C8 white key 51
    };
    const Case cases[] = {
        {"an octave from C4, widened to two", 60, 72, 20, 15},
        {"the bottom of the piano", 21, 26, 0, 15},
        {"the top of the piano", 100, 108, 37, 15},
        {"a black key on top takes the white above", 48, 75, 14, 21},
        {"the whole piano", 21, 108, 0, 52},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ViewRig rig(1040, 530);
        rig.controller.viewOptions.fitSong = true;
        SongData& song = rig.NewSong(20);
        ViewRig::AddNote(song, 0, c.low, 1.0f, 2.0f);
        ViewRig::AddNote(song, 1, c.high, 1.0f, 2.0f);
        rig.Frame(1.5f);
        const NotesView& v = *rig.view;
        EXPECT_EQ(v.firstWhite, c.firstWhite);
        EXPECT_EQ(v.whiteCount, c.whites);
        EXPECT_NEAR(v.whiteKeyWidth, 1040.0f / static_cast<float>(c.whites), kEps);
        for (const int key : {c.low, c.high}) {
            const RectF& r = v.keys[key - kLowestKey].rect;
            EXPECT_GE(r.left, 0) << "key " << key;
            EXPECT_LE(r.right, 1040) << "key " << key;
        }
        float covered = 0;
        for (const Call& call : rig.target.Where([](const Call& k) {
                 return k.op == Op::Image && (k.imageId == 134 || k.imageId == 140 || k.imageId == 142);
             })) {
            EXPECT_GE(call.rect.left, -kEps);
            EXPECT_LE(call.rect.right, 1040 + kEps);
            EXPECT_GT(call.source.right, call.source.left);
            covered += call.rect.right - call.rect.left;
        }
        EXPECT_NEAR(covered, 1040, 0.01f) << "the keyboard spans the view without a gap";
        const auto lit = rig.target.Images(139);
        ASSERT_EQ(lit.size(), 1u) << "the lower key is lit where it now lies";
        EXPECT_NEAR(lit[0].rect.left, v.keys[c.low - kLowestKey].rect.left, kEps);
    }
}

TEST(FitSong, PercussionDoesNotWidenTheKeyboardAndTheOptionGoesBack) {
    ViewRig rig(1040, 530);
    rig.controller.viewOptions.fitSong = true;
    SongData& song = rig.NewSong(20);
    song.reading = ReadingVoices;
    ViewRig::GiveParts(song, 2, 4);
    song.parts[0].channel = 0;
    song.parts[1].channel = kPercussionChannel;
    ViewRig::AddNote(song, 0, 60, 1.0f, 2.0f);
    ViewRig::AddNote(song, 0, 72, 1.0f, 2.0f);
    ViewRig::AddNote(song, 1, 35, 1.0f, 2.0f);  // a bass drum, heard but not drawn
    rig.Frame(1.5f);
    EXPECT_EQ(rig.view->firstWhite, 20);
    EXPECT_EQ(rig.view->whiteCount, 15);

    rig.controller.viewOptions.fitSong = false;
    rig.Frame(1.6f);
    EXPECT_EQ(rig.view->firstWhite, 0);
    EXPECT_EQ(rig.view->whiteCount, 52);
    EXPECT_NEAR(rig.view->keys[0].rect.left, 0, kEps);
}

}  // namespace
