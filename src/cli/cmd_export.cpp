// dorvik-midi export: the window's export jobs on a WAV file, or on a song rendered for them first,
// without the window.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/player_controller.h"
#include "cli/commands.h"
#include "cli/export_wait.h"
#include "core/file_access.h"
#include "export/export_failure.h"
#include "export/export_format.h"
#include "export/export_job.h"
#include "export/export_source.h"
#include "export/transcoder.h"
#include "midi/midi_reader.h"
#include "midi/song_tags.h"
#include "platform/atomic_file.h"
#include "synth/render_file.h"

namespace cli {
namespace {

// The seconds of sound a WAV export source holds: whole frames of its data chunk, as far as the
// file goes.
double SourceSeconds(const ExportSource& source) {
    const WavFormat& f = source.reader.format->header;
    const uint64_t held = std::min<uint64_t>(source.reader.dataSize, source.fileBytes - source.dataOffset);
    return static_cast<double>(held / f.blockAlign) / f.samplesPerSec;
}

// What a song file says of itself, as the export's tags. A file that cannot be read gives none: its
// render says why.
AudioTags TagsOfSong(const std::string& midi) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(midi, bytes).Ok()) return {};
    MidiTags tags = ReadMidiTags(bytes.data(), bytes.size());
    return {std::move(tags.title), std::move(tags.composer), std::move(tags.copyright)};
}

}  // namespace

int RunExport(int argc, char** argv) {
    const char* source = nullptr;
    const char* target = nullptr;
    std::string soundFont;
    const char* title = nullptr;
    QualityLevel level = QualityStandard;
    ExportRange range;
    RenderChoices choices;  // a song's clicks and transposition, as render takes them
    for (int i = 0; i < argc; ++i) {
        if (int status = 0; TakeRangeOption(argv[i], argc, argv, i, range, status)) {
            if (status != 0) return status;
        } else if (std::strcmp(argv[i], "-o") == 0) {
            if (++i == argc) return UsageError("-o needs a file name");
            target = argv[i];
        } else if (std::strcmp(argv[i], "--soundfont") == 0) {
            if (++i == argc) return UsageError("--soundfont needs a file");
            soundFont = argv[i];
        } else if (std::strcmp(argv[i], "--title") == 0) {
            if (++i == argc) return UsageError("--title needs the title to tag the file with");
            title = argv[i];
        } else if (std::strcmp(argv[i], "--quality") == 0) {
            if (++i == argc) return UsageError("--quality needs standard, high or maximum");
            const std::string value = argv[i];
            const std::optional<QualityLevel> parsed = ParseQualityLevel(value);
            if (!parsed) return UsageError("unknown quality " + value + " (standard, high or maximum)");
            level = *parsed;
        } else if (std::strcmp(argv[i], "--metronome") == 0) {
            choices.metronome = true;
        } else if (std::strcmp(argv[i], "--transpose") == 0) {
            if (!ParseTranspose(i + 1 < argc ? argv[++i] : "", choices.transpose))
                return UsageError("--transpose takes semitones from -12 to 12");
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return UsageError(std::string("unknown option ") + argv[i]);
        } else if (source == nullptr) {
            source = argv[i];
        } else {
            return UsageError("export takes one WAV or MIDI file");
        }
    }
    if (source == nullptr) return UsageError("export needs a WAV or MIDI file");
    if (target == nullptr) return UsageError("export needs -o OUT");
    const std::optional<ExportFormat> format = AudioFormatOfPath(target);
    if (!format) {
        return UsageError(std::string("cannot tell the format of ") + target +
                          ": the name must end in .wav, .ogg, .flac, .m4a, .aac or .mp3");
    }
    const bool song = FileKindOfPath(source) == FileKind::Midi;
    if (!song && !soundFont.empty())
        return UsageError(std::string("--soundfont is for songs; ") + source + " is taken as a WAV file");
    if (!song && (choices.metronome || choices.transpose != 0))
        return UsageError(std::string("--metronome and --transpose are for songs; ") + source +
                          " is taken as a WAV file");
    if (song && soundFont.empty()) soundFont = DefaultSoundFont();

    // The output may not be the input by any name (itself, a link, a second name): even a whole
    // copy onto itself says nothing useful, and a part would replace the recording it is cut from.
    if (IsSameFile(source, target)) {
        return Fail(std::string("cannot write ") + target + ": it is the file being exported from (" +
                    source + ")");
    }

    // A part that starts past the end of a WAV file is a usage error like any other bad time, told
    // before the target is touched; a song's length is known once it is rendered.
    double seconds = 0.0;
    if (!song) {
        ExportSource checked;
        if (const Failure refused = OpenExportSource(source, checked); !refused.Ok()) return Fail(refused);
        seconds = SourceSeconds(checked);
        if (const std::string problem = RangeProblem(range, seconds); !problem.empty())
            return UsageError(std::string(source) + ": " + problem);
    }

    ExportRequest request;
    request.range = range;
    request.source = source;
    request.target = target;
    request.format = *format;
    request.quality = level;
    request.displayName = FileTitleFromPath(source);
    // Untitled, the file is titled by the job with its display name.
    if (song) request.tags = TagsOfSong(source);
    if (title != nullptr) request.tags.title = title;
    if (*format != ExportFormat::Wav && *format != ExportFormat::Ogg) {
        FormatAvailability availability{};
        ProbeEncoders(availability);
        request.availability = AvailabilityOf(availability, *format);
        if (request.availability == 0) {
            return Fail(std::string("this FFmpeg cannot write ") + ExportFormatName(*format) + " files");
        }
    }

    // A song is rendered as `render` renders it, into a temporary file beside the target that goes
    // when the export ends: only the file asked for is left.
    std::unique_ptr<RenderFile> sound;
    if (song) {
        if (NotARegularFile(soundFont)) return Fail(soundFont + ": not a regular file");
        if (Failure refused = CheckOutput(target, source, soundFont, request.target); !refused.Ok())
            return Fail(std::string("cannot write ") + target + ": " + refused.text);
        SongRender render;
        if (const int status =
                RenderSong(source, soundFont, FolderOf(request.target), target, render, choices);
            status != 0)
            return status;
        seconds = render.song.song->duration;
        if (const std::string problem = RangeProblem(range, seconds); !problem.empty())
            return UsageError(std::string(source) + ": " + problem);
        // The synthesiser and its SoundFont have done their part; only the rendered file is kept.
        sound = std::move(render.synth->renderFile);
        request.source = render.audio.wavPath;
    }
    if (!range.Whole()) seconds = (range.to >= 0.0 ? std::min(range.to, seconds) : seconds) - range.from;

    // An interrupted export leaves the target as it was, and nothing of the new file.
    platform::RemoveTemporaryFilesOnSignal();
    ExportJob job;
    if (!job.Start(std::move(request))) return Fail(job.Result());
    Failure result;
    if (*format == ExportFormat::Wav) {
        // The copy shows no bar, as it never has: it takes no longer than reading the file.
        result = job.Result();
    } else {
        ProgressBar bar("exporting");
        result = WaitForExport(job, bar);
    }
    if (!result.Ok()) return Fail(result);
    std::printf("%s: %s, %.1f s\n", target, ExportFormatName(*format), seconds);
    return 0;
}

}  // namespace cli
