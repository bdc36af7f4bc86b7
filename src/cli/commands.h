// cli/: dorvik-midi, the player's work without a window: info, render, play, export and video on the
// same code the window uses.
//
// The subcommands of dorvik-midi. Each takes the arguments after its own name and returns the
// process's exit status: 0 on success, 1 when the work failed, 2 for a usage error.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/song_session.h"
#include "core/failure.h"
#include "core/file_access.h"  // NotARegularFile, which every command checks its inputs with
#include "export/export_range.h"
#include "synth/synth_renderer.h"

namespace cli {

int RunInfo(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunPlay(int argc, char** argv);
// play with --midi-out: the song on a MIDI instrument instead of the sound device.
int RunPlayMidiOut(int argc, char** argv);
// play as the command line takes it: RunPlayMidiOut when --midi-out is given, RunPlay otherwise.
int RunPlayCommand(int argc, char** argv);
int RunExport(int argc, char** argv);
int RunVideo(int argc, char** argv);
int RunBatch(int argc, char** argv);
int RunPorts(int argc, char** argv);
int RunRecord(int argc, char** argv);
int RunScore(int argc, char** argv);
int RunProgress(int argc, char** argv);

// What the command line is called where MIDI systems list their clients.
inline constexpr const char* kMidiClientName = "dorvik-midi";

// A song rendered as `render` renders it, in the window's own typed values: the parsed song, and
// the rendered WAV with its overview, held open by the synthesiser's render file until the
// render is dropped.
struct SongRender {
    LoadedSong song;
    RenderedAudio audio;
    std::unique_ptr<SynthRenderer> synth;
};

// How `render` was asked to render: FluidSynth's own output or the normalised one, at what speed,
// and with which parts silent.
struct RenderChoices {
    bool raw = false;
    int speedPercent = 100;          // of the song's own tempo, 25 to 200
    std::vector<std::string> mutes;  // the parts as typed ("1", "2", "drums"), checked against the song
    bool metronome = false;          // a click on every beat, accented on the bar
    int transpose = 0;               // semitones, -12 to 12
};

// Semitones as --transpose takes them: a whole number from -12 to 12, "+3" as well as "3".
[[nodiscard]] bool ParseTranspose(const std::string& text, int& semitones);

// Renders `midi` with `soundFont` into a new temporary file in `folder`, with a progress bar on a
// terminal. Returns 0; 1 after printing why not (naming `output` when the file cannot be made);
// or 2, a usage error, when a part to mute is one the song does not have. The file stays
// temporary: commit it through render.synth->renderFile, or it is removed. The render is
// normalised unless `choices.raw` asks for FluidSynth's own output.
int RenderSong(const std::string& midi, const std::string& soundFont, const std::string& folder,
               const std::string& output, SongRender& render, const RenderChoices& choices = {});

// Where a command may write `output`: `target` is the output resolved through links. A folder, a
// device, a pipe or one of the files read (`midi`, `soundFont`) is refused (TargetOpen, with the
// reason alone, "is a folder", for the caller to put after the output's name): the output is
// replaced by renaming a complete file over it.
Failure CheckOutput(const std::string& output, const std::string& midi, const std::string& soundFont,
                    std::string& target);

// The SoundFont a command renders with when none is named: the one the player last loaded, else
// the system's General MIDI SoundFont.
[[nodiscard]] std::string DefaultSoundFont();

// The folder part of a path; "." for a bare name.
std::string FolderOf(const std::string& path);

// Takes --from or --to, with its value at argv[i + 1], into `range`: true when `arg` was one of them.
// `status` is then 0, or 2 after a usage error for a missing or unreadable time, or a part that
// ends before it starts.
bool TakeRangeOption(const std::string& arg, int argc, char** argv, int& i, ExportRange& range, int& status);

// The options of `video` that shape every video alike, as `batch video` hands them on to each of
// its jobs: those followed by a value, and those that stand alone. The output, the title (one
// title on every song of a batch would name all but one of them wrongly) and the raw copy are
// each run's own.
inline const std::vector<const char*> kVideoValueOptions = {
    "--soundfont", "--size", "--fps", "--quality", "--view", "--from", "--to", "--theme", "--background"};
inline const std::vector<const char*> kVideoFlagOptions = {"--no-title", "--fit", "--no-fit", "--score"};

// Whether `value` is one of `list`.
[[nodiscard]] bool IsOneOf(const std::vector<const char*>& list, const std::string& value);

// Prints the problem on standard error, and a pointer to the help of the command being run;
// returns kExitUsage.
int UsageError(const std::string& problem);
// The one way a command ends on a failure: says why on standard error after the program's name (a
// usage failure with the usage text, a cancel not at all) and returns the exit status of its
// kind (ExitStatusOf).
int Fail(const Failure& failure);
// A failure of the work in the command's own words, said as above; returns kExitFailed.
int Fail(const std::string& text);

// Reads `--part N`'s number, counted from 1, into `part` counted from 0; false unless it is a
// whole number from 1 to the most parts a song keeps.
[[nodiscard]] bool ParsePartNumber(const char* text, int32_t& part);
// Adds the parts of `--part LIST` (numbers from 1 split by commas: "2,5") to `parts`, counted from
// 0; the option may be given again to add more. False, adding none, unless every item is a part
// number as ParsePartNumber takes it.
[[nodiscard]] bool ParsePartList(const char* text, std::vector<int32_t>& parts);
// Why `song` (read from `path`) has no part `part` (counted from 0), naming the parts it has; empty
// when it has that part or none was asked for (-1).
[[nodiscard]] std::string NoSuchPart(const SongData& song, int32_t part, const std::string& path);
// The same for each of `parts`: why the first the song lacks is refused; empty when it has them all.
[[nodiscard]] std::string NoSuchPart(const SongData& song, const std::vector<int32_t>& parts,
                                     const std::string& path);

// The file name without its folder.
std::string BaseName(const std::string& path);

// The processors this command may run on: those the process is allowed, or the batch's share of
// them for one of its jobs (kJobProcessorsVariable, which the batch sets for its jobs).
[[nodiscard]] int ProcessorsToUse();
inline constexpr const char* kJobProcessorsVariable = "DORVIK_JOB_PROCESSORS";

}  // namespace cli
