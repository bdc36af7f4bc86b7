#include "export/video_export.h"

PreparedScene::PreparedScene() = default;
PreparedScene::PreparedScene(PreparedScene&&) noexcept = default;
PreparedScene& PreparedScene::operator=(PreparedScene&& other) noexcept {
    scene = std::move(other.scene);  // the old scene goes before the song it drew from
    song = std::move(other.song);
    return *this;
}
PreparedScene::~PreparedScene() {
    scene.reset();
}

PreparedScene MakeVideoScene(const VideoSong& song, const VideoExportRequest& request, Failure& failure) {
    PreparedScene prepared;
    if (song.song == nullptr) {
        failure = {FailureKind::SourceFormat, "There is no song to draw"};
        return prepared;
    }
    // The scene draws from the prepared copy, which lives as long as it does.
    prepared.song = std::make_unique<VideoSong>(song);
    const VideoSong& kept = *prepared.song;
    auto scene = std::make_unique<VideoScene>();
    if (Failure drawn = scene->Create(
            {kept.song.get(), kept.overviewRead ? &kept.overview : nullptr, kept.midiName, kept.soundFontName,
             kept.lyrics.get(), kept.scoreTempo.get(), kept.scoreMidi.get(), kept.scoreParts},
            request.settings.width, request.settings.height, request.view, request.look);
        !drawn.Ok()) {
        failure = {FailureKind::EncoderSetup, "Couldn't draw the video's frames: " + drawn.text};
        return prepared;
    }
    prepared.scene = std::move(scene);
    return prepared;
}

Failure ExportVideo(const VideoSong& song, const VideoExportRequest& request, const std::atomic<bool>* cancel,
                    const VideoProgress& progress) {
    Failure failure;
    PreparedScene prepared = MakeVideoScene(song, request, failure);
    if (prepared.scene == nullptr) return failure;
    return EncodeVideo(*prepared.scene, request, cancel, progress);
}

Failure EncodeVideo(VideoScene& scene, const VideoExportRequest& request, const std::atomic<bool>* cancel,
                    const VideoProgress& progress) {
    const VideoSettings& settings = request.settings;
    VideoEncoder encoder;
    VideoIntro intro = scene.Intro(settings.fps);
    // A part of the song starts where its notes are already falling: a lead-in would draw the
    // notes before the part, which are not heard.
    if (request.startSeconds > 0) intro.leadFrames = 0;
    if (Failure opened =
            encoder.Open(request.target, request.wavPath, settings, request.rawCopy, intro.Frames());
        !opened.Ok()) {
        return opened;
    }
    const int64_t frames = encoder.FrameCount();
    for (int64_t i = 0; i < frames; ++i) {
        // The encoder is dropped on the way out, and the new file with it.
        if (cancel != nullptr && cancel->load())
            return {FailureKind::Cancelled, "The video export was cancelled"};
        scene.DrawVideoFrame(i, settings.fps, intro, request.startSeconds);
        const uint32_t* pixels = scene.Pixels();
        if (pixels == nullptr) return {FailureKind::EncoderSetup, "Couldn't read a video frame back"};
        if (Failure added = encoder.AddFrame(pixels); !added.Ok()) return added;
        if (progress) progress(static_cast<float>(i + 1) / static_cast<float>(frames));
    }
    if (cancel != nullptr && cancel->load())
        return {FailureKind::Cancelled, "The video export was cancelled"};
    return encoder.Finish();
}
