// synth/: the render of a song through FluidSynth (on a thread of its own, playable as it runs
// ahead), its loudness and end, and the waveform overview read from it.
//
// A render on a thread of its own, so that the song can play while it is rendered.
//
// The renderer's slices (SynthRenderer::RenderStep) run one after another on the thread until the
// render is over or the owner stops it; the owner only reads the status the thread last left. While
// the thread runs, the renderer is the thread's: the owner touches it again only once Poll has
// reported the end, or after Stop.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "synth/synth_renderer.h"

class BackgroundRender {
  public:
    BackgroundRender() = default;
    ~BackgroundRender() { Stop(); }
    BackgroundRender(const BackgroundRender&) = delete;
    BackgroundRender& operator=(const BackgroundRender&) = delete;

    // Runs the render `synth` has started (StartRender) to its end on the thread. The thread runs
    // at a lower priority than the caller's, so that drawing and the sound device's refills come
    // first. A render already running here is stopped first.
    void Run(SynthRenderer& synth);
    // Where the render stands: Running with its progress, or how it ended. Once it has ended the
    // thread has been joined and the renderer is the caller's again.
    [[nodiscard]] RenderStatus Poll();
    // Stops the render after the slice in progress and waits for the thread; the render is left
    // unfinished (the next StartRender drops it) and its stream, if any, abandoned.
    void Stop();
    [[nodiscard]] bool Running() const { return thread_.joinable(); }
    // Waits for the render's end and returns how it ended.
    [[nodiscard]] RenderStatus Wait();

  private:
    void Loop(SynthRenderer* synth);

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::mutex mutex_;
    RenderStatus status_;  // guarded by mutex_
};
