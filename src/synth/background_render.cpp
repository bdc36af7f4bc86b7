#include "synth/background_render.h"

#include <sys/resource.h>

#include <memory>

#include "synth/render_stream.h"

namespace {

// The render thread's niceness above the program's: the render is many times faster than the song,
// so giving way to the window and the sound device costs it little.
constexpr int kRenderNiceness = 5;

}  // namespace

void BackgroundRender::Run(SynthRenderer& synth) {
    Stop();
    stop_.store(false);
    ended_.store(false);
    {
        const std::lock_guard lock(mutex_);
        status_ = {RenderOutcome::Running, 0.0f, {}};
    }
    thread_ = std::thread([this, &synth] { Loop(&synth); });
}

void BackgroundRender::Loop(SynthRenderer* synth) {
    // On Linux the niceness is the calling thread's own; a refusal only leaves it as it was.
    (void)setpriority(PRIO_PROCESS, 0, getpriority(PRIO_PROCESS, 0) + kRenderNiceness);
    for (;;) {
        const RenderStatus status = synth->RenderStep();
        const bool over = status.outcome != RenderOutcome::Running;
        if (!over && stop_.load()) {
            if (const std::shared_ptr<RenderStream> stream = synth->Stream()) stream->Abandon();
            break;
        }
        {
            const std::lock_guard lock(mutex_);
            // A slice that showed no new progress keeps the last shown.
            if (over || status.progress >= 0) status_ = status;
        }
        if (over) break;
    }
    ended_.store(true);
}

RenderStatus BackgroundRender::Poll() {
    if (ended_.load() && thread_.joinable()) thread_.join();
    const std::lock_guard lock(mutex_);
    return status_;
}

void BackgroundRender::Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

RenderStatus BackgroundRender::Wait() {
    if (thread_.joinable()) thread_.join();
    const std::lock_guard lock(mutex_);
    return status_;
}
