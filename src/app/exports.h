// The window's exports: the song's sound in an audio format, and the falling notes as a video.
// Each export is an ExportJob on a thread of its own; the frame loop only polls it. The audio
// export holds the session's command (ExportRunning) while it runs, so that nothing else starts
// meanwhile; a video export runs beside the frame loop, and the song plays on.
//
// Who owns what: Exports owns the jobs and the choices remembered for the next export (the
// audio format, the video's size, rate, quality and view). It reads the session's song and the
// transport's loop (what a loop exports) and render folder (where a practice export renders). The
// control panel draws the jobs' progress from the snapshot its owner makes, and is handed to the
// polls only to show where a finished file went.
#pragma once

#include <memory>

#include "export/export_format.h"
#include "export/video_encoder.h"
#include "export/video_scene.h"

struct SessionState;
class Transport;
class ExportJob;
class ControlPanel;

class Exports {
  public:
    Exports(SessionState& session, Transport& transport);
    ~Exports();  // a running job is cancelled; its partial file goes with it
    Exports(const Exports&) = delete;
    Exports& operator=(const Exports&) = delete;

    // The save dialog, then the start of the audio export job; true when one started, which
    // leaves ExportRunning pending. PollAudio, once per frame while it is pending, at the end
    // clears the command and tells where the file went or why it failed.
    bool StartAudio();
    void PollAudio(ControlPanel* panel);
    // Asks for the video's target and starts its job; false when nothing was started. PollVideo
    // runs every frame: it passes on a cancel asked for and, at the end, shows where the video
    // went or why it failed.
    bool StartVideo();
    void PollVideo(ControlPanel* panel);
    // The "Export video" button while a video exports: the job stops at its next frame.
    void CancelVideo() { videoCancelRequested_ = true; }
    [[nodiscard]] bool VideoRunning() const { return videoExport_ != nullptr; }
    // The running jobs' progress as the buttons show it: whole percents, held below 100 until the
    // file is complete; negative while none runs.
    [[nodiscard]] float AudioProgress() const;
    [[nodiscard]] float VideoProgress() const;
    // Ends both jobs now (their threads are joined); what they were writing goes.
    void Release();

    // The choices the next dialogs start from.
    [[nodiscard]] ExportFormat LastFormat() const { return lastFormat_; }
    void SetLastFormat(ExportFormat format) { lastFormat_ = format; }
    [[nodiscard]] const VideoSettings& Video() const { return videoSettings_; }
    void SetVideo(const VideoSettings& settings) { videoSettings_ = settings; }
    [[nodiscard]] VideoView View() const { return videoView_; }
    // The running jobs, or null.
    [[nodiscard]] ExportJob* AudioJob() const { return audioExport_.get(); }
    [[nodiscard]] ExportJob* VideoJob() const { return videoExport_.get(); }

  private:
    SessionState& session_;
    Transport& transport_;
    std::unique_ptr<ExportJob> audioExport_;
    ExportFormat lastFormat_ = ExportFormat::Wav;
    VideoSettings videoSettings_;
    VideoView videoView_ = VideoView::Full;
    bool videoScore_ = false;        // the score above the falling notes
    bool videoChoicesRead_ = false;  // read from the settings file at the first video export of a run
    bool videoCancelRequested_ = false;
    std::unique_ptr<ExportJob> videoExport_;
};
