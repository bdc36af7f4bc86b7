// The controller's export commands: command 10 asks for a target and starts the export, command
// 12 follows it once per frame until it ends. Command 13 starts a video export, which runs on a
// thread of its own and is followed every frame without holding a command, so that the song
// still plays while it runs.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "app/player_controller.h"
#include "core/frame_timer.h"
#include "export/export_dialog.h"
#include "export/export_format.h"
#include "export/ogg_export.h"
#include "export/transcoder.h"
#include "export/video_export.h"
#include "midi/midi_reader.h"
#include "platform/dialogs.h"
#include "resources/strings.h"
#include "ui/control_panel.h"

namespace {

// The error box of a failed export: the exporter's own account of what failed.
void ShowExportFailure(SessionState& state, const std::string& text,
                       const char* caption = res::LoadString(res::IdsError)) {
    if (state.dialogs == nullptr) {
        std::fprintf(stderr, "%s: %s\n", caption, text.c_str());
        return;
    }
    state.dialogs->ShowError(text, caption);
}

// Why there is nothing to export now: no song at all, or one whose render has not completed.
std::string NothingToExportText(const SessionState& state) {
    if (!state.midiParsed) return "There is no song to export yet. Load a MIDI file first.";
    return "The song is still rendering. Export it once its render has finished.";
}

// Says why there is nothing to export, under the caption of the button that was pressed.
void ShowNothingToExport(SessionState& state, int captionId) {
    ShowExportFailure(state, NothingToExportText(state), res::LoadString(captionId));
}

// The save dialog of a video: the one type and the quality levels of the audio export.
bool ShowVideoDialog(SessionState& state, std::string& path, int& quality) {
    if (state.dialogs == nullptr) return false;
    platform::SaveRequest request;
    request.types.push_back({"MP4 video (*.mp4)", "*.mp4"});
    request.choiceLabel = res::LoadString(res::IdsQuality);
    request.choiceOptions = {res::LoadString(res::IdsStandard), res::LoadString(res::IdsHigh),
                             res::LoadString(res::IdsMaximum)};
    request.initialChoice = QualityStandard;
    request.fileName = state.midiName + ".mp4";
    request.defaultExtension = "mp4";
    platform::SaveAnswer answer;
    if (!state.dialogs->SaveFile(request, answer) || answer.path.empty()) return false;
    path = answer.path;
    quality =
        answer.choice < QualityStandard || answer.choice > QualityMaximum ? QualityStandard : answer.choice;
    return true;
}

void ShowExportProgressBar(ControlPanel* panel, bool shown) {
    if (panel == nullptr) return;
    panel->exportButton.showProgress = shown;
    panel->exportButton.progress = -1.0f;
}

}  // namespace

bool PlayerController::ExportAudio() {
    SessionState& s = shared;
    if (!s.midiParsed || !s.songReady) {
        ShowNothingToExport(s, res::IdsExportAudio);
        return false;
    }
    if (!ShowExportDialog(s)) return false;

    if (s.exportFormat == FormatWav) {
        const ExportResult copied = CopyWavFile(s.outputWavPath, s.exportPath);
        if (!copied.Ok()) {
            ShowExportFailure(s, copied.text);
        } else if (controlPanel != nullptr) {
            controlPanel->ShowExportNotice(s.exportPath);
        }
        return false;
    }

    if (s.exportFormat == FormatOgg) {
        oggExport.reset();  // the last one has ended; joining it here costs nothing
        auto task = std::make_unique<OggExport>();
        FillEncoderJob(task->job, s.outputWavPath, s.exportPath, s.midiName, s.exportQuality,
                       task->errorText);
        OggExport* running = task.get();
        try {
            running->thread = std::thread([running] { OggEncodeThread(running->job); });
        } catch (const std::system_error& e) {
            ShowExportFailure(s, std::string("Couldn't start the Ogg Vorbis encoder: ") + e.what());
            return false;
        }
        oggExport = std::move(task);
        ShowExportProgressBar(controlPanel.get(), true);
        s.command = CmdExportRunning;
        return true;
    }

    // FLAC, ALAC, AAC and MP3: the transcoder, stepped from the frame loop.
    if (clock != nullptr) clock->activityStamp = clock->Now();
    transcoder = std::make_unique<Transcoder>(s);
    if (!transcoder->Start()) {
        // Start has removed whatever it created.
        ShowExportFailure(s, transcoder->failureText);
        return false;
    }
    ShowExportProgressBar(controlPanel.get(), true);
    s.command = CmdExportRunning;
    return true;
}

void PlayerController::PollExport() {
    SessionState& s = shared;
    uint16_t progress = 0;
    if (s.exportFormat != FormatOgg && transcoder) {
        // Step until the frame's budget is spent: the first step always runs, so an export on a
        // machine too slow for the budget still advances half a second per frame.
        const auto started = std::chrono::steady_clock::now();
        bool more;
        do {
            more = transcoder->Step(kTranscodeStepSeconds);
        } while (more && std::chrono::steady_clock::now() - started < exportFrameBudget);
        if (!more) {
            exportProgress.store(1000);
            ShowExportProgressBar(controlPanel.get(), false);
            s.command = CmdNone;
            if (transcoder->failure != ExportOk) {
                ShowExportFailure(s, transcoder->failureText);
            } else if (controlPanel != nullptr) {
                controlPanel->ShowExportNotice(s.exportPath);
            }
            return;
        }
        // The source's own length when its header gives one: the song's duration ends with its
        // last note, before the sound has died away.
        double length = transcoder->sourceSeconds;
        if (length <= 0 && s.song) length = s.song->duration;
        progress = TranscodeProgressPercent(transcoder->position, length);
        exportProgress.store(progress);
    } else {
        progress = exportProgress.load();
    }

    if (progress >= 100) {
        ShowExportProgressBar(controlPanel.get(), false);
        s.command = CmdNone;
        if (s.exportFormat == FormatOgg && oggExport) {
            // The encoder's last word is its Finished or Failed message, so the thread is ending.
            oggExport->Join();
            if (oggExport->job.result != 1) {
                encoderError = oggExport->errorText;
                ShowExportFailure(s, encoderError);
            } else {
                encoderError.clear();
                if (controlPanel != nullptr) controlPanel->ShowExportNotice(s.exportPath);
            }
        }
        return;
    }
    if (controlPanel != nullptr) controlPanel->exportButton.progress = static_cast<float>(progress);
}

bool PlayerController::ExportVideo() {
    SessionState& s = shared;
    if (videoExport) return false;  // one at a time; its button cancels it meanwhile
    if (!s.midiParsed || !s.songReady) {
        ShowNothingToExport(s, res::IdsExportVideo);
        return false;
    }
    std::string path;
    int quality = QualityStandard;
    if (!ShowVideoDialog(s, path, quality)) return false;

    VideoExportRequest request;
    request.wavPath = s.outputWavPath;
    request.target = path;
    request.settings = videoSettings;
    request.settings.quality = quality;
    auto job = std::make_unique<VideoExportJob>();
    if (!job->Start(request, s.midiPath, s.midiName, s.soundFontName)) {
        ShowExportFailure(s, job->Result().text, res::LoadString(res::IdsExportVideo));
        return false;
    }
    videoExport = std::move(job);
    videoPath = path;
    if (controlPanel != nullptr) {
        controlPanel->videoExportRunning = true;
        controlPanel->videoCancelRequested = false;
        controlPanel->videoButton.showProgress = true;
        controlPanel->videoButton.progress = 0.0f;
    }
    return true;
}

void PlayerController::PollVideoExport() {
    ControlPanel* panel = controlPanel.get();
    if (!videoExport) {
        if (panel != nullptr) panel->videoCancelRequested = false;  // a click as the export ended
        return;
    }
    if (panel != nullptr && panel->videoCancelRequested) {
        panel->videoCancelRequested = false;
        videoExport->Cancel();
    }
    if (!videoExport->Done()) {
        // Whole percents, held below 100 until the file is complete.
        if (panel != nullptr) {
            panel->videoButton.progress = std::min(99.0f, std::floor(videoExport->Progress() * 100.0f));
        }
        return;
    }
    const ExportResult result = videoExport->Result();
    videoExport.reset();  // the scene goes here, on the frame loop's thread
    if (panel != nullptr) {
        panel->videoExportRunning = false;
        panel->videoButton.progress = -1.0f;
    }
    if (result.Ok()) {
        if (panel != nullptr) panel->ShowExportNotice(videoPath);
    } else if (result.code != FailCancelled) {
        // A cancel was the user's own doing and needs no box; the exporter has removed the file.
        ShowExportFailure(shared, result.text, res::LoadString(res::IdsExportVideo));
    }
}
