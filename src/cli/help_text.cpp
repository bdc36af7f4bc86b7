#include "cli/help_text.h"

#include <array>
#include <iterator>
#include <string>

namespace cli {
namespace {

constexpr const char* kOverview =
    "usage: dorvik-midi COMMAND [OPTIONS] [FILE]...\n"
    "       dorvik-midi COMMAND --help\n"
    "       dorvik-midi --version\n"
    "\n"
    "The player's work without a window: reading, rendering, exporting and playing songs.\n"
    "\n"
    "Commands:\n"
    "  info    print the parts, notes and bar lines read from a Standard MIDI File\n"
    "  render  render a song through FluidSynth into a WAV file, as the player does\n"
    "  play    play a WAV file, or a song as the player plays it\n"
    "  export  write a song or a rendered WAV as WAV, Ogg Vorbis, FLAC, ALAC, AAC or MP3\n"
    "  video   write a song's falling notes with its sound as an MP4 video\n"
    "  batch   run render, export or video on many files at once\n"
    "  ports   list the MIDI inputs and outputs\n"
    "  record  record a MIDI input into a Standard MIDI File\n"
    "  score   write a song as sheet music: MusicXML, or engraved as PDF, SVG or PNG\n"
    "  progress  list the passes played along with a song, per part and by date\n"
    "\n"
    "Run `dorvik-midi COMMAND --help` for a command's options. render, export, video and play\n"
    "take the SoundFont the player last loaded when none is named, else the system's General MIDI\n"
    "SoundFont (/usr/share/sounds/sf2/default-GM.sf2). Every command takes --memory-limit SIZE\n"
    "(2G, 1500M): the memory a song may take once read, by default a quarter of the machine's;\n"
    "a larger song is refused before its notes are stored. render, export, video, play and batch\n"
    "take --voice-limit N (1 to 65535): how many voices sound at once, the quietest giving way\n"
    "past it; by default the settings' [Voice limit], else 256. A huge song with more notes a\n"
    "second than its voices can sound for 8 ms each starts only its loudest.\n"
    "Exit status: 0 on success, 1 when the work failed, 2 for a usage error.\n";

constexpr const char* kRangeOptions =
    "  --from TIME, --to TIME\n"
    "              only the part of the song between these times, in seconds (75.5) or minutes\n"
    "              and seconds (1:15.5), with a short fade where a cut goes into the sound\n";

struct Help {
    const char* command;
    const char* usage;    // the usage lines and what the command does
    const char* options;  // its options; nullptr when it has none
    bool range;           // takes --from and --to
};

constexpr Help kHelp[] = {
    {"info",
     "usage: dorvik-midi info FILE.mid [--json]\n"
     "\n"
     "Reads a Standard MIDI File into the parts the player draws (two hands for a piano song, else a\n"
     "voice per track and channel) and prints what it holds. A file that does not load prints the\n"
     "reason after its name and exits with status 1.\n",
     "  --json      print the song as one JSON object, also for a file that does not load\n", false},
    {"render",
     "usage: dorvik-midi render [--soundfont FILE.sf2] FILE.mid -o OUT.wav [--raw] [--speed PERCENT]\n"
     "                          [--mute PART]... [--metronome] [--transpose N]\n"
     "                          [--from TIME] [--to TIME]\n"
     "\n"
     "Renders the song through FluidSynth into a 16-bit 44,100 Hz stereo WAV file, as the player does\n"
     "before it plays: brought to -16 LUFS with peaks at most -1 dBTP, ending when its sound does.\n"
     "An existing OUT is replaced only once the new file is complete.\n",
     "  --soundfont FILE.sf2\n"
     "              the SoundFont to render with; by default the one the player last loaded\n"
     "  -o, --output OUT.wav\n"
     "              the file to write; it must end in .wav (export writes the other formats)\n"
     "  --raw       FluidSynth's own output at its fixed gain instead, byte for byte what\n"
     "              `fluidsynth -ni -g 0.5 -F` writes\n"
     "  --speed PERCENT\n"
     "              play the song at 25 to 200 percent of its tempo, in steps of 5, every note\n"
     "              at its own pitch\n"
     "  --mute PART  leave a part silent: 1 or 2 for a hand, a voice's number as `info` lists it,\n"
     "              or drums; repeat it to mute more than one\n"
     "  --metronome  a click on every beat, accented on the bar (not with --raw)\n"
     "  --transpose N\n"
     "              move every note but the drums N semitones, -12 to 12\n",
     true},
    {"play",
     "usage: dorvik-midi play FILE.wav\n"
     "       dorvik-midi play [--soundfont FILE.sf2] FILE.mid\n"
     "       dorvik-midi play --midi-out NAME [--speed PERCENT] [--mute PART]... [--transpose N]\n"
     "                        [--latency MS] FILE.mid\n"
     "\n"
     "Plays a WAV file to its end through the player's sound output, with the position on standard\n"
     "error when that is a terminal. A MIDI file plays as the player plays it, rendered as it plays.\n"
     "With --midi-out the song plays instead on a MIDI instrument (a digital piano, a synthesiser).\n"
     "Ctrl-C stops it, and leaves no note sounding on the instrument.\n",
     "  --soundfont FILE.sf2\n"
     "              the SoundFont for a MIDI file; by default the one the player last loaded\n"
     "  --midi-out NAME\n"
     "              play on the first MIDI output whose name contains NAME (see `ports`)\n"
     "  --speed PERCENT, --mute PART\n"
     "              with --midi-out: as for render\n"
     "  --transpose N\n"
     "              with --midi-out: move every note but the drums N semitones, -12 to 12\n"
     "  --latency MS  with --midi-out: send everything MS milliseconds early, for the instrument's\n"
     "              own delay\n",
     false},
    {"export",
     "usage: dorvik-midi export IN.wav -o OUT.{wav,ogg,flac,m4a,aac,mp3}\n"
     "                          [--quality standard|high|maximum] [--title TEXT] [--from TIME] [--to TIME]\n"
     "       dorvik-midi export [--soundfont FILE.sf2] SONG.mid -o OUT.{wav,ogg,flac,m4a,aac,mp3} [...]\n"
     "                          [--metronome] [--transpose N]\n"
     "\n"
     "Writes a rendered WAV file, or a song rendered as render renders it, as WAV, Ogg Vorbis, FLAC,\n"
     "ALAC, AAC or MP3, chosen by the extension of OUT, through the player's own export code. A song\n"
     "goes straight to OUT: nothing else is left behind.\n",
     "  -o OUT      the file to write; its extension chooses the format\n"
     "  --soundfont FILE.sf2\n"
     "              (a song) the SoundFont to render with; by default the one the player last loaded\n"
     "  --quality standard|high|maximum\n"
     "              the Ogg Vorbis quality (0.5, 0.7, 1.0) and the AAC and MP3 bit rate (128 kbit/s,\n"
     "              160 kbit/s, the highest the encoder offers); standard by default\n"
     "  --title TEXT  the title tag, instead of the song's own name or else the file's name; the\n"
     "              composer and copyright tags come from the song file where it has them\n"
     "  --metronome (a song) a click on every beat, accented on the bar, as render --metronome\n"
     "  --transpose N\n"
     "              (a song) every note N semitones up or down, -12 to 12, as render --transpose\n",
     true},
    {"video",
     "usage: dorvik-midi video [--soundfont FILE.sf2] FILE.mid -o OUT.mp4 [--size WxH] [--fps 30|60]\n"
     "                         [--quality standard|high|maximum] [--view full|window]\n"
     "                         [--title TEXT | --no-title] [--fit | --no-fit]\n"
     "                         [--theme dark|light|contrast] [--background PICTURE.png|.jpg]\n"
     "                         [--from TIME] [--to TIME] [--lyrics] [--score [--part N[,N...]]]\n"
     "                         [--dump-raw FRAMES.yuv]\n"
     "\n"
     "Renders the song as render does and writes its falling notes, drawn by the player's own view\n"
     "code, with the sound as an H.264/AAC MP4. It opens on a 2 s title card and lets the first notes\n"
     "fall before they sound.\n",
     "  --soundfont FILE.sf2\n"
     "              the SoundFont to render with; by default the one the player last loaded\n"
     "  -o, --output OUT.mp4\n"
     "              the video to write\n"
     "  --size WxH  the frame size, both sides even, up to 7680; 1920x1080 by default\n"
     "  --fps 30|60  frames a second; 60 by default\n"
     "  --quality standard|high|maximum\n"
     "              the encoder's rate factor and preset; standard by default\n"
     "  --view full|window\n"
     "              the notes and the keyboard (full, the default), or the whole window\n"
     "  --title TEXT  the title card's text instead of the file's name\n"
     "  --no-title  no title card\n"
     "  --fit, --no-fit\n"
     "              show only the song's keys, or the whole keyboard; fitted by default for\n"
     "              portrait and square sizes\n"
     "  --theme dark|light|contrast\n"
     "              the window's dark look, a light ground, or high contrast for low vision\n"
     "  --background PICTURE\n"
     "              a PNG or JPEG picture behind the falling notes\n"
     "  --lyrics    the song's words above the keyboard, the sung syllable lit\n"
     "  --score     the song's sheet music over the falling notes, as the window's S shows it\n"
     "  --part N[,N...]\n"
     "              the parts the score shows, a staff each, counted from 1 as score --part\n"
     "              counts; may be given again; by default a song of voices shows its first\n"
     "              piano part\n"
     "  --dump-raw FRAMES.yuv\n"
     "              also write every frame as raw yuv420p, for measuring the encoder alone\n",
     true},
    {"batch",
     "usage: dorvik-midi batch render|export|video [OPTIONS] -o OUTDIR [--jobs N] [--shard K/N]\n"
     "                         FILE|FOLDER...\n"
     "\n"
     "Runs render, export or video, with that command's options, on every file named and on every\n"
     "song (for export, every song and WAV file) in the folders named, read recursively. Outputs go\n"
     "to OUTDIR under the files' paths in their folders; those already complete are kept, so running\n"
     "the same batch again finishes it. One JSON line per file goes to standard output as it ends,\n"
     "and a summary line to standard error at the end; the exit status is 1 when any file failed.\n",
     "  -o, --output OUTDIR\n"
     "              the folder the outputs go to\n"
     "  --format wav|ogg|flac|m4a|aac|mp3\n"
     "              (export) the format to write\n"
     "  --jobs N    jobs at once, 1 to 1024; one per core by default\n"
     "  --shard K/N  only the K-th of N slices of the files, the same on every machine\n"
     "  --soundfont FILE.sf2\n"
     "              the SoundFont every song is rendered with; by default the one the player last\n"
     "              loaded\n"
     "  OPTIONS     the command's own options (see its --help), given to every job; video takes\n"
     "              no --title, as each video's card, and each export's tags, name its own song\n",
     false},
    {"ports",
     "usage: dorvik-midi ports\n"
     "\n"
     "Lists the MIDI inputs (keyboards and other programs' MIDI outputs), one name a line, then the\n"
     "MIDI outputs that play --midi-out can play on, marked \"(output)\".\n",
     nullptr, false},
    {"record",
     "usage: dorvik-midi record [--port NAME] -o TAKE.mid\n"
     "\n"
     "Records a MIDI input into a Standard MIDI File until Ctrl-C. The take starts at the first key\n"
     "and keeps its own timing; it is saved whole every few seconds and once more at the end.\n",
     "  --port NAME  the first input whose name contains NAME; the first keyboard by default\n"
     "  -o TAKE.mid  the file to write\n",
     false},
    {"progress",
     "usage: dorvik-midi progress FILE.mid [--json]\n"
     "\n"
     "Lists every pass played along with the song in the player, per part and by date, with its\n"
     "accuracy and timing, as the player kept them.\n",
     "  --json      print them as one JSON object\n", false},
    {"score",
     "usage: dorvik-midi score FILE.mid -o OUT.{musicxml,svg,pdf,png} [--part N[,N...]]\n"
     "                         [--bars FIRST-LAST]\n"
     "\n"
     "Writes the song as sheet music: MusicXML for notation programs, or engraved as PDF pages, one\n"
     "SVG page or a PNG picture of the first page. Two hands make a grand staff (whatever --part\n"
     "says); a voices song's first piano part, or each part --part names, has a staff of its own,\n"
     "named, in the song's order of parts (a part of its own in MusicXML).\n",
     "  -o, --output OUT\n"
     "              the file to write; its extension chooses the kind\n"
     "  --part N[,N...]\n"
     "              the parts to write, numbered as `info` lists them (2,5 or --part 2 --part 5)\n"
     "  --bars FIRST-LAST\n"
     "              engrave only those bars, counted from 1 (MusicXML is always the whole song)\n",
     false},
};

}  // namespace

const char* OverviewHelp() {
    return kOverview;
}

const char* CommandHelp(std::string_view command) {
    // Each command's text is put together once, on first use, and lives as long as the program.
    static const std::array<std::string, std::size(kHelp)> texts = [] {
        std::array<std::string, std::size(kHelp)> made;
        for (size_t i = 0; i < std::size(kHelp); ++i) {
            const Help& h = kHelp[i];
            made[i] = std::string(h.usage) + "\nOptions:\n";
            if (h.options != nullptr) made[i] += h.options;
            if (h.range) made[i] += kRangeOptions;
            made[i] += "  -h, --help  print this help\n";
        }
        return made;
    }();
    for (size_t i = 0; i < std::size(kHelp); ++i) {
        if (command == kHelp[i].command) return texts[i].c_str();
    }
    return nullptr;
}

}  // namespace cli
