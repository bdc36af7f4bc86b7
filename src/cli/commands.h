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
#include "core/file_access.h"  // NotARegularFile, which every command checks its inputs with
#include "export/export_range.h"
#include "synth/synth_renderer.h"

namespace cli {

int RunInfo(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunExport(int argc, char** argv);
int RunVideo(int argc, char** argv);
int RunBatch(int argc, char** argv);
int RunPorts(int argc, char** argv);
int RunRecord(int argc, char** argv);
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

// Renders `midi` with `soundFont` into a new temporary file in `folder`, with a progress bar on a
// terminal. Returns 0; 1 after printing why not (naming `output` when the file cannot be made);
// or 2, a usage error, when a part to mute is one the song does not have. The file stays
// temporary: commit it through render.synth->renderFile, or it is removed. The render is
// normalised unless `choices.raw` asks for FluidSynth's own output.
int RenderSong(const std::string& midi, const std::string& soundFont, const std::string& folder,
               const std::string& output, SongRender& render, const RenderChoices& choices = {});

// Where a command may write `output`: `target` is the output resolved through links. A folder, a
// device, a pipe or one of the files read (`midi`, `soundFont`) is refused with `error` set: the
// output is replaced by renaming a complete file over it.
bool CheckOutput(const std::string& output, const std::string& midi, const std::string& soundFont,
                 std::string& target, std::string& error);

// The folder part of a path; "." for a bare name.
std::string FolderOf(const std::string& path);

// Takes --from or --to, with its value at argv[i + 1], into `range`: true when `arg` was one of them.
// `status` is then 0, or 2 after a usage error for a missing or unreadable time, or a part that
// ends before it starts.
bool TakeRangeOption(const std::string& arg, int argc, char** argv, int& i, ExportRange& range, int& status);

// Prints the problem and the usage text on standard error; returns 2.
int UsageError(const std::string& problem);

// The file name without its folder.
std::string BaseName(const std::string& path);

}  // namespace cli
