#include "export/export_job.h"

#include <system_error>
#include <utility>

#include "export/export_failure.h"
#include "export/ogg_encoder.h"
#include "export/transcoder.h"
#include "platform/atomic_file.h"

namespace {

// Media time the transcoder copies between two looks at the cancel flag and the progress.
constexpr double kTranscodeStepSeconds = 0.5;

Failure CancelledFailure() {
    return {FailureKind::Cancelled, "The export was cancelled"};
}

}  // namespace

ExportJob::ExportJob() = default;

ExportJob::~ExportJob() {
    cancel_.store(true);
    Finish();
}

void ExportJob::Finish() {
    if (thread_.joinable()) thread_.join();
    scene_ = PreparedScene();
}

bool ExportJob::Start(ExportRequest request) {
    Finish();
    request_ = std::move(request);
    progress_.store(0.0f);
    cancel_.store(false);
    done_.store(false);
    result_ = {};
    auto fail = [this](Failure failure) {
        result_ = std::move(failure);
        scene_ = PreparedScene();
        done_.store(true);
        return false;
    };
    if (request_.format == ExportFormat::Mp4) {
        VideoExportRequest video{request_.source, request_.target,  request_.video,
                                 request_.view,   request_.rawCopy, request_.look};
        Failure failure;
        scene_ = MakeVideoScene(request_.song, video, failure);
        if (scene_.scene == nullptr) return fail(std::move(failure));
    }
    try {
        thread_ = std::thread(&ExportJob::Run, this);
    } catch (const std::system_error& e) {
        return fail({FailureKind::EncoderSetup, std::string("Couldn't start the export: ") + e.what()});
    }
    return true;
}

const Failure& ExportJob::Result() {
    Finish();
    return result_;
}

// The render of a practice track takes this share of the job's progress; the encoding the rest.
constexpr float kRenderShare = 0.5f;

Failure ExportJob::RenderFirst(SynthRenderer& synth) {
    RenderRequest render = *request_.render;
    render.song = request_.renderSong.get();
    if (Failure started = synth.StartRender(render, request_.renderFolder); !started.Ok()) return started;
    for (;;) {
        if (cancel_.load()) return CancelledFailure();
        const RenderStatus status = synth.RenderStep();
        if (status.outcome == RenderOutcome::Failed) return status.failure;
        if (status.outcome == RenderOutcome::Finished) break;
        if (status.progress >= 0) progress_.store(status.progress / 100.0f * kRenderShare);
    }
    request_.source = synth.OutputPath();
    base_ = kRenderShare;
    return Failure::None();
}

void ExportJob::Run() {
    // The render's file lasts as long as its renderer: until the export is written.
    std::unique_ptr<SynthRenderer> synth;
    if (request_.render) {
        synth = std::make_unique<SynthRenderer>();
        result_ = RenderFirst(*synth);
        if (!result_.Ok()) {
            done_.store(true);
            return;
        }
    }
    // A part of the song is cut out first, and every exporter reads the cut as its source; a WAV
    // export is the cut itself.
    RangeFile cut;
    const bool part = !request_.range.Whole();
    // A part written over the song it is cut from would leave only the part: the recording is
    // gone. The exporters compare their source with the target, but after the cut their source
    // is the cut, so the song itself is compared here.
    if (part && IsSameFile(request_.source, request_.target)) {
        result_ = {FailureKind::TargetOpen,
                   "Couldn't write " + request_.target + ": it is the file being exported from"};
        done_.store(true);
        return;
    }
    // The render's file and the cut are the job's own, which the user never named: a message
    // about either is about the song.
    const std::string song =
        request_.render && !request_.songPath.empty() ? request_.songPath : request_.source;
    const auto nameTheSong = [&](const std::string& internal) {
        if (internal.empty() || song == internal) return;
        for (size_t at = 0; (at = result_.text.find(internal, at)) != std::string::npos; at += song.size())
            result_.text.replace(at, internal.size(), song);
    };
    const std::string rendered = request_.render ? request_.source : std::string();
    if (part && request_.format != ExportFormat::Wav) {
        result_ = cut.Make(request_.source, request_.range, FolderOfTarget(), &cancel_);
        if (!result_.Ok()) {
            nameTheSong(rendered);
            done_.store(true);
            return;
        }
        request_.source = cut.Path();
    }
    switch (request_.format) {
        case ExportFormat::Wav:
            result_ = part ? WriteWavPart() : CopyWavFile(request_.source, request_.target, &cancel_);
            break;
        case ExportFormat::Ogg:
            result_ = RunOgg();
            break;
        case ExportFormat::Mp4: {
            VideoExportRequest video{request_.source, request_.target,  request_.video,
                                     request_.view,   request_.rawCopy, request_.look};
            if (part) video.startSeconds = request_.range.from;
            result_ = EncodeVideo(*scene_.scene, video, &cancel_, [this](float f) { SetProgress(f); });
            break;
        }
        default:
            result_ = RunTranscode();
            break;
    }
    if (result_.Ok()) progress_.store(1.0f);
    nameTheSong(rendered);
    if (part) nameTheSong(cut.Path());
    done_.store(true);
}

std::string ExportJob::FolderOfTarget() const {
    const size_t slash = request_.target.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : request_.target.substr(0, slash);
}

Failure ExportJob::WriteWavPart() {
    platform::AtomicFile out;
    if (const Failure opened = out.Open(request_.target); !opened.Ok())
        return {FailureKind::TargetOpen, "Couldn't open " + request_.target + " for write: " + opened.text};
    // Until the commit the target stays as it was, whatever stops the write.
    if (Failure written = WriteWavRange(request_.source, request_.range, out.Fd(), request_.target, &cancel_);
        !written.Ok())
        return written;
    if (const Failure failed = out.Commit(); !failed.Ok())
        return {FailureKind::Write, "Couldn't write " + request_.target + ": " + failed.text};
    return {};
}

AudioTags ExportJob::Tags() const {
    AudioTags tags = request_.tags;
    if (tags.title.empty()) tags.title = request_.displayName;
    return tags;
}

Failure ExportJob::RunTranscode() {
    Transcoder transcoder(TranscodeRequest{request_.source, request_.target, request_.format,
                                           request_.quality, request_.availability, Tags()});
    bool running = transcoder.Start();
    while (running) {
        // Dropping the transcoder abandons the new file; the target stays as it was.
        if (cancel_.load()) return CancelledFailure();
        SetProgress(TranscodeProgressPercent(transcoder.position, transcoder.sourceSeconds) / 100.0f);
        running = transcoder.Step(kTranscodeStepSeconds);
    }
    return transcoder.failure;
}

Failure ExportJob::RunOgg() {
    const auto listen = [](void* context, EncoderMessage message, int32_t value) -> int {
        auto* job = static_cast<ExportJob*>(context);
        if (message == EncoderMessage::Progress) job->SetProgress(static_cast<float>(value) / 100.0f);
        return job->cancel_.load() ? 1 : 0;
    };
    const AudioTags tags = Tags();
    return EncodeWavToOgg(request_.source, request_.target, OggSettingsForLevel(request_.quality),
                          OggTagsForSong(request_.displayName, tags), listen, this, OggExtraComments(tags));
}
