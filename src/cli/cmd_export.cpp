// dorvik-midi export: the window's export paths on a WAV file, without the window.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/progress_bar.h"
#include "core/session_state.h"
#include "export/export_format.h"
#include "export/ogg_encoder.h"
#include "export/transcoder.h"
#include "platform/atomic_file.h"
#include "resources/strings.h"

namespace cli {
namespace {

constexpr uint16_t kNoFormat = ExportFormatCount;

int OggProgress(void* context, EncoderMessage message, int32_t value) {
    if (message == EncoderMessage::Progress) static_cast<ProgressBar*>(context)->Show(value);
    return 0;
}

// A display name as the window forms it: the file name without folder and extension.
std::string FileTitle(const std::string& path) {
    std::string name = BaseName(path);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

int Failed(const std::string& text) {
    std::fprintf(stderr, "dorvik-midi: %s\n", text.c_str());
    return 1;
}

int ExportOgg(const std::string& source, const std::string& target, int level) {
    EncoderJob job;
    char errorText[kEncoderErrorTextSize] = {};
    FillEncoderJob(job, source, target, FileTitle(source), level, errorText);
    ProgressBar bar("exporting");
    job.callback = OggProgress;
    job.callbackContext = &bar;
    if (OggEncodeThread(job) != 1) {
        bar.Close();
        return Failed(errorText);
    }
    bar.Show(100);
    return 0;
}

int Transcode(const std::string& source, const std::string& target, uint16_t format, int level) {
    SessionState state;
    ProbeEncoders(state);
    if (state.exportFormatFlags[format] == 0) {
        return Failed(std::string("this FFmpeg cannot write ") + ExportFormatName(format) + " files");
    }
    state.outputWavPath = source;
    state.exportPath = target;
    state.exportFormat = format;
    state.exportQuality = static_cast<int16_t>(level);
    Transcoder transcoder(state);
    ProgressBar bar("exporting");
    // The window copies half a second per frame; without frames to keep going, bigger steps
    // spend less time in the loop itself.
    constexpr double kStepSeconds = 5.0;
    bool running = transcoder.Start();
    while (running) {
        bar.Show(TranscodeProgressPercent(transcoder.position, transcoder.sourceSeconds));
        running = transcoder.Step(kStepSeconds);
    }
    if (transcoder.failure != ExportOk) {
        bar.Close();
        return Failed(transcoder.failureText);
    }
    bar.Show(100);
    return 0;
}

}  // namespace

int RunExport(int argc, char** argv) {
    const char* source = nullptr;
    const char* target = nullptr;
    int level = QualityStandard;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0) {
            if (++i == argc) return UsageError("-o needs a file name");
            target = argv[i];
        } else if (std::strcmp(argv[i], "--quality") == 0) {
            if (++i == argc) return UsageError("--quality needs standard, high or maximum");
            const std::string value = argv[i];
            if (value == res::LoadString(res::IdsStandard)) {
                level = QualityStandard;
            } else if (value == res::LoadString(res::IdsHigh)) {
                level = QualityHigh;
            } else if (value == res::LoadString(res::IdsMaximum)) {
                level = QualityMaximum;
            } else {
                return UsageError("unknown quality " + value + " (standard, high or maximum)");
            }
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return UsageError(std::string("unknown option ") + argv[i]);
        } else if (source == nullptr) {
            source = argv[i];
        } else {
            return UsageError("export takes one WAV file");
        }
    }
    if (source == nullptr) return UsageError("export needs a WAV file");
    if (target == nullptr) return UsageError("export needs -o OUT");
    const uint16_t format = ChooseExportFormat(target, kNoFormat);
    if (format == kNoFormat) {
        return UsageError(std::string("cannot tell the format of ") + target +
                          ": the name must end in .wav, .ogg, .flac, .m4a, .aac or .mp3");
    }

    // An interrupted export leaves the target as it was, and nothing of the new file.
    platform::RemoveTemporaryFilesOnSignal();
    switch (format) {
        case FormatWav: {
            const ExportResult result = CopyWavFile(source, target);
            return result.Ok() ? 0 : Failed(result.text);
        }
        case FormatOgg:
            return ExportOgg(source, target, level);
        default:
            return Transcode(source, target, format, level);
    }
}

}  // namespace cli
