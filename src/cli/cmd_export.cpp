// dorvik-midi export: the window's export jobs on a WAV file, without the window.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/export_wait.h"
#include "core/file_access.h"
#include "export/export_failure.h"
#include "export/export_format.h"
#include "export/export_job.h"
#include "export/export_source.h"
#include "export/transcoder.h"
#include "platform/atomic_file.h"

namespace cli {

int RunExport(int argc, char** argv) {
    const char* source = nullptr;
    const char* target = nullptr;
    QualityLevel level = QualityStandard;
    ExportRange range;
    for (int i = 0; i < argc; ++i) {
        if (int status = 0; TakeRangeOption(argv[i], argc, argv, i, range, status)) {
            if (status != 0) return status;
        } else if (std::strcmp(argv[i], "-o") == 0) {
            if (++i == argc) return UsageError("-o needs a file name");
            target = argv[i];
        } else if (std::strcmp(argv[i], "--quality") == 0) {
            if (++i == argc) return UsageError("--quality needs standard, high or maximum");
            const std::string value = argv[i];
            const std::optional<QualityLevel> parsed = ParseQualityLevel(value);
            if (!parsed) return UsageError("unknown quality " + value + " (standard, high or maximum)");
            level = *parsed;
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
    const std::optional<ExportFormat> format = AudioFormatOfPath(target);
    if (!format) {
        return UsageError(std::string("cannot tell the format of ") + target +
                          ": the name must end in .wav, .ogg, .flac, .m4a, .aac or .mp3");
    }

    // The output may not be the input by any name (itself, a link, a second name): even a whole
    // copy onto itself says nothing useful, and a part would replace the recording it is cut from.
    if (IsSameFile(source, target)) {
        return Fail(std::string("cannot write ") + target + ": it is the file being exported from (" +
                      source + ")");
    }

    // A part that starts past the song's end is a usage error like any other bad time, told before
    // the target is touched.
    if (!range.Whole()) {
        ExportSource checked;
        if (const SourceCheck check = OpenExportSource(source, checked); check != SourceCheck::Ok)
            return Fail(SourceFailure(check, source, checked.error).text);
        const WavFormat& f = checked.reader.format->header;
        const uint64_t held =
            std::min<uint64_t>(checked.reader.dataSize, checked.fileBytes - checked.dataOffset);
        const double length = static_cast<double>(held / f.blockAlign) / f.samplesPerSec;
        if (const std::string problem = RangeProblem(range, length); !problem.empty())
            return UsageError(std::string(source) + ": " + problem);
    }

    ExportRequest request;
    request.range = range;
    request.source = source;
    request.target = target;
    request.format = *format;
    request.quality = level;
    request.displayName = FileTitleFromPath(source);
    if (*format != ExportFormat::Wav && *format != ExportFormat::Ogg) {
        FormatAvailability availability{};
        ProbeEncoders(availability);
        request.availability = AvailabilityOf(availability, *format);
        if (request.availability == 0) {
            return Fail(std::string("this FFmpeg cannot write ") + ExportFormatName(*format) + " files");
        }
    }

    // An interrupted export leaves the target as it was, and nothing of the new file.
    platform::RemoveTemporaryFilesOnSignal();
    ExportJob job;
    if (!job.Start(std::move(request))) return Fail(job.Result());
    if (*format == ExportFormat::Wav) {
        // The copy shows no bar, as it never has: it takes no longer than reading the file.
        const Failure& result = job.Result();
        return Fail(result);
    }
    ProgressBar bar("exporting");
    const Failure& result = WaitForExport(job, bar);
    return Fail(result);
}

}  // namespace cli
