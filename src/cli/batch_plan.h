// cli/: dorvik-midi, the player's work without a window: info, render, play, export, video and
// batches of them, on the same code the window uses.
//
// The plan of a batch, decided before any job runs: which files the arguments name, which slice of
// them this machine takes, what each output is called, whether an output is already complete, and
// the report line of each file. Everything here but the listing and the look at an output's age is
// pure, so that every machine of a sharded batch that is given the same files decides the same.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// One file to work on, or one that could not be looked at (`problem` says why: an unreadable
// folder, a link to nothing). `relative` is its path under the folder argument it was found in,
// or its file name when it was named itself: it decides its shard and its output's name, so that
// machines that mount the files in different places agree on both.
struct BatchInput {
    std::string path;      // as the user would find it: the argument, then the path under it
    std::string relative;  // the path under the argument; never empty
    std::string problem;   // empty for a file to work on
};

// Lists what `arguments` name, in order: a file named itself is taken whatever its name; a folder
// is read recursively, in byte order of names, for files whose name ends in one of `extensions`
// (any case), following links but never into a folder twice, so a link loop ends. Names beginning
// with a dot are passed over (hidden files, and the temporary files of a writer at work), and so is
// `skipFolder`, the batch's own output folder, whose outputs must not become inputs of a later run.
// A file reached twice (named twice, or by two links) is listed once.
[[nodiscard]] std::vector<BatchInput> ListBatchInputs(std::span<const std::string> arguments,
                                                      std::span<const char* const> extensions,
                                                      const std::string& skipFolder);

// Whether `name` ends in "." and one of `extensions`, in any case.
[[nodiscard]] bool HasOneOfExtensions(std::string_view name, std::span<const char* const> extensions);

// A slice of a batch: the K-th of N, counted from 1.
struct Shard {
    uint32_t index = 1;
    uint32_t count = 1;
};

// "K/N" with 1 <= K <= N <= 100000; nothing for anything else.
[[nodiscard]] std::optional<Shard> ParseShard(std::string_view text);

// The shard, from 1 to `count`, that the file at `relative` belongs to: the 64-bit FNV-1a hash of
// the path's bytes, modulo `count`, plus one. It depends on the path alone, so it never changes
// when files come or go.
[[nodiscard]] uint32_t ShardOfPath(std::string_view relative, uint32_t count);

// The outputs' paths under the output folder, one per input, each ending in "." `extension`: the
// input's relative path with its own extension replaced ("a/x.mid" gives "a/x.wav"). Inputs that
// would share a name each keep their own extension too ("x.mid.wav", "x.kar.wav"); names that are
// still taken (the same path under two folder arguments) get " (2)", " (3)" and so on before the
// extension, in the inputs' order. The names depend only on the list, so every shard of a batch
// names every file alike.
[[nodiscard]] std::vector<std::string> OutputNames(std::span<const BatchInput> inputs,
                                                   std::string_view extension);

// Whether `output` is a regular file at least as new as each of `sources` (the input and the
// SoundFont it was made with). The writers put an output under its name only once it is complete,
// so one that exists is whole; one older than what it was made from is stale and made again.
[[nodiscard]] bool OutputIsCurrent(const std::string& output, std::span<const std::string> sources);

// What made an output: the batch's command and the options it passed to the job, kept on the
// output itself (an extended attribute) once its job has ended well. An output is complete for a
// batch only if it was made with the same ones: another range, quality or look makes it again.
// One without the record (made by hand, by an older batch, or where the file system keeps no such
// attributes) is made again too, which costs time but is never wrong.
[[nodiscard]] std::string OutputRecipe(std::string_view command, std::span<const std::string> options);
void KeepOutputRecipe(const std::string& output, const std::string& recipe);
[[nodiscard]] bool OutputMadeWith(const std::string& output, const std::string& recipe);

// How one file of a batch ended.
enum class JobStatus { Done, Skipped, Failed, Interrupted };

struct JobRecord {
    std::string input;
    std::string output;  // empty when the file never had one (a folder that could not be read)
    JobStatus status = JobStatus::Done;
    std::string reason;  // empty when done
    double seconds = 0;
};

// The report's line for one file, without the newline:
// {"input": "...", "output": "..."|null, "status": "done"|"skipped"|"failed"|"interrupted",
//  "reason": "..."|null, "seconds": N.NNN}
[[nodiscard]] std::string ReportLine(const JobRecord& record);

// Why a job failed, from what the command wrote on standard error: its last line that begins with
// the program's name, without it (a usage error prints the usage text after it), else its last
// line that is not empty; `fallback` when there is none.
[[nodiscard]] std::string FailureReason(std::string_view messages, const std::string& fallback);

}  // namespace cli
