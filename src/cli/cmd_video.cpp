// dorvik-midi video: the song rendered as `render` renders it, and its falling notes drawn by the
// window's own panels, written as an MP4 with the sound.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/export_wait.h"
#include "core/file_access.h"
#include "export/export_format.h"
#include "export/export_job.h"
#include "midi/lyrics.h"
#include "midi/midi_reader.h"
#include "platform/atomic_file.h"

namespace cli {
namespace {

// The largest side a frame may have: beyond it a single frame would take gigabytes.
constexpr int kLargestSide = 7680;

}  // namespace

int RunVideo(int argc, char** argv) {
    std::string soundFont, midi, output, rawCopy;
    bool lyrics = false;  // the song's words above the keyboard
    bool score = false;   // the sheet music over the falling notes
    ExportRequest request;
    request.format = ExportFormat::Mp4;
    // A video made to be posted opens on its title and lets the first notes fall into view.
    request.look.titleCard = true;
    request.look.leadIn = true;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        // A time has words of its own for a missing value.
        if (int status = 0; TakeRangeOption(arg, argc, argv, i, request.range, status)) {
            if (status != 0) return status;
            continue;
        }
        const bool takesValue = IsOneOf(kVideoValueOptions, arg) || arg == "-o" || arg == "--output" ||
                                arg == "--dump-raw" || arg == "--title" || arg == "--part";
        if (takesValue && i + 1 >= argc) return UsageError(arg + " needs a value");
        if (arg == "--soundfont") {
            soundFont = argv[++i];
        } else if (arg == "-o" || arg == "--output") {
            output = argv[++i];
        } else if (arg == "--size") {
            const std::string value = argv[++i];
            int w = 0, h = 0;
            char tail = 0;
            if (std::sscanf(value.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 2 || h < 2 ||
                w > kLargestSide || h > kLargestSide || w % 2 != 0 || h % 2 != 0) {
                return UsageError("--size takes WIDTHxHEIGHT, both even, from 2 to 7680 (not " + value + ")");
            }
            request.video.width = w;
            request.video.height = h;
        } else if (arg == "--fps") {
            const std::string value = argv[++i];
            if (value != "30" && value != "60") return UsageError("--fps takes 30 or 60 (not " + value + ")");
            request.video.fps = value == "30" ? 30 : 60;
        } else if (arg == "--quality") {
            const std::string value = argv[++i];
            const std::optional<QualityLevel> level = ParseQualityLevel(value);
            if (!level) return UsageError("unknown quality " + value + " (standard, high or maximum)");
            request.quality = *level;
            request.video.quality = *level;
        } else if (arg == "--view") {
            const std::string value = argv[++i];
            if (value != "full" && value != "window") return UsageError("--view takes full or window");
            request.view = value == "full" ? VideoView::Full : VideoView::Window;
        } else if (arg == "--lyrics") {
            lyrics = true;
        } else if (arg == "--score") {
            score = true;
        } else if (arg == "--part") {
            // A staff for each part named: "--part 2,5" or "--part 2 --part 5".
            if (!ParsePartList(argv[++i], request.song.scoreParts))
                return UsageError("--part takes parts from 1, split by commas (2,5), not " +
                                  std::string(argv[i]));
        } else if (arg == "--fit" || arg == "--no-fit") {
            request.look.fit = arg == "--fit" ? VideoFit::On : VideoFit::Off;
        } else if (arg == "--title") {
            request.look.title = argv[++i];
            request.look.titleCard = true;
        } else if (arg == "--no-title") {
            request.look.titleCard = false;
        } else if (arg == "--theme") {
            const std::string value = argv[++i];
            const std::optional<VideoTheme> theme = ParseVideoTheme(value);
            if (!theme) return UsageError("--theme takes dark, light or contrast (not " + value + ")");
            request.look.theme = *theme;
        } else if (arg == "--background") {
            request.look.background = argv[++i];
        } else if (arg == "--dump-raw") {
            // The raw frames too, for measuring the encoder on its own.
            rawCopy = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (midi.empty()) {
            midi = arg;
        } else {
            return UsageError("video takes one MIDI file");
        }
    }
    if (soundFont.empty()) soundFont = DefaultSoundFont();
    if (midi.empty()) return UsageError("video needs a MIDI file");
    if (output.empty()) return UsageError("video needs -o OUT.mp4");
    // The file is an MP4 whatever it is called; a name that says otherwise would mislead every
    // program that opens it.
    if (!HasExtension(output, ExportFormatExtension(ExportFormat::Mp4)))
        return UsageError("cannot write " + output + ": a video's name must end in .mp4");

    for (const std::string* input : {&midi, &soundFont}) {
        if (NotARegularFile(*input)) return Fail(*input + ": not a regular file");
    }
    // A picture that cannot be used is found before the song is rendered, not minutes later.
    if (!request.look.background.empty()) {
        if (Failure refused = CheckVideoBackground(request.look.background); !refused.Ok())
            return Fail(refused);
    }
    if (Failure refused = CheckOutput(output, midi, soundFont, request.target); !refused.Ok())
        return Fail("cannot write " + output + ": " + refused.text);
    // The raw frames are written as they come, so they meet the same checks as the video: never
    // over an input, a folder or a device.
    if (!rawCopy.empty()) {
        if (Failure refused = CheckOutput(rawCopy, midi, soundFont, request.rawCopy); !refused.Ok())
            return Fail("cannot write " + rawCopy + ": " + refused.text);
        if (request.rawCopy == request.target)
            return Fail("cannot write " + rawCopy + ": it is the video's own file");
    }

    if (!request.song.scoreParts.empty() && !score)
        return UsageError("--part chooses the parts --score shows");
    if (score) {
        // The file is read for its tempo map and signatures, which the render does not keep, before
        // the render, so that a part the song does not have is refused at once.
        auto bytes = std::make_shared<std::vector<uint8_t>>();
        auto tempo = std::make_shared<TempoMap>();
        SongData song;
        if (!ReadMidiFile(song, midi, bytes.get(), tempo.get()))
            return Fail(midi + ": " + MidiLoadFailureText(song));
        if (const std::string problem = NoSuchPart(song, request.song.scoreParts, midi); !problem.empty())
            return UsageError(problem);
        request.song.scoreTempo = std::move(tempo);
        request.song.scoreMidi = std::move(bytes);
    }

    // The sound is rendered beside the video, into a temporary file that goes when the export ends.
    SongRender render;
    if (const int status = RenderSong(midi, soundFont, FolderOf(request.target), output, render); status != 0)
        return status;
    // Installed after the render's own handlers, which it hands on to: an interrupted export
    // removes both the unfinished video and the temporary sound.
    platform::RemoveTemporaryFilesOnSignal();

    // The synthesiser and its SoundFont (a hundred megabytes and more) have done their part; only
    // the rendered file is kept, and it goes when the export ends.
    const std::unique_ptr<RenderFile> sound = std::move(render.synth->renderFile);
    render.synth.reset();

    if (const std::string problem = RangeProblem(request.range, render.song.song->duration); !problem.empty())
        return UsageError(midi + ": " + problem);

    request.source = render.audio.wavPath;
    request.displayName = render.song.name;
    request.song.song = std::shared_ptr<const SongData>(std::move(render.song.song));
    request.song.overview = render.audio.overview;
    request.song.overviewRead = true;  // RenderSong has read it, or failed
    request.song.midiName = render.song.name;
    request.song.soundFontName = FileTitleFromPath(soundFont);
    if (lyrics) {
        std::vector<uint8_t> bytes;
        if (ReadFileBytes(midi, bytes).Ok()) {
            auto words = std::make_shared<SongLyrics>(ReadLyrics(bytes.data(), bytes.size()));
            if (words->Empty())
                std::fprintf(stderr, "dorvik-midi video: %s has no words to show\n", midi.c_str());
            request.song.lyrics = std::move(words);
        }
    }

    ExportJob job;
    if (!job.Start(request)) return Fail(job.Result());
    ProgressBar bar("exporting video");
    const Failure& result = WaitForExport(job, bar);
    if (!result.Ok()) {
        // The job read the song's render, a file of the process's own that the user never named:
        // a message about it is about the song.
        std::string text = result.text;
        for (size_t at = 0; (at = text.find(request.source, at)) != std::string::npos; at += midi.size())
            text.replace(at, request.source.size(), midi);
        return Fail(text);
    }
    std::printf("%s: %dx%d, %d fps\n", output.c_str(), request.video.width, request.video.height,
                request.video.fps);
    return 0;
}

}  // namespace cli
