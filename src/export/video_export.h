// The video export: the song's frames drawn by the window's own panels at the time each frame
// shows, encoded with the rendered sound into an MP4 (video_encoder.h).
//
// ExportVideo runs a whole export on the calling thread, as the command line does. The window
// runs it on a thread of its own through VideoExportJob, which reads the song and its overview
// afresh from their files, so that it shares nothing with the frame loop; the loop only reads the
// progress and may cancel.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "export/export_failure.h"
#include "export/video_encoder.h"
#include "export/video_scene.h"

struct SessionState;

struct VideoExportRequest {
    std::string wavPath;  // the rendered song
    std::string target;   // the MP4 to write
    VideoSettings settings;
    VideoView view = VideoView::Full;
    std::string rawCopy;  // when set, every frame is written there too as raw yuv420p
};

// Told the fraction done, 0 to 1, after every frame.
using VideoProgress = std::function<void(float fraction)>;

// The whole export: `state` holds the song (and, for the window view, the overview and the names
// the control panel shows). `cancel`, when given, is read between frames; a cancelled export ends
// with FailCancelled. Any failure leaves the target as it was and nothing of the new file.
[[nodiscard]] ExportResult ExportVideo(SessionState& state, const VideoExportRequest& request,
                                       const std::atomic<bool>* cancel = nullptr,
                                       const VideoProgress& progress = nullptr);

// The frames of an export on a scene already made: drawn, encoded and muxed with the sound.
[[nodiscard]] ExportResult EncodeVideo(VideoScene& scene, const VideoExportRequest& request,
                                       const std::atomic<bool>* cancel, const VideoProgress& progress);

// One export on a thread of its own. Start it, then poll Progress and Done once per frame; Cancel
// asks it to stop at the next frame. Dropping a job that is still running cancels and joins it.
//
// The scene and its off-screen target are made in Start and dropped after the join, both on the
// caller's thread: making a target opens fonts and counts text-layer users in state the window's
// own drawing shares, so only the frame loop may do it. The thread only draws into its target.
class VideoExportJob {
  public:
    VideoExportJob() = default;
    ~VideoExportJob();
    VideoExportJob(const VideoExportJob&) = delete;
    VideoExportJob& operator=(const VideoExportJob&) = delete;

    // Starts the export of the song in `midiPath`, rendered into request.wavPath. `midiName` and
    // `soundFontName` are what the control panel of the window view shows. The song and its
    // overview are read here, so the files may change once Start has returned. False, with the
    // reason in Result(), when the song cannot be read, its frames cannot be drawn or the thread
    // cannot be started.
    [[nodiscard]] bool Start(const VideoExportRequest& request, const std::string& midiPath,
                             const std::string& midiName, const std::string& soundFontName);

    [[nodiscard]] float Progress() const { return progress_.load(); }  // 0 to 1
    [[nodiscard]] bool Done() const { return done_.load(); }           // the result is ready
    void Cancel() { cancel_.store(true); }
    // The outcome, once Done (joins the thread).
    [[nodiscard]] const ExportResult& Result();

  private:
    void Run(VideoExportRequest request);
    void Finish();  // joins the thread and drops the scene

    std::unique_ptr<SessionState> state_;  // the job's own copy of the song; the scene draws it
    std::unique_ptr<VideoScene> scene_;
    std::thread thread_;
    std::atomic<float> progress_{0.0f};
    std::atomic<bool> cancel_{false};
    std::atomic<bool> done_{false};
    ExportResult result_;
};
