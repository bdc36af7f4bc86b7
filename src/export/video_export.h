// The video export: the song's frames drawn by the window's own panels at the time each frame
// shows, encoded with the rendered sound into an MP4 (video_encoder.h).
//
// ExportVideo runs a whole export on the calling thread; an export job (export_job.h) runs it on a
// thread of its own. Both take the song as a VideoSong, a description of their own, so that the
// export shares nothing with whoever asked for it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/audio_overview.h"
#include "core/song_data.h"
#include "export/export_failure.h"
#include "export/video_encoder.h"
#include "export/video_scene.h"
#include "midi/lyrics.h"

// The song a video shows: its notes, the overview of its rendered sound and the names the control
// panel of the window view shows.
class TempoMap;

struct VideoSong {
    std::shared_ptr<const SongData> song;  // never changed once handed over
    AudioOverview overview;
    bool overviewRead = false;  // the overview was read from the rendered sound
    std::string midiName;
    std::string soundFontName;  // empty when no SoundFont is loaded
    // The song's words, shown above the keyboard as they are sung; null: none shown.
    std::shared_ptr<const SongLyrics> lyrics;
    // The sheet music over the falling notes: the song's tempo map and its file's bytes (for its
    // time and key signatures). Null tempo: no score.
    std::shared_ptr<const TempoMap> scoreTempo;
    std::shared_ptr<const std::vector<uint8_t>> scoreMidi;
    std::vector<int32_t> scoreParts{};  // the parts a voices song's score shows; none: its first piano part
};

struct VideoExportRequest {
    std::string wavPath;  // the rendered song
    std::string target;   // the MP4 to write
    VideoSettings settings;
    VideoView view = VideoView::Full;
    std::string rawCopy;  // when set, every frame is written there too as raw yuv420p
    VideoLook look;
    // The song's time at the first frame: a video of part of the song starts where the part does,
    // with `wavPath` holding that part's sound.
    double startSeconds = 0.0;
};

// A scene with what it draws from; the scene goes first.
struct PreparedScene {
    std::unique_ptr<VideoSong> song;  // what the scene draws from
    std::unique_ptr<VideoScene> scene;

    PreparedScene();
    PreparedScene(PreparedScene&&) noexcept;
    PreparedScene& operator=(PreparedScene&&) noexcept;
    ~PreparedScene();
};

// Makes the scene of a video of `song`, of the request's size and view. A PreparedScene without a
// scene, with the reason in `failure`, when its frames cannot be drawn. Make and drop it on the
// same thread as the window's drawing: making a target opens fonts and counts text-layer users in
// state the window's own drawing shares.
[[nodiscard]] PreparedScene MakeVideoScene(const VideoSong& song, const VideoExportRequest& request,
                                           Failure& failure);

// Told the fraction done, 0 to 1, after every frame.
using VideoProgress = std::function<void(float fraction)>;

// The whole export of `song`. `cancel`, when given, is read between frames; a cancelled export
// ends as Cancelled. Any failure leaves the target as it was and nothing of the new file.
[[nodiscard]] Failure ExportVideo(const VideoSong& song, const VideoExportRequest& request,
                                  const std::atomic<bool>* cancel = nullptr,
                                  const VideoProgress& progress = nullptr);

// The frames of an export on a scene already made: drawn, encoded and muxed with the sound.
[[nodiscard]] Failure EncodeVideo(VideoScene& scene, const VideoExportRequest& request,
                                  const std::atomic<bool>* cancel, const VideoProgress& progress);
