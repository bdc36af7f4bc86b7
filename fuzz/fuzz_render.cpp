// Renders arbitrary MIDI bytes through FluidSynth, as the window and the command line do, and
// checks that the render ends within the song's length as the program's reader reads it plus the
// release tail, however FluidSynth's player reads the file; the same through the render's own
// sequencer, which must stream exactly the events the reader lists, at the same times. Songs read
// as longer than 20 seconds are skipped to keep each run short; the time and the output's size are
// capped by that bound.
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
#include "midi/note_timeline.h"
#include "midi/song_events.h"
#include "synth/render_file.h"
#include "synth/song_sequencer.h"
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
    TempoMap tempo;
    if (!ParseSong(*song, data, size, &tempo) || song->duration > 20.0) return 0;
    const double limitFrames = (song->duration + SynthRenderer::kReleaseTailSeconds) * 44100.0 + 64;

    SongEvents events;
    SongSequencer sequencer;
    if (!ReadSongEvents(data, size, *song, tempo, events) || !sequencer.Open(data, size)) std::abort();
    size_t streamed = 0;
    for (SequencedEvent e{}; sequencer.Next(e); ++streamed) {
        if (streamed >= events.events.size()) std::abort();
        const SongEvent& x = events.events[streamed];
        if (e.status != x.status || e.data1 != x.data1 || e.data2 != x.data2 || e.seconds != x.seconds)
            std::abort();
    }
    if (streamed != events.events.size()) std::abort();

    auto midi = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    for (const size_t ownFrom : {kOwnSequencerBytes, size_t{0}}) {
        SynthRenderer synth;
        auto file = std::make_unique<RenderFile>();
        RenderRequest request{midi, kSoundFont, song.get()};
        request.ownSequencerBytes = ownFrom;
        if (!file->CreateOwn(Folder() + "/out.wav").Ok() ||
            !synth.StartRender(request, std::move(file)).Ok()) {
            continue;
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
    }
    return 0;
}
