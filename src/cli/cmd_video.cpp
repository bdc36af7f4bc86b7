// dorvik-midi video: the song rendered as `render` renders it, and its falling notes drawn by the
// window's own panels, written as an MP4 with the sound.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/progress_bar.h"
#include "export/export_format.h"
#include "export/video_export.h"
#include "platform/atomic_file.h"
#include "resources/strings.h"

namespace cli {
namespace {

int Failed(const std::string& text) {
    std::fprintf(stderr, "dorvik-midi: %s\n", text.c_str());
    return 1;
}

// The display name the window gives a file: its name without folder and extension.
std::string FileTitle(const std::string& path) {
    std::string name = BaseName(path);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

bool ParseQuality(const std::string& value, int& level) {
    const int levels[] = {QualityStandard, QualityHigh, QualityMaximum};
    const int names[] = {res::IdsStandard, res::IdsHigh, res::IdsMaximum};
    for (int i = 0; i < 3; ++i) {
        if (value == res::LoadString(names[i])) {
            level = levels[i];
            return true;
        }
    }
    return false;
}

// The largest side a frame may have: beyond it a single frame would take gigabytes.
constexpr int kLargestSide = 7680;

}  // namespace

int RunVideo(int argc, char** argv) {
    std::string soundFont, midi, output;
    VideoExportRequest request;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "--soundfont" || arg == "-o" || arg == "--output" || arg == "--size" ||
                                arg == "--fps" || arg == "--quality" || arg == "--view" ||
                                arg == "--dump-raw";
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
            request.settings.width = w;
            request.settings.height = h;
        } else if (arg == "--fps") {
            const std::string value = argv[++i];
            if (value != "30" && value != "60") return UsageError("--fps takes 30 or 60 (not " + value + ")");
            request.settings.fps = value == "30" ? 30 : 60;
        } else if (arg == "--quality") {
            const std::string value = argv[++i];
            if (!ParseQuality(value, request.settings.quality))
                return UsageError("unknown quality " + value + " (standard, high or maximum)");
        } else if (arg == "--view") {
            const std::string value = argv[++i];
            if (value != "full" && value != "window") return UsageError("--view takes full or window");
            request.view = value == "full" ? VideoView::Full : VideoView::Window;
        } else if (arg == "--dump-raw") {
            // Not in the usage text: the raw frames for measuring the encoder on its own.
            request.rawCopy = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (midi.empty()) {
            midi = arg;
        } else {
            return UsageError("video takes one MIDI file");
        }
    }
    if (soundFont.empty()) return UsageError("video needs --soundfont FILE.sf2");
    if (midi.empty()) return UsageError("video needs a MIDI file");
    if (output.empty()) return UsageError("video needs -o OUT.mp4");

    for (const std::string* input : {&midi, &soundFont}) {
        if (NotARegularFile(*input)) return Failed(*input + ": not a regular file");
    }
    std::string error;
    if (!CheckOutput(output, midi, soundFont, request.target, error))
        return Failed("cannot write " + output + ": " + error);

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

    SessionState& state = render.state;
    state.soundFontName = FileTitle(soundFont);
    state.soundFontLoaded = true;
    state.playState = Playing;
    request.wavPath = state.outputWavPath;

    ProgressBar bar("exporting video");
    const ExportResult result =
        ExportVideo(state, request, nullptr, [&bar](float f) { bar.Show(static_cast<int>(f * 100.0f)); });
    bar.Close();
    if (!result.Ok()) return Failed(result.text);
    std::printf("%s: %dx%d, %d fps\n", output.c_str(), request.settings.width, request.settings.height,
                request.settings.fps);
    return 0;
}

}  // namespace cli
