// What both dorvik-midi programs share: the usage text, the helpers every command uses, and the
// dispatch of a command line to a command.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/dispatch.h"
#include "core/version.h"

namespace cli {
namespace {

constexpr const char* kUsage =
    "usage: dorvik-midi --version\n"
    "       dorvik-midi info FILE.mid [--json]\n"
    "       dorvik-midi render --soundfont FILE.sf2 FILE.mid -o OUT.wav [--raw] [--speed PERCENT]\n"
    "                          [--mute PART]... [--from TIME] [--to TIME] [--metronome] [--transpose N]\n"
    "       dorvik-midi play FILE.wav | dorvik-midi play [--soundfont FILE.sf2] FILE.mid\n"
    "       dorvik-midi export IN.wav -o OUT.{wav,ogg,flac,m4a,aac,mp3} [--quality standard|high|maximum]\n"
    "                          [--from TIME] [--to TIME]\n"
    "       dorvik-midi video --soundfont FILE.sf2 FILE.mid -o OUT.mp4 [--size WxH] [--fps 30|60]\n"
    "                         [--quality standard|high|maximum] [--view full|window]\n"
    "                         [--title TEXT | --no-title] [--fit | --no-fit]\n"
    "                         [--theme dark|light|contrast] [--background PICTURE.png|.jpg]\n"
    "                         [--from TIME] [--to TIME] [--dump-raw FRAMES.yuv]\n"
    "       dorvik-midi batch render|export|video [OPTIONS] -o OUTDIR [--jobs N] [--shard K/N]\n"
    "                         FILE|FOLDER...\n"
    "       dorvik-midi ports\n"
    "       dorvik-midi record [--port NAME] -o TAKE.mid\n"
    "       dorvik-midi progress FILE.mid [--json]\n"
    "\n"
    "  info   parse a Standard MIDI File into the parts the player draws (two hands, or a voice\n"
    "         per track and channel) and print what it holds; --json prints it as one JSON object\n"
    "  render render the song through FluidSynth with the SoundFont into a 16-bit WAV file, as\n"
    "         the player does before it plays: brought to -16 LUFS with peaks at most -1 dBTP,\n"
    "         ending when its sound does; --raw writes FluidSynth's own output at its fixed gain\n"
    "         instead, byte for byte what `fluidsynth -ni -g 0.5 -F` writes; --speed plays the\n"
    "         song at 25 to 200 percent of its tempo (in steps of 5) with every note at its own\n"
    "         pitch; --mute leaves a part silent: 1 or 2 for a hand, a voice's number as `info`\n"
    "         lists it, or drums (repeat it to mute more than one); --metronome clicks every\n"
    "         beat, accented on the bar; --transpose moves every note -12 to 12 semitones\n"
    "  play   play a WAV file to its end through the player's sound output; a MIDI file plays\n"
    "         as the player plays it, rendered as it plays (the SoundFont last loaded in the\n"
    "         player unless --soundfont names one)\n"
    "  export write a rendered WAV as WAV, Ogg Vorbis, FLAC, ALAC, AAC or MP3, chosen by the\n"
    "         extension of OUT; --quality sets the Ogg Vorbis quality and the AAC and MP3 bit rate\n"
    "  video  render the song and write its falling notes with the sound as an H.264/AAC MP4;\n"
    "         1920x1080 at 60 fps by default; --view window draws the whole window; it opens on\n"
    "         a 2 s title card (the file's name or --title, and the instruments; --no-title leaves\n"
    "         it out) and lets the first notes fall before they sound; --fit shows only the song's\n"
    "         keys (the default for portrait and square sizes); --theme light or contrast draws on\n"
    "         a light or a high-contrast ground; --background draws a picture behind the notes;\n"
    "         --dump-raw also writes every frame as raw yuv420p, for measuring the encoder alone\n"
    "  --from, --to  (render, export, video) only the part of the song between these times, in\n"
    "         seconds (75.5) or minutes and seconds (1:15.5), with a short fade where it cuts\n"
    "         into the sound\n"
    "  batch  run render, export (which needs --format wav|ogg|flac|m4a|aac|mp3) or video, with\n"
    "         that command's options, on every file named and every song (or for export, WAV\n"
    "         file) in the folders named, read recursively; --jobs jobs at once (one per core by\n"
    "         default); outputs go to OUTDIR under the files' paths in their folders, and those\n"
    "         already complete are kept; --shard K/N takes only the K-th of N slices, the same\n"
    "         on every machine; one JSON line per file on standard output; status 1 when any\n"
    "         file failed\n"
    "  ports  list the MIDI inputs (keyboards and other programs' MIDI outputs), one a line\n"
    "  record record a MIDI input into a Standard MIDI File until Ctrl-C: the first input whose\n"
    "         name contains NAME, or without --port the first keyboard; the take starts at the\n"
    "         first key and keeps its own timing\n"
    "  progress  every pass played along with the song, per part and by date, as the player\n"
    "         kept them; --json prints them as one JSON object\n";

// What a command printed must have reached its destination: a full disk or a closed pipe turns
// success into failure.
int CheckedExit(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "dorvik-midi: cannot write the output: %s\n", std::strerror(errno));
        return status == 0 ? 1 : status;
    }
    return status;
}

}  // namespace

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "dorvik-midi: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Dispatch(int argc, char** argv, std::span<const Command> commands, int (*otherwise)(char** argv)) {
    if (argc < 2) return UsageError("no command given");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return CheckedExit(0);
    }
    if (command == "--version") {
        std::printf("dorvik-midi %.1f\n", kProgramVersion);
        return CheckedExit(0);
    }
    for (const Command& c : commands) {
        if (command == c.name) return CheckedExit(c.run(argc - 2, argv + 2));
    }
    if (otherwise != nullptr) return otherwise(argv);
    return UsageError("unknown command " + command);
}

}  // namespace cli
