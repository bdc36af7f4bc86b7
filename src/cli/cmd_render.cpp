// dorvik-midi render: the window's offline render of a song, run to completion without a window.
// The song is parsed as the window parses it and rendered through the same SynthRenderer slices,
// normalised as the window's is; only the output file is the one named on the command line
// instead of the settings folder's. --raw gives FluidSynth's own output, byte for byte.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/song_report.h"
#include "core/file_access.h"
#include "midi/midi_reader.h"
#include "midi/song_beats.h"
#include "platform/atomic_file.h"
#include "settings/settings.h"
#include "settings/song_hands.h"
#include "synth/render_file.h"
#include "synth/render_overview.h"
#include "synth/synth_renderer.h"

namespace cli {

namespace {

// The "Load MIDI" button's progress, as a bar on standard error. Drawn only on a terminal, so
// that a log or a pipe gets no carriage-return clutter.
class ProgressBar final {
  public:
    explicit ProgressBar(std::string name) : enabled_(isatty(STDERR_FILENO) == 1), name_(std::move(name)) {}
    ~ProgressBar() {
        if (drawn_) std::fputc('\n', stderr);
    }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Draws the bar when the percentage shown has moved.
    void Show(float percent) {
        if (!enabled_ || !(percent >= 0) || (drawn_ && percent == shown_)) return;
        shown_ = percent;
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

  private:
    bool enabled_;
    bool drawn_ = false;
    float shown_ = 0;
    std::string name_;
};

}  // namespace

// Where the render may go: the output resolved through links, and not a file the render reads.
// The render replaces the output by renaming a complete file over it, so anything that is not a
// regular file (a device, a pipe, a folder) is refused rather than replaced.
Failure CheckOutput(const std::string& output, const std::string& midi, const std::string& soundFont,
                    std::string& target) {
    target = output;
    struct stat out {};
    if (stat(output.c_str(), &out) != 0) {
        if (errno != ENOENT) {
            return Failure::Because(FailureKind::TargetOpen, std::strerror(errno));
        }
        // A dangling link would be replaced by the file rather than followed; name the link's own
        // target instead, as when it exists.
        struct stat link {};
        if (lstat(output.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            return Failure::Because(FailureKind::TargetOpen, "is a link to a file that does not exist");
        }
        return Failure::None();
    }
    if (S_ISDIR(out.st_mode)) {
        return Failure::Because(FailureKind::TargetOpen, "is a folder");
    }
    if (!IsRegularFile(out)) {
        return Failure::Because(FailureKind::TargetOpen,
                                "is not a regular file (a device or a pipe); only files are written");
    }
    for (const std::string* input : {&midi, &soundFont}) {
        struct stat in {};
        if (stat(input->c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            return Failure::Because(FailureKind::TargetOpen,
                                    "is the file being rendered from (" + *input + ")");
        }
    }
    // A link is replaced where it points, so the link survives and keeps naming the song.
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(output, ec);
    if (!ec) target = resolved.string();
    return Failure::None();
}

namespace {

// Whether the file name ends in ".wav", in any case.
bool HasWavExtension(const std::string& path) {
    const std::string name = BaseName(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "wav";
}

// A speed as --speed takes it: a whole percentage from 25 to 200 in steps of 5, the steps a
// practice session moves in.
bool ParseSpeedPercent(const std::string& text, int& percent) {
    if (text.empty() || text.size() > 3) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const int value = std::stoi(text);
    if (value < 25 || value > 200 || value % 5 != 0) return false;
    percent = value;
    return true;
}

// Whether `mutes` leaves nothing of the song to hear: every part with notes, and the drums if it
// has any. Such a render would be silence, which the render takes for a failure.
bool MutesEverything(const SongData& song, const PartMutes& mutes) {
    if (song.percussionNotes > 0 && !mutes.drums) return false;
    const int parts = song.PartsInUse();
    for (int p = 0; p < parts; ++p) {
        if (song.parts[p].notes != nullptr && song.parts[p].noteCount > 0 &&
            !mutes.parts.test(static_cast<size_t>(p)))
            return false;
    }
    return true;
}

}  // namespace

// Semitones as --transpose takes them: a whole number from -12 to 12, "+3" as well as "3".
bool ParseTranspose(const std::string& text, int& semitones) {
    const size_t sign = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (text.size() <= sign || text.size() > sign + 2) return false;
    for (size_t i = sign; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    const int value = std::stoi(text.substr(sign)) * (text[0] == '-' ? -1 : 1);
    if (value < -kMostTranspose || value > kMostTranspose) return false;
    semitones = value;
    return true;
}

bool TakeRangeOption(const std::string& arg, int argc, char** argv, int& i, ExportRange& range, int& status) {
    status = 0;
    if (arg != "--from" && arg != "--to") return false;
    if (i + 1 >= argc) {
        status = UsageError(arg + " needs a time: seconds, or minutes and seconds as m:ss");
        return true;
    }
    const std::string value = argv[++i];
    double seconds = 0.0;
    if (!ParseRangeTime(value, seconds)) {
        status =
            UsageError(arg + " takes seconds (75 or 75.5) or minutes and seconds (1:15 or 1:15.5), not \"" +
                       value + "\"");
        return true;
    }
    if (!(seconds <= kLatestRangeSeconds)) {
        status = UsageError(arg + " " + value + " is later than any song lasts (the latest is " +
                            std::to_string(static_cast<long>(kLatestRangeSeconds)) + " seconds)");
        return true;
    }
    (arg == "--from" ? range.from : range.to) = seconds;
    // Known before any work: a part that ends before it starts. One starting past the end is
    // found once the song's length is.
    if (range.to >= 0.0)
        if (const std::string problem = RangeProblem(range, -1.0); !problem.empty())
            status = UsageError(problem);
    return true;
}

std::string DefaultSoundFont() {
    const std::string chosen = ReadSettings().soundFontPath;
    return chosen.empty() ? kDefaultSoundFont : chosen;
}

std::string FolderOf(const std::string& path) {
    const std::filesystem::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : ".";
}

int RenderSong(const std::string& midi, const std::string& soundFont, const std::string& folder,
               const std::string& output, SongRender& render, const RenderChoices& choices) {
    const bool raw = choices.raw;
    LoadedSong& song = render.song;
    song.path = midi;
    song.song = std::make_unique<SongData>();
    TempoMap tempo;
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    if (!ReadMidiFile(*song.song, midi, bytes.get(), &tempo))
        return Fail(midi + ": " + LoadFailureReason(*song.song, false));
    // A song of no notes would render as seconds of silence; render and video refuse it alike.
    if (!SongHasNotes(*song.song)) return Fail(midi + " has no notes: there is nothing to render");
    // The hands as the player mended them in the window: a video colours them so, and a muted hand
    // leaves out the notes moved to it.
    (void)ApplyHandEdits(*song.song, ReadHandEditsOf(*song.song, bytes->data(), bytes->size()));
    RenderRequest request{std::move(bytes), soundFont, song.song.get(), raw};
    request.speed = choices.speedPercent / 100.0;
    request.transpose = choices.transpose;
    // A command renders with the processors it may run on; a dense song's voices are mixed on them.
    request.synthesisThreads = ProcessorsToUse();
    if (choices.metronome) request.metronome = SongBeats(tempo, song.song->duration);
    for (const std::string& part : choices.mutes) {
        if (Failure refused = AddMutedPart(*song.song, part, request.mutes); !refused.Ok())
            return UsageError("--mute " + part + ": " + midi + ": " + refused.text);
    }
    if (MutesEverything(*song.song, request.mutes))
        return UsageError("--mute: every part of " + midi + " would be silent: there is nothing to render");

    RemoveRenderFilesOnSignals();
    RemoveStaleRenderFiles(folder, kRenderTempPrefix);
    // Songs rendered by players that were killed: unlocked files in the private cache folder.
    if (const std::string cache = CacheFolder(); !cache.empty()) {
        RemoveStaleRenderFiles(cache, kPlayerRenderPrefix, 0);
    }
    auto pending = std::make_unique<RenderFile>();
    if (Failure made = pending->CreateTemporary(folder); !made.Ok())
        return Fail("cannot write " + output + ": " + made.text);

    render.synth = std::make_unique<SynthRenderer>();
    SynthRenderer& synth = *render.synth;
    if (!synth.Valid()) return Fail("FluidSynth could not be set up");
    // The SoundFont is loaded once, by the render's own fresh synthesiser.
    const Failure started = synth.StartRender(request, std::move(pending));
    render.audio.wavPath = synth.OutputPath();
    if (started.kind == FailureKind::SoundFont) {
        // The window's words name the file in a sentence; here the file comes first, as for every
        // other input.
        const std::string marker = "could not be loaded: ";
        const size_t at = started.text.find(marker);
        return Fail(soundFont + ": " +
                    (at == std::string::npos ? started.text : started.text.substr(at + marker.size())));
    }
    if (!started.Ok()) return Fail("cannot render " + midi + ": " + started.text);

    RenderStatus status;
    {
        ProgressBar bar(BaseName(midi));
        while ((status = synth.RenderStep()).outcome == RenderOutcome::Running) bar.Show(status.progress);
    }
    if (status.outcome != RenderOutcome::Finished)
        return Fail("cannot render " + midi + ": " + status.failure.text);
    // What the window does once its render is over: name the song and read the overview back.
    song.name = FileTitleFromPath(midi);
    if (!ReadRenderOverview(synth.renderFile->fd(), render.audio.wavPath, render.audio.overview).Ok())
        return Fail("the rendered audio could not be read back as 16-bit PCM");
    // The normalised render ends where the song's sound does: that is the song's length for
    // everything made from it (a video's clock and playhead too), as in the window.
    const AudioOverview& overview = render.audio.overview;
    if (!raw && overview.wavSampleRate > 0 && overview.wavChannels > 0) {
        song.song->duration =
            static_cast<double>(overview.wavDataBytes) / 2.0 / overview.wavChannels / overview.wavSampleRate;
    }
    return 0;
}

int RunRender(int argc, char** argv) {
    std::string soundFont, midi, output;
    RenderChoices choices;
    ExportRange range;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (int status = 0; TakeRangeOption(arg, argc, argv, i, range, status)) {
            if (status != 0) return status;
            continue;
        }
        const bool takesFile = arg == "--soundfont" || arg == "-o" || arg == "--output";
        if (takesFile && i + 1 >= argc) return UsageError(arg + " needs a file");
        if (arg == "--speed" && i + 1 >= argc) return UsageError("--speed needs a percentage from 25 to 200");
        if (arg == "--mute" && i + 1 >= argc)
            return UsageError("--mute needs a part: 1, 2, a voice's number or drums");
        if (arg == "--soundfont") {
            soundFont = argv[++i];
        } else if (arg == "-o" || arg == "--output") {
            output = argv[++i];
        } else if (arg == "--raw") {
            choices.raw = true;
        } else if (arg == "--speed") {
            const std::string value = argv[++i];
            if (!ParseSpeedPercent(value, choices.speedPercent)) {
                return UsageError("--speed takes a percentage from 25 to 200 in steps of 5, not \"" + value +
                                  "\"");
            }
        } else if (arg == "--mute") {
            choices.mutes.emplace_back(argv[++i]);
        } else if (arg == "--metronome") {
            choices.metronome = true;
        } else if (arg == "--transpose") {
            if (!ParseTranspose(i + 1 < argc ? argv[++i] : "", choices.transpose))
                return UsageError("--transpose takes semitones from -12 to 12");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (midi.empty()) {
            midi = arg;
        } else {
            return UsageError("render takes one MIDI file");
        }
    }
    if (choices.raw && choices.metronome)
        return UsageError("--raw is FluidSynth's output alone: it takes no --metronome");
    if (soundFont.empty()) soundFont = DefaultSoundFont();
    if (midi.empty()) return UsageError("render needs a MIDI file");
    if (output.empty()) return UsageError("render needs -o OUT.wav");

    std::string target;
    for (const std::string* input : {&midi, &soundFont}) {
        if (NotARegularFile(*input)) return Fail(*input + ": not a regular file");
    }
    if (Failure refused = CheckOutput(output, midi, soundFont, target); !refused.Ok())
        return Fail("cannot write " + output + ": " + refused.text);
    // render writes WAV and nothing else: any other extension would give a WAV file under a name
    // that promises a different format.
    if (!HasWavExtension(output)) {
        return UsageError("render writes WAV files only (-o " + output +
                          "); `dorvik-midi export` writes Ogg, FLAC, ALAC, AAC and MP3");
    }

    // The render goes to a temporary file beside the output and takes the output's name only once
    // it is complete, so a failed or interrupted render leaves an existing file untouched.
    SongRender render;
    if (const int status = RenderSong(midi, soundFont, FolderOf(target), output, render, choices);
        status != 0)
        return status;
    SynthRenderer& synth = *render.synth;
    const AudioOverview& overview = render.audio.overview;
    double seconds =
        static_cast<double>(overview.wavDataBytes) / 2.0 / overview.wavChannels / overview.wavSampleRate;
    if (range.Whole()) {
        if (Failure put = synth.renderFile->Commit(target); !put.Ok())
            return Fail("cannot write " + output + ": " + put.text);
    } else {
        if (const std::string problem = RangeProblem(range, seconds); !problem.empty())
            return UsageError(midi + ": " + problem);
        // The part is cut from the finished render into a file of its own; the render goes.
        platform::AtomicFile part;
        if (const Failure failed = part.Open(target); !failed.Ok())
            return Fail("cannot write " + output + ": " + failed.text);
        if (const Failure cut = WriteWavRange(render.audio.wavPath, range, part.Fd(), output, nullptr);
            !cut.Ok())
            return Fail(cut);
        if (const Failure failed = part.Commit(); !failed.Ok())
            return Fail("cannot write " + output + ": " + failed.text);
        seconds = (range.to >= 0.0 ? std::min(range.to, seconds) : seconds) - range.from;
    }
    std::printf("%s: %.1f s, %u Hz, %d channels\n", output.c_str(), seconds, overview.wavSampleRate,
                overview.wavChannels);
    return 0;
}

}  // namespace cli
