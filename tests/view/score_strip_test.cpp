// The score strip through its interface and a recording target: which system stands at a time and
// where the line runs on it, what a point of the music stands for, the notes lit, the loop, and
// that every mark of the music is a glyph of the music font.
#include "view/score_strip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "midi/note_timeline.h"
#include "notation/page_engraving.h"
#include "smf_builder.h"
#include "tests/view/recording_target.h"

namespace {

constexpr int Q = 480;  // 120 quarters a minute: a quarter is half a second

std::string Character(Glyph g) {
    const char32_t c = GlyphCharacter(g);
    std::string s;
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
    return s;
}

struct StripRig {
    viewtest::RecordingTarget target{1200, 700};
    GraphicsDevice device;
    PointI mouse{0, 0};
    SongData song;
    TempoMap tempo;
    smf::Bytes bytes;
    ScoreStrip strip;

    // Sixteen bars of 4/4: the right hand's quarters climbing C major, the left hand's whole notes.
    // With `violin`, the upper line is a violin's and the song is read by voices; `up` octaves
    // higher, the right hand climbs far over its staff.
    explicit StripRig(bool violin = false, int up = 0) {
        using namespace smf;
        // Channels past the hands' make voices of the parts.
        const int upper = violin ? 3 : 0, lower = violin ? 4 : 1;
        Bytes right = violin ? Program(0, upper, 40) : Bytes{}, left;
        for (int i = 0; i < 64; ++i) {
            const int key = 60 + 12 * up + (i % 8) * 2 - (i % 8 > 2 ? 1 : 0);
            const Bytes on = On(0, upper, key, 90);
            right.insert(right.end(), on.begin(), on.end());
            const Bytes off = Off(Q, upper, key);
            right.insert(right.end(), off.begin(), off.end());
        }
        for (int i = 0; i < 16; ++i) {
            const Bytes on = On(0, lower, 48, 80), off = Off(4 * Q, lower, 48);
            left.insert(left.end(), on.begin(), on.end());
            left.insert(left.end(), off.begin(), off.end());
        }
        const Bytes end = EndOfTrack();
        right.insert(right.end(), end.begin(), end.end());
        left.insert(left.end(), end.begin(), end.end());
        bytes = Cat({Header(Q, 1, 3), Track({Tempo(0, 500000), EndOfTrack()}), Chunk("MTrk", right),
                     Chunk("MTrk", left)});
        if (!ParseSong(song, bytes.data(), bytes.size(), &tempo)) std::abort();
        device.target = &target;
        strip.palette = &kDefaultPalette;
        strip.Init(&device, &mouse);
        strip.CreateBrushes();
        strip.SetRect(20, 10, 820, 230);
        strip.SetSong(&song, &tempo, bytes.data(), bytes.size());
    }

    void Draw(double seconds, double loopStart = -1, double loopEnd = -1) {
        SongView view;
        view.song = &song;
        view.songLoaded = view.songReady = true;
        view.play = PlayView::Playing;
        view.songTime = static_cast<float>(seconds);
        view.loopStart = loopStart;
        view.loopEnd = loopEnd;
        target.calls.clear();
        strip.Draw(view);
    }
    float MiddleY() const { return (strip.top + strip.bottom) / 2; }
};

TEST(ScoreStrip, SystemsTurnWithTheSongAndTheLineFollowsIt) {
    StripRig r;
    r.Draw(0);
    const auto& systems = r.strip.Systems();
    ASSERT_GE(systems.size(), 3u) << "sixteen bars do not fit on one line 800 units wide";
    EXPECT_EQ(r.strip.Layout().staves.size(), 2u) << "two hands make a grand staff";
    int64_t tick = 0;
    for (const ScoreStrip::System& s : systems) {
        EXPECT_EQ(s.startTick, tick) << "systems follow each other without a gap";
        tick = s.endTick;
    }
    EXPECT_EQ(tick, 16 * 4 * Q);

    // At each beat the system holding it is drawn, and the line moves right within it.
    int lastSystem = 0;
    float lastX = -1;
    for (int beat = 0; beat < 64; ++beat) {
        const double seconds = beat * 0.5;
        r.Draw(seconds);
        const int shown = r.strip.ShownSystem();
        const ScoreStrip::System& s = systems[static_cast<size_t>(shown)];
        EXPECT_GE(beat * Q, s.startTick);
        EXPECT_LT(beat * Q, s.endTick);
        const float x = r.strip.CursorX(seconds);
        if (shown == lastSystem) {
            EXPECT_GT(x, lastX) << "beat " << beat;
        }
        EXPECT_GE(shown, lastSystem);
        lastSystem = shown;
        lastX = x;
        // A point on the line is the moment it stands for, to within the width of a unit.
        EXPECT_NEAR(r.strip.SecondsAt(x, r.MiddleY()), seconds, 0.02) << "beat " << beat;
    }
    EXPECT_EQ(lastSystem, static_cast<int>(systems.size()) - 1);
}

// A song of voices shows the parts chosen, a staff each, its first piano part until one is; a song
// of two hands keeps its grand staff whatever is chosen.
TEST(ScoreStrip, AVoicesSongShowsThePartsChosen) {
    StripRig r(true);
    ASSERT_EQ(r.song.reading, ReadingVoices);
    const auto shownParts = [&](std::vector<int32_t> chosen) {
        r.strip.SetParts(chosen);
        r.Draw(1);
        EXPECT_FALSE(r.strip.Systems().empty());
        std::vector<int32_t> parts;
        for (const ScoreStaff& staff : r.strip.Layout().staves) parts.push_back(staff.part);
        EXPECT_EQ(r.strip.StavesAsked(), parts.size());
        return parts;
    };
    int32_t violin = 0;
    while (violin < r.song.partCount && r.song.parts[violin].program != 40) ++violin;
    ASSERT_LT(violin, r.song.partCount);
    const int32_t piano = 1 - violin;
    using Parts = std::vector<int32_t>;
    EXPECT_EQ(shownParts({}), Parts{piano});
    EXPECT_EQ(shownParts({violin}), Parts{violin});
    EXPECT_EQ(r.strip.Layout().measures[0].staves[0].clef, Clef::Treble);
    EXPECT_EQ(shownParts({piano}), Parts{piano});
    EXPECT_EQ(r.strip.Layout().measures[0].staves[0].clef, Clef::Bass);

    // Both: a staff each with its own clef, each named beside it on the system shown.
    EXPECT_EQ(shownParts({piano, violin}), (Parts{std::min(piano, violin), std::max(piano, violin)}));
    EXPECT_FALSE(r.strip.Layout().grandStaff);
    const std::vector<ScoreStaff>& staves = r.strip.Layout().staves;
    for (size_t i = 0; i < staves.size(); ++i) {
        EXPECT_EQ(r.strip.Layout().measures[0].staves[i].clef,
                  staves[i].part == violin ? Clef::Treble : Clef::Bass);
        bool named = false;
        for (const viewtest::Call& c : r.target.Texts()) named |= c.text == staves[i].name && !c.format.music;
        EXPECT_TRUE(named) << staves[i].name;
    }

    StripRig hands;
    hands.strip.SetParts({1});
    hands.Draw(1);
    EXPECT_EQ(hands.strip.Layout().staves.size(), 2u);
    EXPECT_EQ(hands.strip.StavesAsked(), 2u);
}

// The strip grows with its staves, up to a share of the falling notes' room; a strip too low for
// every staff at a readable size shows the first that fit.
TEST(ScoreStrip, MoreStavesTakeMoreRoomWithinALimit) {
    for (const float notes : {300.0f, 700.0f, 1400.0f}) {
        SCOPED_TRACE(notes);
        EXPECT_EQ(ScoreStripHeight(notes, 1), ScoreStripHeight(notes, 2));
        float last = ScoreStripHeight(notes, 2);
        for (size_t staves = 3; staves <= 12; ++staves) {
            const float h = ScoreStripHeight(notes, staves);
            EXPECT_GE(h, last);
            EXPECT_LE(h, std::round(notes / 2)) << "the falling notes keep at least half their room";
            last = h;
        }
        EXPECT_GT(ScoreStripHeight(notes, 3), ScoreStripHeight(notes, 2));
    }

    StripRig r(true);
    r.strip.SetParts({0, 1});
    const auto staffLines = [&] {  // the long level lines of the system shown: five a staff
        for (int frame = 0; frame < 20; ++frame) r.Draw(1);  // a new size is engraved once it holds
        const auto& s = r.strip.Systems()[static_cast<size_t>(r.strip.ShownSystem())];
        int lines = 0;
        for (const LineMark& l : s.lines) lines += l.y1 == l.y2 && l.x2 - l.x1 > 200;
        return lines;
    };
    EXPECT_EQ(staffLines(), 10);
    r.strip.SetRect(20, 10, 820, 40);
    EXPECT_EQ(staffLines(), 5);
}

TEST(ScoreStrip, PointsOutsideTheMusicStandForNothing) {
    StripRig r;
    EXPECT_LT(r.strip.SecondsAt(400, 100), 0) << "nothing drawn yet";
    r.Draw(1);
    EXPECT_LT(r.strip.SecondsAt(r.strip.left - 1, r.MiddleY()), 0);
    EXPECT_LT(r.strip.SecondsAt(400, r.strip.bottom + 1), 0);
    EXPECT_LT(r.strip.SecondsAt(r.strip.left + 2, r.MiddleY()), 0) << "the clef is not a moment";
    r.strip.SetSong(nullptr, nullptr, nullptr, 0);
    r.Draw(1);
    EXPECT_LT(r.strip.SecondsAt(400, r.MiddleY()), 0);
}

TEST(ScoreStrip, MusicIsDrawnInTheMusicFontAndTheSoundingNotesLit) {
    StripRig r;
    r.Draw(1.25);  // the third quarter of bar 1 sounds, and the whole note under it
    const std::string black = Character(Glyph::NoteheadBlack), whole = Character(Glyph::NoteheadWhole);
    int blackHeads = 0, lit = 0;
    for (const viewtest::Call& c : r.target.Texts()) {
        if (c.text == black || c.text == whole) {
            EXPECT_TRUE(c.format.music) << "a head in the interface's face";
            const bool ink = c.colour.r < 0.2f && c.colour.g < 0.2f;
            if (c.text == black && ink) ++blackHeads;
            if (!ink) ++lit;
        }
        if (c.format.music) {
            EXPECT_GE(c.rect.left, r.strip.left);
            EXPECT_LT(c.rect.left, r.strip.right);
        }
    }
    const auto& s = r.strip.Systems()[0];
    EXPECT_EQ(blackHeads, 4 * static_cast<int>(s.measures.size())) << "the first system's quarters";
    EXPECT_EQ(lit, 2) << "the sounding quarter and whole note, over their black selves";
}

// A right hand three octaves up is written under an octave line: its label in the interface's
// face and its dashes over the staff, on every system it runs through.
TEST(ScoreStrip, FarNotesAreWrittenUnderAnOctaveLine) {
    StripRig r(false, 3);
    r.Draw(0);
    const auto& s = r.strip.Systems()[0];
    ASSERT_EQ(s.octaves.size(), 1u);
    std::vector<viewtest::Call> labels = r.target.Where([](const viewtest::Call& c) {
        return c.op == viewtest::Op::Text && (c.text == "8va" || c.text == "15ma");
    });
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_FALSE(labels[0].format.music);
    const float y = (labels[0].rect.top + labels[0].rect.bottom) / 2;
    EXPECT_LT(y, r.strip.top + s.staffTop - s.bandTop) << "over the staff";
    EXPECT_GT(y, r.strip.top);
    const auto dashes = r.target.Where([&](const viewtest::Call& c) {
        return c.op == viewtest::Op::Line && c.rect.top == c.rect.bottom && std::abs(c.rect.top - y) < 1.0f;
    });
    EXPECT_GT(dashes.size(), 3u);
}

TEST(ScoreStrip, TheLoopIsShadedOnlyWhereItMeetsTheSystem) {
    StripRig r;
    r.Draw(0);
    const auto& first = r.strip.Systems()[0];
    const double systemEnd = static_cast<double>(first.endTick) / Q * 0.5;
    const auto bands = [&] {
        return r.target.Where(
            [](const viewtest::Call& c) { return c.op == viewtest::Op::Fill && c.colour.a < 0.5f; });
    };
    r.Draw(0.5, 1.0, 3.0);
    auto shaded = bands();
    ASSERT_EQ(shaded.size(), 1u);
    EXPECT_NEAR(shaded[0].rect.left, r.strip.CursorX(1.0), 0.5);
    EXPECT_NEAR(shaded[0].rect.right, r.strip.CursorX(3.0), 0.5);
    r.Draw(0.5, systemEnd + 1, systemEnd + 3);
    EXPECT_TRUE(bands().empty()) << "a loop on a later line is not shown on this one";
}

}  // namespace
