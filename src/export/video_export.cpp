#include "export/video_export.h"

#include <system_error>

#include "core/session_state.h"
#include "midi/midi_reader.h"
#include "synth/render_overview.h"

ExportResult ExportVideo(SessionState& state, const VideoExportRequest& request,
                         const std::atomic<bool>* cancel, const VideoProgress& progress) {
    const VideoSettings& settings = request.settings;
    VideoScene scene;
    std::string error;
    if (!scene.Create({state.song.get(), state.songReady ? &state.overview : nullptr, state.midiName,
                       state.soundFontName},
                      settings.width, settings.height, request.view, error))
        return {FailEncoderSetup, "Couldn't draw the video's frames: " + error};
    return EncodeVideo(scene, request, cancel, progress);
}

ExportResult EncodeVideo(VideoScene& scene, const VideoExportRequest& request,
                         const std::atomic<bool>* cancel, const VideoProgress& progress) {
    const VideoSettings& settings = request.settings;
    VideoEncoder encoder;
    if (ExportResult opened = encoder.Open(request.target, request.wavPath, settings, request.rawCopy);
        !opened.Ok()) {
        return opened;
    }
    const int64_t frames = encoder.FrameCount();
    for (int64_t i = 0; i < frames; ++i) {
        // The encoder is dropped on the way out, and the new file with it.
        if (cancel != nullptr && cancel->load()) return {FailCancelled, "The video export was cancelled"};
        scene.DrawAt(static_cast<double>(i) / settings.fps);
        const uint32_t* pixels = scene.Pixels();
        if (pixels == nullptr) return {FailEncoderSetup, "Couldn't read a video frame back"};
        if (ExportResult added = encoder.AddFrame(pixels); !added.Ok()) return added;
        if (progress) progress(static_cast<float>(i + 1) / static_cast<float>(frames));
    }
    if (cancel != nullptr && cancel->load()) return {FailCancelled, "The video export was cancelled"};
    return encoder.Finish();
}

VideoExportJob::~VideoExportJob() {
    cancel_.store(true);
    Finish();
}

void VideoExportJob::Finish() {
    if (thread_.joinable()) thread_.join();
    scene_.reset();
    state_.reset();
}

bool VideoExportJob::Start(const VideoExportRequest& request, const std::string& midiPath,
                           const std::string& midiName, const std::string& soundFontName) {
    Finish();
    progress_.store(0.0f);
    cancel_.store(false);
    done_.store(false);
    auto fail = [this](ExportResult result) {
        result_ = std::move(result);
        scene_.reset();
        state_.reset();
        done_.store(true);
        return false;
    };

    // A state of the job's own: the window may load another song while this one exports.
    state_ = std::make_unique<SessionState>();
    SessionState& state = *state_;
    state.song = std::make_unique<SongData>();
    state.midiPath = midiPath;
    state.outputWavPath = request.wavPath;
    if (!ReadMidiFile(*state.song, state.midiPath))
        return fail({FailSourceOpen, "Couldn't read the song " + state.midiPath});
    state.midiParsed = state.rendered = true;
    state.midiName = midiName;
    state.soundFontName = soundFontName;
    state.soundFontLoaded = !state.soundFontName.empty();
    state.overviewLoaded = true;
    state.songReady = ReadRenderOverview(state);
    state.playState = Playing;

    scene_ = std::make_unique<VideoScene>();
    std::string error;
    if (!scene_->Create({state.song.get(), state.songReady ? &state.overview : nullptr, state.midiName,
                         state.soundFontName},
                        request.settings.width, request.settings.height, request.view, error))
        return fail({FailEncoderSetup, "Couldn't draw the video's frames: " + error});
    try {
        thread_ = std::thread(&VideoExportJob::Run, this, request);
    } catch (const std::system_error& e) {
        return fail({FailEncoderSetup, std::string("Couldn't start the video export: ") + e.what()});
    }
    return true;
}

const ExportResult& VideoExportJob::Result() {
    Finish();
    return result_;
}

void VideoExportJob::Run(VideoExportRequest request) {
    result_ = EncodeVideo(*scene_, request, &cancel_, [this](float f) { progress_.store(f); });
    done_.store(true);
}
