// The song's life: which steps each stage allows, and what a refused step leaves alone.
#include "app/song_session.h"

#include <gtest/gtest.h>

namespace {

// A session brought to `stage` the way the window gets there.
SongSession At(SongStage stage) {
    SongSession s;
    if (stage == SongStage::Empty) return s;
    EXPECT_TRUE(s.BeginReading());
    if (stage == SongStage::Reading) return s;
    EXPECT_TRUE(s.Read());
    if (stage == SongStage::Rendering) return s;
    EXPECT_TRUE(s.RenderFinished());
    return s;
}

const char* Name(SongStage stage) {
    switch (stage) {
        case SongStage::Empty:
            return "Empty";
        case SongStage::Reading:
            return "Reading";
        case SongStage::Rendering:
            return "Rendering";
        case SongStage::Ready:
            return "Ready";
    }
    return "?";
}

TEST(SongSession, EachStageAllowsOnlyItsOwnSteps) {
    enum Step { BeginReading, Read, ReRender, RenderFinished, RenderFailed };
    struct Case {
        SongStage from;
        Step step;
        bool taken;
        SongStage to;
    };
    const Case cases[] = {
        {SongStage::Empty, BeginReading, true, SongStage::Reading},
        {SongStage::Empty, Read, false, SongStage::Empty},
        {SongStage::Empty, ReRender, false, SongStage::Empty},
        {SongStage::Empty, RenderFinished, false, SongStage::Empty},
        {SongStage::Reading, BeginReading, false, SongStage::Reading},
        {SongStage::Reading, Read, true, SongStage::Rendering},
        {SongStage::Reading, RenderFinished, false, SongStage::Reading},
        {SongStage::Rendering, BeginReading, true, SongStage::Reading},
        {SongStage::Rendering, ReRender, false, SongStage::Rendering},
        {SongStage::Rendering, RenderFinished, true, SongStage::Ready},
        {SongStage::Rendering, RenderFailed, true, SongStage::Empty},
        {SongStage::Ready, BeginReading, true, SongStage::Reading},
        {SongStage::Ready, ReRender, true, SongStage::Rendering},
        {SongStage::Ready, Read, false, SongStage::Ready},
        {SongStage::Ready, RenderFailed, false, SongStage::Ready},
    };
    for (const Case& c : cases) {
        SongSession s = At(c.from);
        bool taken = false;
        switch (c.step) {
            case BeginReading:
                taken = s.BeginReading();
                break;
            case Read:
                taken = s.Read();
                break;
            case ReRender:
                taken = s.ReRender();
                break;
            case RenderFinished:
                taken = s.RenderFinished();
                break;
            case RenderFailed:
                taken = s.RenderFailed();
                break;
        }
        EXPECT_EQ(taken, c.taken) << "step " << c.step << " from " << Name(c.from);
        EXPECT_EQ(s.Stage(), c.to) << "step " << c.step << " from " << Name(c.from) << ": expected "
                                   << Name(c.to) << ", got " << Name(s.Stage());
    }
}

TEST(SongSession, ASongStaysShownWhileTheNextOneReadsAndAfterItFails) {
    struct Case {
        SongStage before;
        bool shownBefore;
    };
    for (const Case c :
         {Case{SongStage::Empty, false}, Case{SongStage::Rendering, true}, Case{SongStage::Ready, true}}) {
        SongSession s = At(c.before);
        EXPECT_EQ(s.HasSong(), c.shownBefore) << Name(c.before);
        ASSERT_TRUE(s.BeginReading());
        EXPECT_EQ(s.HasSong(), c.shownBefore) << "while the next file reads, from " << Name(c.before);
        EXPECT_FALSE(s.Ready());
        s.ReadFailed();
        EXPECT_EQ(s.Stage(), c.before) << "a file that did not load changes nothing";
        EXPECT_EQ(s.HasSong(), c.shownBefore);
    }
}

}  // namespace
