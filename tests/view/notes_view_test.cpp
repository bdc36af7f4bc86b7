// The notes view: keyboard layout, the fall of a note onto its key, key lighting, the bar grid,
// the time index, and the two controller-level controls.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/frame_timer.h"
#include "tests/view/view_rig.h"

namespace {

using viewtest::Call;
using viewtest::Op;
using viewtest::ViewRig;

constexpr float kEps = 1e-3f;

TEST(KeyboardLayout, A1040PixelViewHas20PixelWhiteKeysAndScaledBlackKeys) {
    ViewRig rig(1040, 260);
    rig.NewSong(10);
    rig.Frame(0);
    const NotesView& v = *rig.view;
    EXPECT_FLOAT_EQ(v.keyboardHeight, 130);
    EXPECT_FLOAT_EQ(v.notesHeight, 130);
    EXPECT_NEAR(v.notesHeight / v.lookAhead, 43.33f, 0.01f) << "pixels per second";

    int whites = 0;
    float previousWhiteLeft = -20;
    for (int k = 0; k < kKeyCount; ++k) {
        const KeyRecord& key = v.keys[k];
        SCOPED_TRACE("key " + std::to_string(k + kLowestKey));
        EXPECT_FLOAT_EQ(key.rect.top, 130);
        if (key.isBlack == 0) {
            ++whites;
            EXPECT_NEAR(key.rect.left - previousWhiteLeft, 20, kEps);
            EXPECT_NEAR(key.rect.right - key.rect.left, 19, kEps);
            EXPECT_FLOAT_EQ(key.rect.bottom, 259);
            previousWhiteLeft = key.rect.left;
        } else {
            EXPECT_NEAR(key.rect.right - key.rect.left, 11.03f, 0.01f);
            EXPECT_NEAR(key.rect.bottom - key.rect.top, 90.1f, 0.01f);
            // A black key sits over the gap between its two white neighbours.
            const RectF& below = v.keys[k - 1].rect;
            const RectF& above = v.keys[k + 1].rect;
            EXPECT_GT(key.rect.left, below.left + 5);
            EXPECT_LT(key.rect.right, above.right - 5);
            EXPECT_LT(key.rect.left, below.right + 1);
            EXPECT_GT(key.rect.right, above.left);
        }
        const float kw = key.rect.right - key.rect.left;
        EXPECT_NEAR(key.sparkRect.left, key.rect.left - kw, kEps);
        EXPECT_NEAR(key.sparkRect.bottom - key.sparkRect.top, 2 * kw, kEps);
    }
    EXPECT_EQ(whites, 52);
    EXPECT_NEAR(v.keys[0].rect.left, 0, kEps) << "A0 starts at the left edge";
    EXPECT_NEAR(v.keys[87].rect.right, 1039, kEps) << "C8 ends at the right edge";
    EXPECT_NEAR(v.keys[3].rect.left, 40, kEps) << "C1";

    // The plain keyboard: the low end, seven octaves and the top C side by side.
    ASSERT_EQ(rig.target.Images(134).size(), 1u);
    const auto octaves = rig.target.Images(142);
    ASSERT_EQ(octaves.size(), 7u);
    EXPECT_NEAR(octaves[0].rect.left, 40, kEps);
    EXPECT_NEAR(octaves[6].rect.right, 1020, kEps);
    EXPECT_NEAR(rig.target.Images(140).at(0).rect.left, 1020, kEps);
}

TEST(KeyboardLayout, KeyboardAndAHintBeforeAnySong) {
    ViewRig rig(1040, 260);
    rig.Frame(-1);
    EXPECT_EQ(rig.target.Images(142).size(), 7u) << "the keyboard is there before any song";
    const auto texts = rig.target.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].text.find("drop one here"), std::string::npos);
}

// Sprites and lit-key images by part and key colour, in drawing order.
struct NoteLook {
    int part, key;
    int first, second;  // sprite images in the order drawn
    float firstOpacityIsGlow;
    int lit;
};

TEST(FallingNote, FallsOntoItsKeyAndLightsItWhileSounding) {
    const NoteLook looks[] = {
        {0, 60, 131, 132, 0, 139},
        {1, 60, 128, 127, 1, 138},
        {0, 61, 130, 141, 1, 137},
        {1, 61, 126, 125, 1, 136},
    };
    for (const NoteLook& look : looks) {
        SCOPED_TRACE("part " + std::to_string(look.part) + " key " + std::to_string(look.key));
        ViewRig rig(1040, 530);  // notes area 400 high
        SongData& song = rig.NewSong(20);
        ViewRig::AddNote(song, look.part, 30, 15, 16);  // some other note comes first
        ViewRig::AddNote(song, look.part, look.key, 10.0f, 10.5f, 100);
        const KeyRecord& key = rig.view->keys[look.key - kLowestKey];
        const float glow = 100.0f / 256.0f + 0.5f;

        rig.Frame(7.0f);
        const float kw = key.rect.right - key.rect.left;
        const auto body = rig.target.Images(look.firstOpacityIsGlow != 0 ? look.second : look.first);
        ASSERT_FALSE(body.empty());
        const Call& lowest = body.back();
        EXPECT_NEAR(lowest.rect.bottom - 32, 0, kEps) << "the core's bottom edge enters at the top";
        EXPECT_NEAR(lowest.rect.left, key.rect.left - kw, kEps) << "centred on the key";
        EXPECT_NEAR(lowest.rect.right, key.rect.right + kw, kEps);

        rig.Frame(10.0f);
        std::vector<Call> sprites = rig.target.Where(
            [](const Call& c) { return c.op == Op::Image && c.source.right == 96 && c.source.bottom <= 96; });
        sprites.erase(std::remove_if(sprites.begin(), sprites.end(),
                                     [](const Call& c) { return c.imageId == 146 || c.imageId == 147; }),
                      sprites.end());
        ASSERT_EQ(sprites.size(), 6u) << "two sprites of three slices each";
        for (int i = 0; i < 6; ++i) {
            const bool glowSprite = (i < 3) == (look.firstOpacityIsGlow != 0);
            EXPECT_EQ(sprites[i].imageId, i < 3 ? look.first : look.second);
            EXPECT_NEAR(sprites[i].opacity, glowSprite ? glow : 1.0f, kEps);
        }
        EXPECT_NEAR(sprites[2].rect.bottom, rig.view->notesHeight, kEps) << "clipped at the keyboard";
        EXPECT_NEAR(sprites[2].source.bottom, 64, kEps)
            << "the core's last row meets the keyboard's top edge";
        EXPECT_NEAR(sprites[0].rect.top, (13.0f - 10.5f) * 400 / 3 - 32, kEps);
        EXPECT_FLOAT_EQ(key.intensity, 0) << "not lit at the very start";

        rig.Frame(10.25f);
        EXPECT_FLOAT_EQ(key.intensity, 100);
        EXPECT_EQ(key.part, look.part);
        const auto lit = rig.target.Images(look.lit);
        ASSERT_EQ(lit.size(), 1u);
        EXPECT_NEAR(lit[0].rect.left, key.rect.left, kEps);
        EXPECT_NEAR(lit[0].source.left, key.source.left, kEps);
        ASSERT_EQ(rig.target.Images(147).size(), 1u);
        EXPECT_NEAR(rig.target.Images(146).at(0).rect.top, key.sparkRect.top, kEps);

        rig.Frame(10.6f);
        EXPECT_TRUE(rig.target.Images(look.first).empty()) << "over: no longer drawn";
        EXPECT_TRUE(rig.target.Images(look.lit).empty()) << "and its key is dark";
        EXPECT_FLOAT_EQ(key.intensity, 0);
    }
}

// Under the score strip nothing that moves is drawn: the notes, bar lines, shading and bar
// numbers start at its lower edge, where a note coming out from under it is cut.
TEST(FallingNote, NothingMovingIsDrawnUnderTheScoreStrip) {
    for (const float covered : {0.0f, 120.0f}) {
        SCOPED_TRACE(covered);
        ViewRig rig(1040, 530);  // notes area 400 high, three seconds of it
        SongData& song = rig.NewSong(20);
        for (int i = 0; i < 12; ++i)
            ViewRig::AddNote(song, i % 2, 48 + 3 * i, 0.4f * static_cast<float>(i),
                             0.4f * static_cast<float>(i) + 1.5f);
        song.barLineCount = 10;
        for (int i = 0; i < 10; ++i) song.barLines[i] = 0.7f * static_cast<float>(i);
        rig.controller.viewOptions.coveredTop = covered;
        rig.controller.viewOptions.labels.onNotes = true;
        rig.Frame(1.0f);
        float highest = 1e9f;  // the highest point of any call but the area's own fill
        bool cut = false;      // a note drawn from the strip's edge down
        for (const Call& c : rig.target.calls) {
            const float top = c.op == Op::Line ? std::min(c.rect.top, c.rect.bottom) : c.rect.top;
            if (c.op == Op::Fill && c.rect.top == 0 && c.rect.left == 0) continue;
            highest = std::min(highest, top);
            cut |= c.op == Op::Image && c.imageId < 134 && std::abs(c.rect.top - covered) < kEps;
        }
        if (covered > 0) {
            EXPECT_GE(highest, covered - kEps);
            EXPECT_TRUE(cut);
        } else {
            EXPECT_LT(highest, 120.0f) << "the scene reaches under where the strip would be";
        }
    }
}

TEST(FallingNote, NotesOutsideTheKeyboardOrWithoutLengthAreNotDrawn) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 20, 1, 2);
    ViewRig::AddNote(song, 0, 109, 1, 2);
    ViewRig::AddNote(song, 1, 60, 1, 1);  // no length
    ViewRig::AddNote(song, 1, 62, 1, 0);  // never released
    rig.Frame(1.5f);
    const auto sprites = rig.target.Where([](const Call& c) { return c.op == Op::Image && c.imageId < 134; });
    EXPECT_TRUE(sprites.empty());
    for (const KeyRecord& k : rig.view->keys) EXPECT_FLOAT_EQ(k.intensity, 0);

    song.noteTracks = 0;
    ViewRig::AddNote(song, 0, 64, 1, 2);
    rig.Frame(1.5f);
    EXPECT_TRUE(rig.target.Images(131).empty()) << "a song without note tracks draws no notes";
}

TEST(KeyLighting, AKeyKeepsTheNoteThatLitItUntilThatNoteEnds) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 64, 2.0f, 3.0f);
    ViewRig::AddNote(song, 0, 64, 3.02f, 4.0f);  // the next note on the same key
    ViewRig::AddNote(song, 1, 64, 2.5f, 5.0f);   // the other hand overlapping both
    const KeyRecord& key = rig.view->keys[64 - kLowestKey];

    rig.Frame(2.6f);
    EXPECT_EQ(key.part, 0);
    EXPECT_EQ(key.noteIndex, 0) << "the first note of a part holds its key like any other";
    rig.Frame(2.99f);
    EXPECT_EQ(key.part, 0);
    EXPECT_EQ(key.noteIndex, 0);
    rig.Frame(3.01f);
    EXPECT_EQ(key.part, 1) << "freed by the first note's end, taken by the sounding other hand";
    rig.Frame(3.5f);
    EXPECT_EQ(key.part, 1);
    rig.Frame(5.01f);
    EXPECT_FLOAT_EQ(key.intensity, 0);
}

TEST(KeyLighting, SparkFadesOverTheNoteUnlessTheNoteIsVeryShort) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 60, 1.0f, 3.0f, 127);  // note 0 of its part
    ViewRig::AddNote(song, 0, 62, 1.0f, 1.05f, 127);
    const KeyRecord& longKey = rig.view->keys[60 - kLowestKey];
    const KeyRecord& shortKey = rig.view->keys[62 - kLowestKey];

    rig.Frame(1.01f);
    EXPECT_NEAR(longKey.level, 1.0f - 0.01f / 2.0f, kEps) << "faded by the song time since its start";
    EXPECT_FLOAT_EQ(shortKey.level, 1.0f);
    rig.Frame(1.04f);
    const auto sparks = rig.target.Images(147);
    ASSERT_EQ(sparks.size(), 2u);
    EXPECT_NEAR(sparks[0].opacity, 1.0f - 0.04f / 2.0f, kEps) << "long note's spark fades with the song";
    EXPECT_NEAR(sparks[1].opacity, 1.0f, kEps) << "short note's spark keeps its level";
    rig.Frame(2.95f);
    EXPECT_NEAR(longKey.level, kSparkFloor, kEps) << "and rests at the floor near the note's end";
}

// A key's light at a given song time is the same whatever the frames before it were: a video at 30
// or 60 frames a second and a window that drops frames show the same keyboard.
TEST(KeyLighting, KeysAtASongTimeDoNotDependOnTheFrameRate) {
    auto song = [](ViewRig& rig) {
        SongData& s = rig.NewSong(20);
        ViewRig::AddNote(s, 0, 60, 0.5f, 2.5f, 90);
        ViewRig::AddNote(s, 1, 60, 0.7f, 3.0f, 40);  // the same key: waits for the first to end
        ViewRig::AddNote(s, 0, 64, 1.0f, 1.04f, 127);
        ViewRig::AddNote(s, 1, 67, 0.2f, 4.0f, 64);
        ViewRig::AddNote(s, 0, 72, 1.9f, 2.3f, 100);
    };
    struct Steps {
        const char* name;
        std::vector<float> times;
    };
    auto regular = [](double fps, double end) {
        std::vector<float> t;
        for (int i = 0; i / fps <= end; ++i) t.push_back(static_cast<float>(i / fps));
        return t;
    };
    for (const float end : {1.02f, 2.0f, 2.6f, 3.5f}) {
        std::vector<float> irregular;
        for (float t = 0; t < end; t += 0.013f + 0.05f * std::fabs(std::sin(t * 7.0f)))
            irregular.push_back(t);
        const Steps runs[] = {
            {"60 fps", regular(60, end)}, {"30 fps", regular(30, end)}, {"irregular", irregular}};
        std::vector<KeyRecord> reference;
        for (const Steps& run : runs) {
            SCOPED_TRACE(std::string(run.name) + " to " + std::to_string(end));
            ViewRig rig(1040, 530);
            song(rig);
            for (float t : run.times) rig.Frame(t);
            rig.Frame(end);
            std::vector<KeyRecord> keys(std::begin(rig.view->keys), std::end(rig.view->keys));
            if (reference.empty()) {
                reference = keys;
                continue;
            }
            for (int k = 0; k < kKeyCount; ++k) {
                EXPECT_FLOAT_EQ(keys[k].intensity, reference[k].intensity) << "key " << k + kLowestKey;
                EXPECT_FLOAT_EQ(keys[k].level, reference[k].level) << "key " << k + kLowestKey;
                EXPECT_EQ(keys[k].part, reference[k].part) << "key " << k + kLowestKey;
            }
        }
    }
}

TEST(KeyLighting, ClearedByRefreshAndByAnOverdueNoteEnd) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 72, 1.0f, 1.2f);
    ViewRig::AddNote(song, 0, 60, 1.0f, 3.0f);
    rig.Frame(1.1f);
    EXPECT_GT(rig.view->keys[39].intensity, 0);
    rig.view->ClearLitKeys();
    EXPECT_FLOAT_EQ(rig.view->keys[39].intensity, 0);
    rig.Frame(1.1f);
    EXPECT_GT(rig.view->keys[39].intensity, 0) << "relit by its note in the same frame";

    // A frame seconds late: the short note is no longer in the visited stretch of the index.
    rig.Frame(9.0f);
    EXPECT_FLOAT_EQ(rig.view->keys[72 - kLowestKey].intensity, 0);
    EXPECT_FLOAT_EQ(rig.view->keys[39].intensity, 0);
    EXPECT_TRUE(rig.target.Images(139).empty());
}

TEST(BarGrid, NumbersEveryVisibleBarEvenWhenManyFitTheWindow) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(40);
    for (int i = 0; i < 400; ++i) song.barLines[song.barLineCount++] = 0.1f * static_cast<float>(i);
    rig.Frame(5.0f);
    const NotesView& v = *rig.view;
    EXPECT_GE(v.barCount, 30);
    EXPECT_LE(v.barCount, 31);
    const auto texts = rig.target.Texts();
    ASSERT_EQ(static_cast<int>(texts.size()), v.barCount);
    for (int i = 1; i < v.barCount; ++i) EXPECT_LT(v.barY[i], v.barY[i - 1]) << "in order of bar time";
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(std::stoi(texts[i].text), std::stoi(texts[0].text) + static_cast<int>(i));
        EXPECT_NEAR(texts[i].rect.top, std::floor(v.barY[i]), 1.0f) << "just below its line";
    }
    EXPECT_EQ(v.firstBar + 1, std::stoi(texts[0].text)) << "bars before the frame's time are counted";
    const auto lines = rig.target.Where([&](const Call& c) {
        return c.op == Op::Line && c.colour.r == v.brushes[19].r && c.rect.top == c.rect.bottom;
    });
    EXPECT_EQ(static_cast<int>(lines.size()), v.barCount);
}

TEST(BarGrid, OctaveColumnsSwapFromBarToBar) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(10);
    for (float t : {0.0f, 2.0f, 4.0f}) song.barLines[song.barLineCount++] = t;
    auto shades = [&] {
        return rig.target.Where([&](const Call& c) {
            return c.op == Op::Fill && c.colour.r == rig.view->brushes[16].r && c.colour.a == 1.0f &&
                   c.rect.bottom < rig.view->notesHeight;
        });
    };
    rig.Frame(3.0f);  // one bar line (bar 3 at 4.0 s): two segments
    const auto two = shades();
    ASSERT_EQ(two.size(), 9u) << "four columns fit below the line, five above";
    EXPECT_NEAR(two[0].rect.left, 40, kEps) << "below the line: columns from C1";
    EXPECT_NEAR(two[4].rect.left, 0, kEps) << "above it: shifted one octave";
    EXPECT_NEAR(two[4].rect.right, 39, kEps);
    EXPECT_NEAR(two[8].rect.right, 1039, kEps) << "cut at the view's edge";
    EXPECT_EQ(rig.target.Texts().at(0).text, " 3");

    rig.Frame(6.0f);  // past the last bar line: one segment over the whole notes area
    const auto one = shades();
    ASSERT_EQ(one.size(), 5u);
    EXPECT_NEAR(one[0].rect.left, 0, kEps) << "shaded by the parity of the bar after the last seen";
    EXPECT_NEAR(one[0].rect.top, 0, kEps);
    EXPECT_NEAR(one[0].rect.bottom, rig.view->notesHeight - 1, kEps);
    EXPECT_TRUE(rig.target.Texts().empty());
    const auto cLines = rig.target.Where([&](const Call& c) {
        return c.op == Op::Line && c.colour.r == rig.view->brushes[18].r && c.rect.left == c.rect.right;
    });
    EXPECT_EQ(cLines.size(), 8u);
}

TEST(TimeIndex, VisitsUnsortedNotesAndTheLastSecondsOfAThirtyMinuteSong) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(1800);
    ViewRig::AddNote(song, 0, 40, 100.0f, 101.0f);
    ViewRig::AddNote(song, 0, 41, 5.0f, 6.0f);  // read later, plays earlier
    for (int i = 0; i < 3000; ++i) {
        const float t = 0.5f * static_cast<float>(i);
        ViewRig::AddNote(song, 1, 50 + i % 30, t, t + 0.4f);
    }
    ViewRig::AddNote(song, 0, 88, 1799.0f, 1800.0f);
    ViewRig::AddNote(song, 1, 89, 1790.0f, 1900.0f);  // outlasting the index

    auto drawn = [&](int image) { return !rig.target.Images(image).empty(); };
    rig.Frame(3.0f);
    EXPECT_TRUE(drawn(131));
    rig.Frame(97.5f);
    EXPECT_TRUE(drawn(131)) << "a note read first enters as soon as its start is in the window";
    rig.Frame(1797.5f);
    EXPECT_TRUE(drawn(131)) << "the last note of a 30-minute song";
    EXPECT_NEAR(rig.target.Images(131).back().rect.bottom, rig.view->notesHeight * 0.5f + 32, kEps);
    rig.Frame(1850.0f);
    EXPECT_TRUE(drawn(127)) << "a note beyond the index's last second";
    EXPECT_GT(rig.view->keys[89 - kLowestKey].intensity, 0);
}

// A huge song's index is built on a thread of its own: meanwhile the view draws the notes from
// the song's own store, and from the index once it is done. A song handed over while a build runs
// waits for it, so that the song it reads may then go.
TEST(TimeIndex, AHugeSongsIndexIsBuiltAsideAndTakenWhenDone) {
    ViewRig rig(1040, 530);
    constexpr int32_t kNotes = static_cast<int32_t>(kIndexAsideNotes);
    SongData& song = rig.NewSong(120);
    ViewRig::GiveHandsRoom(song, kNotes);
    for (int32_t i = 0; i < kNotes; ++i) {
        const float start = 0.0001f * static_cast<float>(i);
        ViewRig::AddNote(song, 0, 40 + i % 40, start, start + 0.05f);
    }
    rig.songChanged = false;
    rig.view->SetSong(&song, true);
    rig.Frame(50.0f);
    bool built = rig.view->indexBuilt;
    // The bars of a frame drawn before the index, where one was (the build may win the race).
    std::vector<std::array<float, 4>> fromStore;
    const auto bars = [&] {
        std::vector<std::array<float, 4>> out;
        for (const auto& call : rig.target.Images(131))
            out.push_back({call.rect.left, call.rect.top, call.rect.right, call.rect.bottom});
        return out;
    };
    if (!built) fromStore = bars();
    for (int frame = 0; frame < 2000 && !built; ++frame) {
        EXPECT_FALSE(rig.target.Images(131).empty()) << "the notes before their index, frame " << frame;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        rig.Frame(50.0f);
        built = rig.view->indexBuilt;
    }
    ASSERT_TRUE(built);
    EXPECT_FALSE(rig.target.Images(131).empty()) << "the notes, once their index is taken";
    if (!fromStore.empty()) {
        EXPECT_EQ(fromStore, bars()) << "the same bars from the store as from the index";
    }

    // Handed over again and at once replaced: the song may be changed as soon as SetSong returns.
    rig.view->SetSong(&song, true);
    rig.view->SetSong(nullptr);
    song.parts[0].noteCount = 0;
    rig.Frame(50.0f);
    EXPECT_TRUE(rig.view->indexBuilt);
    EXPECT_TRUE(rig.target.Images(131).empty());

    // A song below the size is indexed at once, aside or not.
    SongData& small = rig.NewSong(10);
    ViewRig::AddNote(small, 0, 60, 1.0f, 2.0f);
    rig.songChanged = false;
    rig.view->SetSong(&small, true);
    EXPECT_TRUE(rig.view->indexBuilt);
}

TEST(TimeIndex, ANewSongIsShownOnlyOnceItIsHandedToTheView) {
    ViewRig rig(1040, 530);
    SongData& first = rig.NewSong(100);
    for (int i = 0; i < 500; ++i)
        ViewRig::AddNote(first, 0, 60, 0.2f * static_cast<float>(i), 0.2f * static_cast<float>(i) + 0.1f);
    rig.Frame(50.0f);
    ASSERT_TRUE(rig.view->indexBuilt);

    // The controller replaces the song; the view hears of it only through SetSong.
    rig.view->SetSong(nullptr);
    SongData& second = rig.NewSong(10);
    ViewRig::AddNote(second, 0, 72, 1.0f, 2.0f);
    rig.songChanged = false;
    rig.Frame(1.5f);
    EXPECT_TRUE(rig.target.Images(131).empty()) << "no notes of a song the view has not been given";
    EXPECT_TRUE(rig.target.Where([](const Call& c) { return c.op == Op::Fill; }).empty()) << "no grid";

    rig.view->SetSong(&second);
    rig.Frame(1.5f);
    EXPECT_EQ(rig.target.Images(131).size(), 2u) << "top cap and middle; the rest is under the keyboard";
    rig.Frame(50.0f);
    EXPECT_TRUE(rig.target.Images(131).empty()) << "nothing left of the longer song";
}

struct OverlayRig : ViewRig {
    OverlayRig() : ViewRig(1536, 832) {
        controller.controls.sceneWidth = 1536;
        controller.controls.sceneHeight = 832;
        controller.controls.fullView = true;
        controller.controls.overlayActive = true;
        view->SetRect(0, 0, 1536, 832);
        NewSong(60);
    }
    void Draw(int x, int y, bool down, float secondsSinceActivity) {
        controller.controls.idleSeconds = secondsSinceActivity;
        controller.mousePoint = {x, y};
        view->mouseDown = down;
        target.calls.clear();
        request = view->DrawOverlay(controller.controls, Shown(30.0f));
    }
    PanelRequest request;
};

TEST(Overlay, ThreeButtonsUnderTheMiddleWhileTheMouseWasRecentlyMoved) {
    OverlayRig rig;
    rig.Draw(0, 0, false, 0.5f);
    EXPECT_TRUE(rig.controller.controls.overlayActive);
    const RectF& rewind = rig.controller.controls.overlayButtons[0];
    EXPECT_FLOAT_EQ(rewind.left, 678);
    EXPECT_FLOAT_EQ(rewind.top, 436);
    EXPECT_FLOAT_EQ(rewind.bottom, 476);
    EXPECT_FLOAT_EQ(rig.controller.controls.overlayButtons[2].right, 868);
    EXPECT_EQ(rig.controller.controls.pendingIntent, PanelIntent::None);

    struct Press {
        int x;
        PlayState playState;
        PanelIntent pending;
    };
    const Press presses[] = {{700, PlayState::Idle, PanelIntent::Rewind},
                             {770, PlayState::Stopped, PanelIntent::Play},
                             {770, PlayState::Playing, PanelIntent::Pause},
                             {840, PlayState::Playing, PanelIntent::Stop}};
    for (const Press& p : presses) {
        rig.controller.controls.pendingIntent = PanelIntent::None;
        // Without a player the transport stops and starts in name only, which is all the view sees.
        if (p.playState == PlayState::Stopped) rig.controller.transport.Stop();
        if (p.playState == PlayState::Playing) rig.controller.transport.Start();
        ASSERT_EQ(rig.controller.transport.Coarse(), p.playState);
        rig.Draw(p.x, 450, true, 0.9f);
        EXPECT_EQ(rig.controller.controls.pendingIntent, p.pending) << "x " << p.x;
        const auto hover =
            rig.target.Where([&](const Call& c) { return c.colour.b == rig.view->brushes[6].b; });
        ASSERT_FALSE(hover.empty());
        EXPECT_GE(hover[0].rect.left, 680) << "a pressed icon moves 2 pixels";
    }
    rig.Draw(770, 450, false, 0.9f);
    EXPECT_EQ(rig.target.Where([](const Call& c) { return c.op == Op::Fill && c.colour.a == 1.0f; }).size(),
              6u)
        << "bar, two pause bars, stop, and the seek bar's track and played part";

    rig.controller.controls.pendingIntent = PanelIntent::None;
    rig.controller.shared.command = Command::Play;
    rig.Draw(770, 450, true, 0.9f);
    EXPECT_EQ(rig.controller.controls.pendingIntent, PanelIntent::None)
        << "not armed while a command is pending";
    rig.controller.shared.command = Command::None;

    // A press on the progress bar asks to seek to the place under it, ends included.
    const RectF bar = rig.controller.controls.overlayProgress;
    struct Seek {
        float x;
        double seconds;
    };
    for (const Seek& k :
         {Seek{bar.left, 0.0}, Seek{(bar.left + bar.right) / 2, 30.0}, Seek{bar.right, 60.0}}) {
        rig.Draw(static_cast<int>(k.x), static_cast<int>(bar.top + 4), true, 0.9f);
        EXPECT_EQ(rig.request.intent, PanelIntent::SeekTo) << "x " << k.x;
        EXPECT_NEAR(rig.request.seconds, k.seconds, 0.3) << "x " << k.x;
    }
    rig.Draw(static_cast<int>(bar.left + 20), static_cast<int>(bar.top + 4), false, 0.9f);
    EXPECT_EQ(rig.request.intent, PanelIntent::None) << "hovering does not seek";

    rig.Draw(770, 450, true, 1.1f);
    EXPECT_FALSE(rig.controller.controls.overlayActive) << "hidden a second after the last movement";
    EXPECT_TRUE(rig.target.calls.empty());

    rig.controller.controls.overlayActive = true;
    rig.controller.controls.fullView = false;
    rig.Draw(770, 450, true, 0.1f);
    EXPECT_FALSE(rig.controller.controls.overlayActive) << "never in normal view";
}

TEST(ViewToggle, PressInsideTheBoxRequestsTheToggle) {
    struct Case {
        int x, y;
        bool down, fullView;
        bool requested;
        size_t fills, outlines;
    };
    const Case cases[] = {
        {1010, 20, true, false, true, 0, 1},  {1030, 30, true, false, true, 0, 1},  // edges count
        {1031, 20, true, false, false, 0, 1}, {1020, 20, false, false, false, 0, 1},
        {1020, 20, true, true, true, 4, 1},
    };
    for (const Case& c : cases) {
        ViewRig rig(1040, 530);
        rig.controller.mousePoint = {c.x, c.y};
        rig.controller.controls.fullView = c.fullView;
        rig.view->mouseDown = c.down;
        rig.view->DrawViewToggle(rig.controller.controls);
        SCOPED_TRACE("mouse " + std::to_string(c.x) + "," + std::to_string(c.y));
        EXPECT_EQ(rig.controller.controls.toggleRequested, c.requested);
        EXPECT_EQ(rig.target.Where([](const Call& k) { return k.op == Op::Fill; }).size(), c.fills);
        const auto outline = rig.target.Where([](const Call& k) { return k.op == Op::Outline; });
        ASSERT_EQ(outline.size(), c.outlines);
        EXPECT_FLOAT_EQ(outline[0].width, 2.0f);
        EXPECT_FLOAT_EQ(outline[0].rect.bottom, 30);
        const bool over = c.x >= 1010 && c.x <= 1030;
        EXPECT_FLOAT_EQ(outline[0].colour.b, rig.view->brushes[over ? 6 : 4].b);
    }
}

}  // namespace

// A song read by voices: each voice's notes and lit keys come in its colour's images, a colour index
// past the set wraps round, and a part on the percussion channel is neither drawn nor lit.
TEST(Voices, NotesAndKeysTakeTheirVoicesColoursAndPercussionIsNotDrawn) {
    struct VoiceCase {
        int colour, channel, key;
        int body, lit;  // expected images; -1 when nothing may be drawn
    };
    const VoiceCase cases[] = {
        {0, 0, 60, 131, 139},
        {1, 1, 62, 127, 138},
        {2, 2, 64, res::VoiceImageId(2, res::VoiceBodyWhite), res::VoiceImageId(2, res::VoiceLitWhiteKeys)},
        {9, 3, 66, res::VoiceImageId(9, res::VoiceBodyBlack), res::VoiceImageId(9, res::VoiceLitBlackKeys)},
        {res::kNoteColourCount + 3, 4, 69, res::VoiceImageId(3, res::VoiceBodyWhite),
         res::VoiceImageId(3, res::VoiceLitWhiteKeys)},
        {4, kPercussionChannel, 84, -1, -1},
    };
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    song.reading = ReadingVoices;
    ViewRig::GiveParts(song, static_cast<int>(std::size(cases)), 4);
    for (size_t p = 0; p < std::size(cases); ++p) {
        song.parts[p].colour = cases[p].colour;
        song.parts[p].channel = cases[p].channel;
        ViewRig::AddNote(song, static_cast<int>(p), cases[p].key, 10.0f, 11.0f, 100);
    }
    rig.Frame(9.0f);
    rig.Frame(10.5f);
    for (const VoiceCase& c : cases) {
        SCOPED_TRACE("colour " + std::to_string(c.colour) + " channel " + std::to_string(c.channel));
        const KeyRecord& key = rig.view->keys[c.key - kLowestKey];
        if (c.body < 0) {
            EXPECT_FLOAT_EQ(key.intensity, 0) << "percussion lit a key";
            continue;
        }
        const auto bodies = rig.target.Where([&](const Call& k) {
            return k.op == Op::Image && k.imageId == c.body && k.rect.left < key.rect.right &&
                   k.rect.right > key.rect.left;
        });
        EXPECT_FALSE(bodies.empty()) << "no note body in its colour over key " << c.key;
        const auto lit = rig.target.Images(c.lit);
        const bool found = std::any_of(lit.begin(), lit.end(), [&](const Call& k) {
            return k.rect.left == key.rect.left && k.source.left == key.source.left;
        });
        EXPECT_TRUE(found) << "key " << c.key << " not lit in its colour";
    }
    const int percussionKey = 84 - kLowestKey;
    const auto anything = rig.target.Where([&](const Call& k) {
        return k.op == Op::Image && k.rect.left < rig.view->keys[percussionKey].rect.right &&
               k.rect.right > rig.view->keys[percussionKey].rect.left &&
               k.rect.bottom <= rig.view->notesHeight;
    });
    EXPECT_TRUE(anything.empty()) << "percussion drawn above its key";
}

namespace {

// Two voices on one key: the key is lit by the first, and the bar falling onto it is that one's too.
TEST(Voices, ADoubledKeyShowsTheColourOfTheBarThatLightsIt) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    song.reading = ReadingVoices;
    ViewRig::GiveParts(song, 2, 4);
    song.parts[0].colour = 2;
    song.parts[1].colour = 5;
    song.parts[0].channel = 0;
    song.parts[1].channel = 1;
    ViewRig::AddNote(song, 0, 64, 10.0f, 12.0f, 100);
    ViewRig::AddNote(song, 1, 64, 10.0f, 12.0f, 100);
    rig.Frame(10.5f);
    const KeyRecord& key = rig.view->keys[64 - kLowestKey];
    ASSERT_GT(key.intensity, 0);
    EXPECT_EQ(key.colour, 2) << "lit by the first voice";
    const int bodies[2] = {res::VoiceImageId(2, res::VoiceBodyWhite),
                           res::VoiceImageId(5, res::VoiceBodyWhite)};
    const auto drawn = rig.target.Where([&](const Call& c) {
        return c.op == Op::Image && (c.imageId == bodies[0] || c.imageId == bodies[1]) &&
               c.rect.left < key.rect.right && c.rect.right > key.rect.left;
    });
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(drawn.back().imageId, bodies[0]) << "the lighting voice's bar is drawn on top";
}

}  // namespace

// A key far more crowded than a row a note: its notes are drawn as runs, one bar for each stretch
// without a gap of a few rows, however many notes there are; a sparse key beside it keeps every
// note.
TEST(CrowdedKey, NotesWithinAFewRowsOfEachOtherAreDrawnAsOneBar) {
    struct Case {
        const char* name;
        float gapAt;  // a gap of `gap` s in the stream at this time; 0 for none
        float gap;
        bool stacked;    // every note starts at the same time, each ending a little later
        size_t sprites;  // body sprites drawn on the crowded key
    };
    const Case cases[] = {
        {"one unbroken stream", 0, 0, false, 1},
        {"a stream with a gap of 13 rows", 10.5f, 0.1f, false, 2},
        // Crowded bars a row or two apart would each cost a sprite's 65 rows for a thin stripe.
        {"a stream with a gap of 2 rows", 10.5f, 0.015f, false, 1},
        {"notes stacked on one start", 0, 0, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewRig rig(1040, 530);  // notes area 400 high: a row is 7.5 ms
        SongData& song = rig.NewSong(20);
        float lowest = 100, highest = 0;
        for (int i = 0; i < 10000; ++i) {
            const float step = 0.0001f * static_cast<float>(i);
            float start = c.stacked ? 10.0f : 10.0f + step;
            if (c.gapAt > 0 && start >= c.gapAt) start += c.gap;
            const float end = c.stacked ? 10.0f + step + 0.0001f : start + 0.0001f;
            ViewRig::AddNote(song, 0, 60, start, end);
            lowest = std::min(lowest, start);
            highest = std::max(highest, end);
        }
        ViewRig::AddNote(song, 1, 72, 10.5f, 11.0f);  // sparse, and legato: two bars
        ViewRig::AddNote(song, 1, 72, 11.0f, 11.5f);
        rig.Frame(9.0f);
        const KeyRecord& key = rig.view->keys[60 - kLowestKey];
        auto onKey = [&](int image, const KeyRecord& k) {
            return rig.target.Where([&](const Call& call) {
                return call.op == Op::Image && call.imageId == image && call.rect.left <= k.rect.left &&
                       call.rect.right >= k.rect.right;
            });
        };
        const std::vector<Call> body = onKey(131, key);
        const auto topCaps =
            std::count_if(body.begin(), body.end(), [](const Call& call) { return call.source.top == 0; });
        EXPECT_EQ(static_cast<size_t>(topCaps), c.sprites);
        // The bars span the notes: from the latest end down to the first start.
        const float h = rig.view->notesHeight;
        auto y = [&](float t) { return (12.0f - t) * h / 3.0f; };
        float top = h, bottom = 0;
        for (const Call& call : body) {
            top = std::min(top, call.rect.top);
            bottom = std::max(bottom, call.rect.bottom);
        }
        EXPECT_NEAR(top, y(highest) - 32, 0.01f);
        EXPECT_NEAR(bottom, y(lowest) + 32, 0.01f);
        EXPECT_EQ(onKey(128, rig.view->keys[72 - kLowestKey]).size(), 6u) << "two bars on the sparse key";

        rig.Frame(10.00005f);
        EXPECT_GT(key.intensity, 0) << "a sounding note of the crowded key lights it";
    }
}

// Runs taken in block by block must come out as the notes joined one by one would: every note in
// the window lies inside a run of its key, and two runs of a key are parted by more than a row.
// The gaps fall anywhere, inside blocks of the key's index and on their edges alike.
TEST(CrowdedKey, RunsCoverEveryNoteAndKeepTheirGaps) {
    for (const float gap : {0.004f, 0.02f, 0.05f, 0.2f}) {
        SCOPED_TRACE(gap);
        ViewRig rig(1040, 530);  // notes area 400 high: a row is 7.5 ms
        SongData& song = rig.NewSong(20);
        std::vector<std::pair<float, float>> notes;
        uint32_t seed = 12345;
        auto next = [&] {
            seed = seed * 1664525u + 1013904223u;
            return static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
        };
        float t = 9.5f;
        for (int i = 0; i < 6000 && t < 12.5f; ++i) {
            // Mostly a dense stream; now and then a gap, and now and then a long note over it.
            t += next() < 0.02f ? gap * (0.5f + next()) : 0.0004f * next();
            const float length = next() < 0.01f ? 0.05f : 0.0002f;
            notes.emplace_back(t, t + length);
            ViewRig::AddNote(song, 0, 60, t, t + length);
        }
        rig.Frame(10.0f);
        const NotesView& view = *rig.view;
        std::vector<std::pair<float, float>> runs;
        for (const NotesView::ShownBar& b : view.shownBars) {
            ASSERT_TRUE(b.run) << "the key is crowded";
            runs.emplace_back(b.start, b.end);
        }
        ASSERT_FALSE(runs.empty());
        std::sort(runs.begin(), runs.end());
        const float row = view.lookAhead / view.notesHeight;
        for (size_t r = 1; r < runs.size(); ++r)
            EXPECT_GT(runs[r].first, runs[r - 1].second + row) << "run " << r << " joins the one before";
        for (const auto& [start, end] : notes) {
            if (end < view.currentTime || start > view.topTime) continue;
            const bool inside = std::any_of(
                runs.begin(), runs.end(),
                [&, s = start, e = end](const auto& run) { return run.first <= s && e <= run.second; });
            EXPECT_TRUE(inside) << "the note " << start << " to " << end << " lies in no run";
        }
    }
}

TEST(CrowdedKey, ANoteShorterThanARowStillShows) {
    ViewRig rig(1040, 530);
    SongData& song = rig.NewSong(20);
    ViewRig::AddNote(song, 0, 60, 10.0f, 10.0001f);
    rig.Frame(9.0f);
    EXPECT_FALSE(rig.target.Images(131).empty()) << "as a sprite";

    // In flat colours, a row tall in its colour, not hidden under the dark edge of longer bars.
    static constexpr uint32_t kFlat[res::kNoteColourCount] = {0xFF112233};
    rig.controller.viewOptions.flatNoteColours = kFlat;
    rig.Frame(9.0f);
    const auto bars = rig.target.Where([](const Call& c) {
        return c.op == Op::Fill && c.colour.r == 0x11 / 255.0f && c.colour.b == 0x33 / 255.0f;
    });
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_GE(bars[0].rect.bottom - bars[0].rect.top, 1.0f);
    EXPECT_TRUE(rig.target.Where([](const Call& c) { return c.op == Op::Outline; }).empty());
}
