// The song's life: which steps each stage allows, and what a refused step leaves alone.
#include "app/song_session.h"

#include <gtest/gtest.h>

namespace {

LoadedSong Song(const char* name) {
    LoadedSong loaded;
    loaded.path = std::string("/songs/") + name + ".mid";
    loaded.name = name;
    loaded.song = std::make_unique<SongData>();
    return loaded;
}

RenderedAudio Audio(const char* path) {
    RenderedAudio audio;
    audio.wavPath = path;
    audio.overview.wavChannels = 2;
    return audio;
}

// A session brought to `stage` the way the window gets there.
SongSession At(SongStage stage) {
    SongSession s;
    if (stage == SongStage::Empty) return s;
    EXPECT_TRUE(s.BeginReading());
    if (stage == SongStage::Reading) return s;
    EXPECT_TRUE(s.Read(Song("first")));
    if (stage == SongStage::Rendering) return s;
    EXPECT_TRUE(s.RenderFinished(Audio("/cache/a.wav")));
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
    enum Step { BeginReading, Read, ReRender, RenderFinished, Play };
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
        {SongStage::Empty, Play, false, SongStage::Empty},
        {SongStage::Reading, BeginReading, false, SongStage::Reading},
        {SongStage::Reading, Read, true, SongStage::Rendering},
        {SongStage::Reading, RenderFinished, false, SongStage::Reading},
        {SongStage::Rendering, BeginReading, true, SongStage::Reading},
        {SongStage::Rendering, ReRender, false, SongStage::Rendering},
        {SongStage::Rendering, RenderFinished, true, SongStage::Ready},
        {SongStage::Rendering, Play, false, SongStage::Rendering},
        {SongStage::Ready, BeginReading, true, SongStage::Reading},
        {SongStage::Ready, ReRender, true, SongStage::Rendering},
        {SongStage::Ready, Read, false, SongStage::Ready},
        {SongStage::Ready, Play, true, SongStage::Ready},
    };
    for (const Case& c : cases) {
        SongSession s = At(c.from);
        bool taken = false;
        switch (c.step) {
            case BeginReading:
                taken = s.BeginReading();
                break;
            case Read:
                taken = s.Read(Song("second"));
                break;
            case ReRender:
                taken = s.ReRender();
                break;
            case RenderFinished:
                taken = s.RenderFinished(Audio("/cache/b.wav"));
                break;
            case Play:
                taken = s.SetPlay(PlayState::Playing);
                break;
        }
        EXPECT_EQ(taken, c.taken) << "step " << c.step << " from " << Name(c.from);
        EXPECT_EQ(s.Stage(), c.to) << "step " << c.step << " from " << Name(c.from) << ": expected "
                                   << Name(c.to) << ", got " << Name(s.Stage());
    }
}

TEST(SongSession, AFailedReadLeavesTheSongBeforeAsItWas) {
    SongSession s = At(SongStage::Ready);
    ASSERT_TRUE(s.SetPlay(PlayState::Paused));
    const SongData* before = s.Song();
    ASSERT_TRUE(s.BeginReading());
    EXPECT_EQ(s.Song(), before) << "the old song stays shown while the next one reads";
    s.ReadFailed();
    EXPECT_EQ(s.Stage(), SongStage::Ready);
    EXPECT_EQ(s.Song(), before);
    EXPECT_EQ(s.Audio().wavPath, "/cache/a.wav");
    EXPECT_EQ(s.Play(), PlayState::Paused) << "a file that did not load must not move the song";
}

TEST(SongSession, ANewSongOrSoundFontStopsAndForgetsTheOldSound) {
    SongSession s = At(SongStage::Ready);
    ASSERT_TRUE(s.SetPlay(PlayState::Playing));
    ASSERT_TRUE(s.ReRender());
    EXPECT_EQ(s.Play(), PlayState::Idle);
    EXPECT_EQ(s.Loaded().name, "first") << "a new SoundFont keeps the song";
    EXPECT_FALSE(s.SetPlay(PlayState::Playing)) << "nothing plays while the sound renders";

    ASSERT_TRUE(s.BeginReading());
    ASSERT_TRUE(s.Read(Song("second")));
    EXPECT_EQ(s.Loaded().name, "second");
    EXPECT_TRUE(s.Audio().wavPath.empty()) << "the old song's sound is not the new one's";
}

TEST(SongSession, AFailedRenderIsNotShownAsASong) {
    SongSession s = At(SongStage::Rendering);
    s.RenderFailed();
    EXPECT_EQ(s.Stage(), SongStage::Empty);
    EXPECT_EQ(s.Song(), nullptr);
    EXPECT_FALSE(s.Read(Song("x"))) << "a song is read only after BeginReading";
}

}  // namespace
