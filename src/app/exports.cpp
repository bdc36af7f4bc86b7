// The exports' steps: the save dialogs, the jobs' start, and what each frame shows of them.
#include "app/exports.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>

#include "app/at_hand.h"
#include "app/session_state.h"
#include "app/transport.h"
#include "core/frame_timer.h"
#include "export/export_dialog.h"
#include "export/export_format.h"
#include "export/export_job.h"
#include "midi/note_timeline.h"
#include "platform/dialogs.h"
#include "resources/strings.h"
#include "settings/settings.h"
#include "synth/stream_playback.h"
#include "ui/control_panel.h"

namespace {

// Why there is nothing to export now: no song at all, or one whose render has not completed.
std::string NothingToExportText(const SessionState& state) {
    if (!state.session.HasSong()) return "There is no song to export yet. Load a MIDI file first.";
    return "The song is still rendering. Export it once its render has finished.";
}

// Says why there is nothing to export, under the caption of the button that was pressed.
void ShowNothingToExport(SessionState& state, res::StringId captionId) {
    Report(state, NothingToExportText(state), res::LoadString(captionId));
}

// Whole percents, held below 100 until the file is complete.
float ShownPercent(const ExportJob& job) {
    return std::min(99.0f, std::floor(job.Progress() * 100.0f));
}

// Shows the save dialog `request` describes; nothing when the user cancelled or there are no
// dialogs.
template <class Interpret>
std::optional<ExportChoice> AskForTarget(platform::Dialogs* dialogs, const platform::SaveRequest& request,
                                         Interpret interpret) {
    platform::SaveAnswer answer;
    if (dialogs == nullptr || !dialogs->SaveFile(request, answer) || answer.path.empty()) return std::nullopt;
    return interpret(answer);
}

// The practice loop as a part of the song to export, in seconds of the song's own render; the
// whole song when no loop is set.
ExportRange LoopRange(const StreamPlayback* playback) {
    ExportRange range;
    if (playback == nullptr || !playback->Loop().Active() || playback->Stream().SampleRate() == 0)
        return range;
    const double rate = playback->Stream().SampleRate();
    range.from = static_cast<double>(playback->Loop().start) / rate;
    range.to = static_cast<double>(playback->Loop().end) / rate;
    return range;
}

// "0:12-0:31", the part a name or a title carries; "" for the whole song.
std::string RangeText(const ExportRange& range) {
    return range.Whole() ? std::string() : FormatRangeTime(range.from) + "-" + FormatRangeTime(range.to);
}

// The song's name with what sets this export apart from the plain song, "Song (75% speed, 0:12-0:31)".
std::string NameWith(const std::string& name, const std::string& practised, const std::string& part) {
    const std::string both = practised.empty() ? part : part.empty() ? practised : practised + ", " + part;
    return both.empty() ? name : name + " (" + both + ")";
}

}  // namespace

bool Exports::StartAudio() {
    SessionState& s = session_;
    if (!s.session.Ready()) {
        ShowNothingToExport(s, res::IdsExportAudio);
        return false;
    }
    // Practice exports as it is heard: rendered again at its speed, without its silent parts. The
    // dialog's title says so, and the name proposed carries it.
    const bool hands = s.song && s.song->reading == ReadingHands;
    const int parts = s.song ? (hands ? 2 : s.song->partCount) : 0;
    const std::string practised = s.practice.choice.Describe(parts, hands);
    // With a loop set, the loop is what is exported; the name and the title say which part.
    ExportRange range = LoopRange(transport_.Playback());
    const std::string part = RangeText(range);
    platform::SaveRequest ask =
        ExportSaveRequest(s.exportFormatFlags, NameWith(s.midiName, practised, part), QualityStandard);
    if (!practised.empty() || !part.empty()) {
        ask.title = res::LoadString(res::IdsExportAudio);
        // "at" belongs to a speed; a choice of parts alone follows a colon.
        const bool speed = !practised.empty() && std::isdigit(static_cast<unsigned char>(practised[0]));
        if (!practised.empty()) ask.title += (speed ? " at " : ": ") + practised;
        if (!part.empty()) ask.title += " (" + part + ")";
    }
    ask.folder = DialogFolder(FolderKind::Export);
    const std::optional<ExportChoice> choice = AskForTarget(
        s.dialogs, ask, [&](const platform::SaveAnswer& a) { return ExportChoiceOf(a, lastFormat_); });
    if (!choice) return false;
    KeepDialogFolder(FolderKind::Export, choice->path);
    lastFormat_ = choice->format;

    ExportRequest request;
    request.source = s.outputWavPath;
    request.target = choice->path;
    request.format = choice->format;
    request.quality = choice->quality;
    request.availability = AvailabilityOf(s.exportFormatFlags, choice->format);
    request.displayName = s.midiName;
    if (!s.practice.choice.Plain() && s.song) {
        RenderRequest render{s.midiBytes, s.soundFontPath, nullptr};
        render.speed = s.practice.choice.Speed();
        render.mutes = s.practice.choice.Mutes(parts);
        render.lowPriority = true;
        request.render = render;
        request.songPath = s.midiPath;
        request.renderSong = std::make_shared<const SongData>(*s.song);
        request.renderFolder = transport_.RenderFolder();
        // The practice render runs at its own speed: the loop's times in it are the song's over it.
        if (!range.Whole()) {
            range.from /= s.practice.choice.Speed();
            range.to /= s.practice.choice.Speed();
        }
    }
    request.range = range;
    transport_.Clock().activityStamp = transport_.Clock().Now();
    audioExport_.reset();  // the last one has ended; joining it here costs nothing
    auto job = std::make_unique<ExportJob>();
    if (!job->Start(std::move(request))) {
        Report(s, job->Result());
        return false;
    }
    audioExport_ = std::move(job);
    s.command = Command::ExportRunning;
    return true;
}

void Exports::PollAudio(ControlPanel* panel) {
    SessionState& s = session_;
    if (!audioExport_) {
        s.command = Command::None;
        return;
    }
    if (!audioExport_->Done()) return;
    const Failure result = audioExport_->Result();
    const std::string target = audioExport_->Request().target;
    audioExport_.reset();
    s.command = Command::None;
    if (result.Ok()) {
        if (panel != nullptr) panel->ShowExportNotice(target);
    } else if (!result.Cancelled()) {
        Report(s, result.text);
    }
}

bool Exports::StartVideo() {
    SessionState& s = session_;
    if (videoExport_) return false;  // one at a time; its button cancels it meanwhile
    if (!s.session.Ready() || !s.song) {
        ShowNothingToExport(s, res::IdsExportVideo);
        return false;
    }
    // The choices of the last export, of this run or else of an earlier one.
    if (!videoChoicesRead_) {
        videoChoicesRead_ = true;
        if (const std::optional<VideoChoices> kept = ReadSettings().video) {
            videoSettings_ = VideoSettingsOf(*kept);
            videoView_ = VideoViewOf(*kept);
            videoScore_ = kept->score;
        }
    }
    const VideoChoices last = VideoChoicesFor(videoSettings_, videoView_, videoScore_);
    const ExportRange range = LoopRange(transport_.Playback());
    platform::SaveRequest ask = VideoSaveRequest(NameWith(s.midiName, std::string(), RangeText(range)), last);
    if (!range.Whole())
        ask.title = std::string(res::LoadString(res::IdsExportVideo)) + " (" + RangeText(range) + ")";
    ask.folder = DialogFolder(FolderKind::Video);
    platform::SaveAnswer answer;
    if (s.dialogs == nullptr || !s.dialogs->SaveFile(ask, answer) || answer.path.empty()) return false;
    KeepDialogFolder(FolderKind::Video, answer.path);
    const VideoChoices chosen = VideoChoicesOf(answer, last);
    videoSettings_ = VideoSettingsOf(chosen);
    videoView_ = VideoViewOf(chosen);
    videoScore_ = chosen.score;
    // Kept for the next run as the export starts, whatever becomes of it; another window's
    // settings stay as they are.
    (void)UpdateSettings([&chosen](Settings& settings) { settings.video = chosen; });

    ExportRequest request;
    request.source = s.outputWavPath;
    request.target = answer.path;
    request.format = ExportFormat::Mp4;
    request.quality = QualityFromChoice(chosen.quality);
    request.video = videoSettings_;
    request.view = videoView_;
    request.range = range;
    // A video opens on the song's title card and lets its first notes fall before they sound, as
    // the command line's does.
    request.look.titleCard = true;
    request.look.leadIn = true;
    request.displayName = s.midiName;
    // The job's own copy of the song: the window may load another while this one exports.
    request.song.song = std::make_shared<const SongData>(*s.song);
    request.song.overview = s.overview;
    request.song.overviewRead = true;  // a ready song has its overview
    request.song.midiName = s.midiName;
    request.song.soundFontName = s.soundFontLoaded ? s.soundFontName : std::string();
    // The score as the window shows it: the file's bytes are never changed once read, so the job
    // shares them; the tempo map is the transport's, so the job takes a copy of its own.
    if (videoScore_ && transport_.Tempo() != nullptr && s.midiBytes != nullptr) {
        request.song.scoreTempo = std::make_shared<const TempoMap>(*transport_.Tempo());
        request.song.scoreMidi = s.midiBytes;
        request.song.scoreParts = s.practice.ScoreParts(s.song->PartsInUse(), s.playAlong.On());
    }
    auto job = std::make_unique<ExportJob>();
    if (!job->Start(std::move(request))) {
        Report(s, job->Result(), res::LoadString(res::IdsExportVideo));
        return false;
    }
    videoExport_ = std::move(job);
    videoCancelRequested_ = false;
    return true;
}

void Exports::PollVideo(ControlPanel* panel) {
    if (!videoExport_) {
        videoCancelRequested_ = false;  // a click as the export ended
        return;
    }
    if (videoCancelRequested_) {
        videoCancelRequested_ = false;
        videoExport_->Cancel();
    }
    if (!videoExport_->Done()) return;
    const Failure result = videoExport_->Result();
    const std::string target = videoExport_->Request().target;
    videoExport_.reset();  // the scene goes here, on the frame loop's thread
    if (result.Ok()) {
        if (panel != nullptr) panel->ShowExportNotice(target);
    } else if (!result.Cancelled()) {
        // A cancel was the user's own doing and needs no box; the exporter has removed the file.
        Report(session_, result.text, res::LoadString(res::IdsExportVideo));
    }
}

float Exports::AudioProgress() const {
    return audioExport_ ? ShownPercent(*audioExport_) : -1.0f;
}

float Exports::VideoProgress() const {
    return videoExport_ ? ShownPercent(*videoExport_) : -1.0f;
}

Exports::Exports(SessionState& session, Transport& transport) : session_(session), transport_(transport) {}

Exports::~Exports() {
    Release();
}

void Exports::Release() {
    audioExport_.reset();  // cancelled at its next step; the partial file goes with it
    videoExport_.reset();  // cancelled at its next frame; the partial file goes with it
}
