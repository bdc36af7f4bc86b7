// Brings a test's session to a stage the way the window gets there, step by step, so that a test
// (or a frame-drawing tool) can start from a song that is rendering or ready without a render.
// Needs no test framework: a step the session refuses is a fault of the caller, and aborts.
#pragma once

#include <cstdlib>

#include "app/song_session.h"

inline void BringTo(SongSession& session, SongStage stage) {
    session = SongSession{};
    auto step = [](bool taken) {
        if (!taken) std::abort();
    };
    if (stage == SongStage::Empty) return;
    step(session.BeginReading());
    if (stage == SongStage::Reading) return;
    step(session.Read());
    if (stage == SongStage::Rendering) return;
    step(session.RenderFinished());
}
