// The time bar: its guide lines, the waveform column by column, the play position, the 30-second
// labels with their spacing rules and the total length.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/session_steps.h"
#include "tests/view/view_rig.h"

namespace {

using viewtest::Call;
using viewtest::Op;
using viewtest::ViewRig;

struct BarRig : ViewRig {
    // A bar from x = 0 to x = right, 100 pixels high, under a notes view.
    explicit BarRig(float right) : ViewRig(right + 200, 700) { timeBar->SetRect(0, 600, right, 699); }
    void Draw(float songTime) {
        target.calls.clear();
        timeBar->Draw(Shown(songTime));
    }
    std::vector<Call> Lines(int paletteIndex) const {
        const ColourF c = timeBar->brushes[paletteIndex];
        return target.Where([c](const Call& k) {
            return k.op == Op::Line && k.colour.r == c.r && k.colour.g == c.g && k.colour.b == c.b;
        });
    }
};

struct LabelCase {
    double duration;
    float right;
    std::vector<std::string> labels;
    std::vector<int> labelLefts;
    std::string total;
};

TEST(TimeBar, LabelsAtARoundStepKeepApartAndAwayFromTheEnd) {
    const LabelCase cases[] = {
        {25.0, 400, {"0:00", "0:10"}, {0, 110}, "00:25.0"},
        {41.0, 400, {"0:00", "0:15", "0:30"}, {0, 96, 243}, "00:41.0"},
        {45.06, 400, {"0:00", "0:15", "0:30"}, {0, 83, 216}, "00:45.0"},
        {86.0, 400, {"0:00", "0:30", "1:00"}, {0, 89, 229}, "01:26.0"},
        {600.0, 400, {"0:00", "5:00"}, {0, 150}, "10:00.0"},
        {3599.96,
         1331,
         {"0:00", "5:00", "10:00", "15:00", "20:00", "25:00", "30:00", "35:00", "40:00", "45:00", "50:00",
          "55:00"},
         {0, 61, 172, 283, 394, 505, 616, 727, 838, 949, 1060, 1171},
         "59:59.9"},
    };
    for (const LabelCase& c : cases) {
        SCOPED_TRACE("duration " + std::to_string(c.duration));
        BarRig rig(c.right);
        rig.NewSong(c.duration);
        rig.Draw(-1);
        const auto texts = rig.target.Texts();
        ASSERT_EQ(texts.size(), c.labels.size() + 1);
        for (size_t i = 0; i < c.labels.size(); ++i) {
            EXPECT_EQ(texts[i].text, c.labels[i]);
            EXPECT_FLOAT_EQ(texts[i].rect.left, static_cast<float>(c.labelLefts[i]));
            EXPECT_FLOAT_EQ(texts[i].rect.top, 649.5f - 0.5f) << "from the middle line down";
            EXPECT_EQ(texts[i].format.align,
                      i == 0 ? platform::TextAlign::Leading : platform::TextAlign::Centre);
        }
        EXPECT_EQ(rig.Lines(10).size(), 1 + c.labels.size()) << "centre line and one tick per label";
        const auto plates =
            rig.target.Where([](const Call& k) { return k.op == Op::Fill && k.colour.a < 1.0f; });
        EXPECT_EQ(plates.size(), c.labels.size()) << "a plate behind every label";
        const Call& total = texts.back();
        EXPECT_EQ(total.text, c.total);
        EXPECT_EQ(total.format.align, platform::TextAlign::Trailing);
        EXPECT_FLOAT_EQ(total.rect.right, c.right);
        EXPECT_EQ(rig.device.textSmall.align, platform::TextAlign::Centre) << "textSmall is left centred";
    }
}

TEST(TimeBar, MarkStepGrowsWithTheSongAndShrinksWithTheWidth) {
    const struct {
        double duration;
        float width;
        double step;
    } cases[] = {{10, 1000, 5},   {41, 400, 15},     {86, 400, 30},     {600, 1331, 60},
                 {600, 400, 300}, {3600, 1331, 300}, {3600, 100, 3600}, {1e6, 100, 3600}};
    for (const auto& c : cases)
        EXPECT_EQ(TimeMarkStep(c.duration, c.width), c.step) << c.duration << " s on " << c.width;
}

TEST(TimeBar, OnlyGuideLinesWithoutASong) {
    BarRig rig(400);
    rig.Draw(-1);
    ASSERT_EQ(rig.target.calls.size(), 3u);
    const float ys[] = {649.5f, 624.75f, 674.25f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(rig.target.calls[i].rect.top, ys[i]);
        EXPECT_FLOAT_EQ(rig.target.calls[i].rect.right, 400);
    }
}

// While the song renders it already plays: the waveform so far is drawn, the part still to come is
// veiled behind a line where the render stands, and a seek past that line says that it waits.
TEST(TimeBar, ARenderStillRunningVeilsWhatIsToCome) {
    BarRig rig(400);
    rig.NewSong(30).duration = 30;
    BringTo(rig.controller.shared.session, SongStage::Rendering);
    SongView view = rig.Shown(5);
    view.renderedShare = 0.25f;
    rig.target.calls.clear();
    rig.timeBar->Draw(view);
    const auto veils = rig.target.Where([](const Call& k) { return k.op == Op::Fill && k.rect.top == 600; });
    ASSERT_EQ(veils.size(), 1u);
    EXPECT_FLOAT_EQ(veils[0].rect.left, 100.25f);
    EXPECT_TRUE(rig.target.Texts().size() >= 1);
    for (const auto& text : rig.target.Texts()) EXPECT_NE(text.text, "waiting for the render");

    view.waitingForRender = true;
    rig.target.calls.clear();
    rig.timeBar->Draw(view);
    const auto texts = rig.target.Texts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                            [](const Call& k) { return k.text == "waiting for the render"; }));
    // However wide the text layer sets the words, they get the room and the plate behind them.
    rig.target.charWidth = 9;
    rig.target.calls.clear();
    rig.timeBar->Draw(view);
    const auto waiting = rig.target.Where([](const Call& k) { return k.text == "waiting for the render"; });
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_GE(waiting[0].rect.right - waiting[0].rect.left, 9.0f * 22);
    EXPECT_LE(waiting[0].rect.right, 400.0f) << "inside the bar";
    rig.target.charWidth = 0;

    view.renderedShare = 1.0f;
    view.waitingForRender = false;
    rig.target.calls.clear();
    rig.timeBar->Draw(view);
    EXPECT_TRUE(rig.target.Where([](const Call& k) { return k.op == Op::Fill && k.rect.top == 600; }).empty())
        << "nothing veiled once rendered";
}

TEST(TimeBar, PlayPositionFollowsTheSongTimeWithinTheBar) {
    BarRig rig(400);
    rig.NewSong(100);
    const struct { float songTime, x; } cases[] = {{-1, 0}, {0, 0}, {25, 100}, {100, 400}, {101, 400}};
    for (const auto& c : cases) {
        rig.Draw(c.songTime);
        const auto line = rig.Lines(8);
        ASSERT_EQ(line.size(), 1u);
        EXPECT_FLOAT_EQ(line[0].rect.left, c.x) << "song time " << c.songTime;
        EXPECT_FLOAT_EQ(line[0].rect.top, 600);
        EXPECT_FLOAT_EQ(line[0].rect.bottom, 699);
    }
    rig.controller.shared.song->duration = 0;  // a render without data
    rig.Draw(3);
    EXPECT_FLOAT_EQ(rig.Lines(8).at(0).rect.left, 0);
    EXPECT_EQ(rig.target.Texts().back().text, "00:00.0");
}

TEST(TimeBar, WaveformDrawsEveryOverviewColumnOnceOnA1920ColumnBar) {
    BarRig rig(1919);
    rig.NewSong(60);
    SessionState& s = rig.controller.shared;
    for (int i = 0; i < kOverviewColumns; ++i) {
        s.overview.overviewMinLeft[i] = static_cast<int16_t>(-i);
        s.overview.overviewMaxLeft[i] = static_cast<int16_t>(i);
        s.overview.overviewMinRight[i] = -32768;
        s.overview.overviewMaxRight[i] = 32767;
    }
    rig.Draw(-1);
    const auto outerLeft = rig.Lines(14);
    const auto outerRight = rig.Lines(15);
    ASSERT_EQ(outerLeft.size(), 1920u);
    ASSERT_EQ(outerRight.size(), 1920u);
    const float h = 49.5f;
    for (int c = 0; c < 1920; ++c) {
        const Call& l = outerLeft[c];
        ASSERT_FLOAT_EQ(l.rect.left, static_cast<float>(c));
        // The column's own minimum: the c-th overview column, placed in the upper half.
        ASSERT_NEAR(l.rect.top, (-c + 32768.0f) * h / 65536.0f + 600, 1e-3) << "column " << c;
    }
    EXPECT_NEAR(outerRight[0].rect.top, 649.5f, 1e-3) << "lower half, full scale";
    EXPECT_NEAR(outerRight[0].rect.bottom, 699.0f, 1e-3);
    // The inner core at 80 % in the bright colours, beside the two zero lines.
    EXPECT_EQ(rig.Lines(12).size(), 1921u);
    const Call inner = rig.Lines(13).at(1);
    EXPECT_NEAR(inner.rect.top, (-32768 * 0.8f + 32768.0f) * h / 65536.0f + 649.5f, 1e-3);
}

// Before the sound is rendered, the notes stand in for it: a line in each half wherever notes
// start, taller where more do, none where the song is silent; the waveform takes over column by
// column as the render goes.
TEST(TimeBar, NotesShowWhereTheSoundIsNotRenderedYet) {
    BarRig rig(399);  // 400 columns over 60 s: 0.15 s a column
    SongData& song = rig.NewSong(60);
    for (int i = 0; i < 20; ++i)
        ViewRig::AddNote(song, 0, 60, static_cast<float>(i), i + 0.5f);  // 1 a second
    for (int i = 0; i < 2000; ++i)                                       // 100 a second, over both hands
        ViewRig::AddNote(song, i % 2, 64, 40.0f + static_cast<float>(i) * 0.01f, 40.0f + i * 0.01f + 0.005f);
    rig.view->SetSong(&song);
    const float middle = 624.75f;  // of the upper half; the lower half's is 49.5 below
    // The lines across the middle of the upper half (palette entry 14), or of the lower (15).
    auto lines = [&](int paletteIndex, float across) {
        const ColourF b = rig.timeBar->brushes[paletteIndex];
        return rig.target.Where([&](const Call& k) {
            return k.op == Op::Line && k.colour.r == b.r && k.colour.g == b.g && k.colour.b == b.b &&
                   k.rect.top < across && k.rect.bottom > across;
        });
    };
    auto density = [&](float renderedShare) {
        SongView view = rig.Shown(0);
        view.noteDensity = &rig.view->density;
        view.renderedShare = renderedShare;
        rig.target.calls.clear();
        rig.timeBar->Draw(view);
        return lines(14, middle);
    };
    const auto all = density(0.0f);
    EXPECT_EQ(lines(15, middle + 49.5f).size(), all.size()) << "the lower half alike";
    float sparse = 0, dense = 0;
    for (const Call& k : all) {
        const float seconds = k.rect.left * 0.15f;
        EXPECT_TRUE(seconds < 20.0f || seconds >= 39.9f) << "a line over silence at " << seconds << " s";
        (seconds < 20.0f ? sparse : dense) =
            std::max(seconds < 20.0f ? sparse : dense, k.rect.bottom - middle);
    }
    EXPECT_EQ(all.size(), 20u + 134u) << "every column a note starts in, the busy stretch whole";
    EXPECT_GT(dense, 2.0f * sparse) << "a hundred times the notes stand taller";
    EXPECT_GE(sparse, 1.0f);

    const auto half = density(0.5f);
    ASSERT_EQ(half.size(), 134u) << "the busy stretch lies wholly in the half still to render";
    EXPECT_GE(half.front().rect.left, 200.0f) << "the rendered half shows its waveform alone";
    EXPECT_TRUE(density(1.0f).empty());
}

}  // namespace
