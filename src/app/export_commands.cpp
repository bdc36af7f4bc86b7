// The controller's export commands: command 10 asks for a target and starts the export, command
// 12 follows it once per frame until it ends.
#include <chrono>
#include <cstdio>
#include <system_error>

#include "app/player_controller.h"
#include "core/frame_timer.h"
#include "export/export_dialog.h"
#include "export/export_format.h"
#include "export/ogg_export.h"
#include "export/transcoder.h"
#include "midi/midi_reader.h"
#include "platform/dialogs.h"
#include "resources/strings.h"
#include "ui/control_panel.h"

namespace {

// The error box of a failed export: the exporter's own account of what failed.
void ShowExportFailure(SessionState& state, const std::string& text) {
    const char* caption = res::LoadString(res::IdsError);
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

void ShowExportProgressBar(ControlPanel* panel, bool shown) {
    if (panel == nullptr) return;
    panel->exportButton.showProgress = shown;
    panel->exportButton.progress = -1.0f;
}

}  // namespace

bool PlayerController::ExportAudio() {
    SessionState& s = shared;
    if (!s.midiParsed || !s.songReady) {
        const char* caption = res::LoadString(res::IdsExportAudio);
        if (s.dialogs != nullptr) {
            s.dialogs->ShowError(NothingToExportText(s), caption);
        } else {
            std::fprintf(stderr, "%s: %s\n", caption, NothingToExportText(s).c_str());
        }
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
