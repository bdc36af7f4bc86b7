// One export of the rendered song, whatever it writes: the WAV copy, Ogg Vorbis, FLAC, ALAC, AAC,
// MP3 or an MP4 video. Every kind runs on a thread of its own; whoever started it (the window's
// frame loop, a command of the command line) only polls its progress, may cancel it, and reads
// its Failure once it is done.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "core/failure.h"
#include "export/export_format.h"
#include "export/export_range.h"
#include "export/video_export.h"
#include "synth/synth_renderer.h"

// Everything one export needs, taken by value so that the job shares nothing with its starter.
struct ExportRequest {
    std::string source;  // the rendered WAV
    std::string target;  // the file to write; it is replaced only once the new one is complete
    ExportFormat format = ExportFormat::Wav;
    QualityLevel quality = QualityStandard;
    // The format's availability word: the bit rates an AAC or MP3 export may use.
    uint16_t availability = 0;
    // The song's display name: the Ogg Vorbis DESCRIPTION tag, and the title tag unless `tags` has one.
    std::string displayName;
    AudioTags tags;
    // The part of the sound to export, in seconds of `source` (or of the render asked for); the
    // whole song unless set. A video's frames follow it.
    ExportRange range;
    // For MP4 only: the picture, and the song it shows.
    VideoSettings video;
    VideoView view = VideoView::Full;
    std::string rawCopy;  // when set, every frame also goes there as raw yuv420p
    VideoLook look;       // the window's own look unless asked otherwise
    VideoSong song;
    // Set when the song is to be rendered first as asked (slower, or with parts silent) into a file
    // of the job's own in `renderFolder`; `source` is then what that render wrote. The request's
    // song is `renderSong`, the job's own copy.
    std::optional<RenderRequest> render;
    std::shared_ptr<const SongData> renderSong;
    std::string renderFolder;
    // The user's song the render plays, named in messages instead of the job's own files.
    std::string songPath;
};

// One export on a thread of its own. Start it, then poll Progress and Done; Cancel asks it to stop
// at its next step, after which it ends as Cancelled with the target as it was and nothing of the
// new file. Dropping a job that is still running cancels and joins it.
//
// A video's scene is made in Start and dropped after the join, both on the starter's thread, which
// must be the one the window draws on (see MakeVideoScene).
class ExportJob {
  public:
    ExportJob();
    ~ExportJob();
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    // Starts the export. False, with the reason in Result() and Done() true, when it could not
    // start: no scene for a video, or no thread.
    [[nodiscard]] bool Start(ExportRequest request);

    [[nodiscard]] float Progress() const { return progress_.load(); }  // 0 to 1
    [[nodiscard]] bool Done() const { return done_.load(); }           // the result is ready
    void Cancel() { cancel_.store(true); }
    // The outcome, once Done (joins the thread).
    [[nodiscard]] const Failure& Result();
    // What is being written, as Start was given it.
    [[nodiscard]] const ExportRequest& Request() const { return request_; }

  private:
    void Run();
    Failure RenderFirst(SynthRenderer& synth);
    // The share of the job done, `f` of what is left after the render, if any.
    void SetProgress(float f) { progress_.store(base_ + f * (1.0f - base_)); }
    Failure RunTranscode();
    Failure RunOgg();
    [[nodiscard]] AudioTags Tags() const;  // the request's, titled with the display name if need be
    Failure WriteWavPart();
    [[nodiscard]] std::string FolderOfTarget() const;
    void Finish();  // joins the thread and drops the scene

    ExportRequest request_;
    PreparedScene scene_;
    std::thread thread_;
    std::atomic<float> progress_{0.0f};
    float base_ = 0.0f;  // the share of the job the render took
    std::atomic<bool> cancel_{false};
    std::atomic<bool> done_{false};
    Failure result_;
};
