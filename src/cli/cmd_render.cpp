// dorvik-midi render: the window's offline render of a song, run to completion without a window.
// The song is parsed as the window parses it and rendered through the same SynthRenderer slices;
// only the output file is the one named on the command line instead of the settings folder's.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/song_report.h"
#include "midi/midi_reader.h"
#include "synth/synth_renderer.h"

namespace cli {

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "dorvik-midi: %s\n", message.c_str());
    return 1;
}

// The "Load MIDI" button's progress, as a bar on standard error. Drawn only on a terminal, so
// that a log or a pipe gets no carriage-return clutter.
class ProgressBar final : public RenderProgressSink {
  public:
    explicit ProgressBar(std::string name) : enabled_(isatty(STDERR_FILENO) == 1), name_(std::move(name)) {}

    void SetRenderProgress(float percent) override {
        if (!enabled_ || !(percent >= 0)) return;
        constexpr int kWidth = 40;
        const float shown = percent > 100 ? 100 : percent;
        const int filled = static_cast<int>(shown * kWidth / 100);
        char bar[kWidth + 1];
        for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '-';
        bar[kWidth] = '\0';
        std::fprintf(stderr, "\rrendering %s [%s] %3.0f%%", name_.c_str(), bar, static_cast<double>(shown));
        std::fflush(stderr);
        drawn_ = true;
    }
    void SetMidiLabel(const std::string&) override {}
    void EndRender() override {
        if (drawn_) std::fputc('\n', stderr);
        drawn_ = false;
    }

  private:
    bool enabled_;
    bool drawn_ = false;
    std::string name_;
};

// The render goes to a temporary file beside the output and takes the output's name only once it
// is complete, so a failed render leaves an existing file untouched and never leaves half a song
// under the name asked for. The temporary name ends in ".wav" because the file renderer picks the
// file type from the extension.
class PendingOutput {
  public:
    ~PendingOutput() {
        if (!path_.empty()) unlink(path_.c_str());
    }

    bool Create(const std::string& target, std::string& error) {
        const std::filesystem::path out(target);
        std::error_code ec;
        if (std::filesystem::is_directory(out, ec)) {
            error = "is a folder";
            return false;
        }
        const std::filesystem::path folder = out.has_parent_path() ? out.parent_path() : ".";
        std::string name = (folder / ("." + out.filename().string() + ".XXXXXX.wav")).string();
        const int fd = mkostemps(name.data(), 4, O_CLOEXEC);
        if (fd < 0) {
            error = std::strerror(errno);
            return false;
        }
        // mkostemps makes the file private; the finished output gets the permissions of any new
        // file of the user's.
        const mode_t mask = umask(0);
        umask(mask);
        const bool ok = fchmod(fd, 0666 & ~mask) == 0;
        close(fd);
        path_ = name;
        if (!ok) error = std::strerror(errno);
        return ok;
    }

    const std::string& path() const { return path_; }

    bool Commit(const std::string& target, std::string& error) {
        if (std::rename(path_.c_str(), target.c_str()) != 0) {
            error = std::strerror(errno);
            return false;
        }
        path_.clear();
        return true;
    }

  private:
    std::string path_;
};

}  // namespace

int RunRender(int argc, char** argv) {
    std::string soundFont, midi, output;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "--soundfont" || arg == "-o" || arg == "--output";
        if (takesValue && i + 1 >= argc) return UsageError(arg + " needs a file");
        if (arg == "--soundfont") {
            soundFont = argv[++i];
        } else if (arg == "-o" || arg == "--output") {
            output = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (midi.empty()) {
            midi = arg;
        } else {
            return UsageError("render takes one MIDI file");
        }
    }
    if (soundFont.empty()) return UsageError("render needs --soundfont FILE.sf2");
    if (midi.empty()) return UsageError("render needs a MIDI file");
    if (output.empty()) return UsageError("render needs -o OUT.wav");

    // Errors only: FluidSynth's warnings (a SoundFont that cannot be pinned in memory, say) say
    // nothing about the result and would break up the progress bar.
    ShowFluidSynthMessages(false);

    SessionState state;
    state.soundFontPath = soundFont;
    state.midiPath = midi;
    state.song = std::make_unique<SongData>();
    state.midiParsed = ReadMidiFile(*state.song, midi);
    if (!state.midiParsed) return Fail(midi + ": " + LoadFailureReason(*state.song, false));

    std::string error;
    PendingOutput pending;
    if (!pending.Create(output, error)) return Fail("cannot write " + output + ": " + error);

    {
        SynthRenderer synth(state);
        if (!synth.Valid()) return Fail("FluidSynth could not be set up");
        // The SoundFont is loaded once, by the render's own fresh synthesiser.
        state.rendered = synth.StartRender(pending.path());
        if (!state.rendered) return Fail("cannot render " + midi + ": " + synth.lastError);
        if (!synth.soundFontReloaded) return Fail(soundFont + ": not a SoundFont that FluidSynth can load");

        ProgressBar bar(BaseName(midi));
        RenderOutcome outcome;
        while ((outcome = synth.RenderStep(bar)) == RenderOutcome::Running) {
        }
        if (outcome == RenderOutcome::Failed) {
            return Fail("cannot write " + output + ": the render stopped part way (is the disk full?)");
        }
        if (!state.songReady) return Fail("the rendered audio could not be read back as 16-bit PCM");
    }

    if (!pending.Commit(output, error)) return Fail("cannot write " + output + ": " + error);
    const double frames = static_cast<double>(state.wavDataBytes) / 2.0 / state.wavChannels;
    std::printf("%s: %.1f s, %u Hz, %d channels\n", output.c_str(), frames / state.wavSampleRate,
                state.wavSampleRate, state.wavChannels);
    return 0;
}

}  // namespace cli
