// Brings a test's session to a stage the way the window gets there, step by step, so that a test
// can start from a song that is rendering or ready without a render.
#pragma once

#include <gtest/gtest.h>

#include "app/song_session.h"

inline void BringTo(SongSession& session, SongStage stage) {
    session = SongSession{};
    if (stage == SongStage::Empty) return;
    ASSERT_TRUE(session.BeginReading());
    if (stage == SongStage::Reading) return;
    ASSERT_TRUE(session.Read());
    if (stage == SongStage::Rendering) return;
    ASSERT_TRUE(session.RenderFinished());
}
