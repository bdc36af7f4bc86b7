// Renders arbitrary MIDI bytes through FluidSynth, as the window and the command line do, and
// checks that the render ends within the song's length as the program's reader reads it plus the
// release tail, however FluidSynth's player reads the file. Songs read as longer than 20 seconds
// are skipped to keep each run short; the time and the output's size are capped by that bound.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "midi/midi_reader.h"
#include "synth/render_file.h"
#include "synth/synth_renderer.h"

namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

std::string Folder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/fuzz-render-XXXXXX";
        return std::string(mkdtemp(pattern) != nullptr ? pattern : "/tmp");
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    static const bool quiet = (ShowFluidSynthMessages(false), true);
    (void)quiet;

    auto song = std::make_unique<SongData>();
    if (!ParseSong(*song, data, size) || song->duration > 20.0) return 0;
    const double limitFrames = (song->duration + SynthRenderer::kReleaseTailSeconds) * 44100.0 + 64;

    auto midi = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    SynthRenderer synth;
    auto file = std::make_unique<RenderFile>();
    if (!file->CreateOwn(Folder() + "/out.wav").Ok() ||
        !synth.StartRender({std::move(midi), kSoundFont, song.get()}, std::move(file)).Ok()) {
        return 0;
    }
    while (synth.RenderStep().outcome == RenderOutcome::Running) {
        struct stat info {};
        if (fstat(synth.renderFile->fd(), &info) != 0) std::abort();
        // Checked while it runs, so a render without end is caught rather than waited for.
        if (static_cast<double>(info.st_size - 44) / 4.0 > limitFrames + 65536) std::abort();
    }
    struct stat info {};
    if (synth.renderFile && fstat(synth.renderFile->fd(), &info) == 0 &&
        static_cast<double>(info.st_size - 44) / 4.0 > limitFrames) {
        std::abort();
    }
    return 0;
}
