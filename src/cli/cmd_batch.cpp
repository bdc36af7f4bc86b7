// dorvik-midi batch: render, export or video over many files at once, one job per file on every
// core.
//
// Each job is this program run again on one file, as a child process: a song that brings the
// synthesiser down fails its own job and not the batch, the jobs share no memory (so no code of
// the render or the encoders has to be safe across threads), and each output goes through the same
// writer as the command run by hand, which names it only once it is complete. The batch itself
// writes no file: it lists the inputs, starts and reaps the jobs, and reports one JSON line per
// file on standard output as each one ends, so that an interrupted batch has still said what ran.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/batch_plan.h"
#include "cli/commands.h"
#include "core/voice_limit.h"
#include "export/export_failure.h"

extern char** environ;

namespace cli {
namespace {

// What a command batched over files takes: the options it passes on to each job (those followed
// by a value, and those that stand alone), the files a folder gives it, and what it writes.
struct BatchCommand {
    const char* name;
    std::vector<const char*> valueOptions;
    std::vector<const char*> flagOptions;
    std::vector<const char*> inputExtensions;
    const char* outputExtension;  // nullptr: chosen with --format
};

const std::vector<BatchCommand>& BatchCommands() {
    static const std::vector<BatchCommand> commands = {
        {"render",
         {"--soundfont", "--speed", "--mute", "--from", "--to"},
         {"--raw"},
         {"mid", "midi", "kar", "rmi"},
         "wav"},
        // Songs are rendered first, each with the batch's SoundFont; WAV files are exported as they are.
        {"export", {"--quality", "--from", "--to"}, {}, {"wav", "mid", "midi", "kar", "rmi"}, nullptr},
        {"video", kVideoValueOptions, kVideoFlagOptions, {"mid", "midi", "kar", "rmi"}, "mp4"},
    };
    return commands;
}

constexpr const char* kExportFormats[] = {"wav", "ogg", "flac", "m4a", "aac", "mp3"};

// The signal that ends the batch, and a pipe it is announced on, so that the loop waiting on the
// jobs' messages wakes for it too.
volatile std::sig_atomic_t gStopSignal = 0;
int gWakePipe[2] = {-1, -1};

void OnStopSignal(int signal) {
    const int saved = errno;
    gStopSignal = signal;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(gWakePipe[1], &byte, 1);
    errno = saved;
}

bool InstallStopHandlers(std::string& error) {
    if (::pipe2(gWakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::strerror(errno);
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    return true;
}

// The cores this process may run on: what a job array's allocation or taskset gives it, which may
// be fewer than the machine has.
int CoresToUse() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

// How many jobs the open-file limit leaves room for: the batch holds one descriptor per running
// job (the end of its messages pipe) and two while one starts, beside those already open and a
// few it opens itself to list folders and check outputs. Past the limit a job could not start and
// a good song would be reported failed.
int JobsTheFileLimitAllows() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1024;
    int open = 0;
    for (int fd = 0; fd < 1024 && static_cast<rlim_t>(fd) < limit.rlim_cur; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) ++open;
    }
    constexpr int kSpare = 8;  // the starting job's second pipe end, a folder listing, the wake pipe
    const long room = static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 1 << 20)) - open - kSpare;
    return static_cast<int>(std::clamp<long>(room, 0, 1024));
}

// One line on standard error that a terminal redraws in place; elsewhere (a log, a pipe) only the
// failures, one line each, so that standard output stays the report alone.
class BatchProgress {
  public:
    BatchProgress(std::string command, size_t total)
        : terminal_(::isatty(STDERR_FILENO) == 1), command_(std::move(command)), total_(total) {}
    ~BatchProgress() {
        if (drawn_) std::fputc('\n', stderr);
    }
    BatchProgress(const BatchProgress&) = delete;
    BatchProgress& operator=(const BatchProgress&) = delete;

    void Ended(const JobRecord& record, size_t running) {
        ++ended_;
        ++counts_[static_cast<size_t>(record.status)];
        if (record.status == JobStatus::Failed) {
            ++failed_;
            if (drawn_) std::fputs("\r\033[K", stderr);
            // The commands' own messages name the file first; others get its name put before them.
            if (record.reason.compare(0, record.input.size(), record.input) == 0)
                std::fprintf(stderr, "dorvik-midi: %s\n", record.reason.c_str());
            else
                std::fprintf(stderr, "dorvik-midi: %s: %s\n", record.input.c_str(), record.reason.c_str());
        }
        Show(running);
    }
    void Show(size_t running) {
        if (!terminal_) return;
        std::fprintf(stderr, "\r\033[Kbatch %s: %zu of %zu files, %zu failed, %zu running", command_.c_str(),
                     ended_, total_, failed_, running);
        std::fflush(stderr);
        drawn_ = true;
    }

    // The batch's last word, on a line of its own wherever standard error goes.
    void Summary() {
        if (drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
        std::fprintf(stderr, "dorvik-midi: batch %s: %zu of %zu files done, %zu skipped, %zu failed",
                     command_.c_str(), counts_[static_cast<size_t>(JobStatus::Done)], total_,
                     counts_[static_cast<size_t>(JobStatus::Skipped)],
                     counts_[static_cast<size_t>(JobStatus::Failed)]);
        if (const size_t cut = counts_[static_cast<size_t>(JobStatus::Interrupted)] + (total_ - ended_);
            cut > 0)
            std::fprintf(stderr, ", %zu not done (interrupted)", cut);
        std::fputc('\n', stderr);
    }

  private:
    bool terminal_;
    bool drawn_ = false;
    std::string command_;
    size_t total_;
    size_t ended_ = 0;
    size_t failed_ = 0;
    size_t counts_[4] = {};  // by JobStatus
};

// A job under way: the child, the read end of its standard error, and what it has said there.
struct Job {
    pid_t pid = -1;
    int messagesFd = -1;
    std::string messages;
    JobRecord record;
    std::chrono::steady_clock::time_point start;
};

// Starts `arguments` as a child of this very program, with nothing to read, its standard output
// thrown away (the report is the batch's own) and its standard error into a pipe the batch reads.
bool StartJob(const std::vector<std::string>& arguments, Job& job, std::string& error) {
    int messages[2];
    if (::pipe2(messages, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, messages[1], STDERR_FILENO);
    // The job starts with the signals a command expects: none blocked, and SIGINT and SIGTERM
    // heard even when the batch was started with them ignored (as `&` in a script does).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int status = ::posix_spawn(&job.pid, "/proc/self/exe", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(messages[1]);
    if (status != 0) {
        ::close(messages[0]);
        error = "cannot start a job: " + std::string(std::strerror(status));
        return false;
    }
    job.messagesFd = messages[0];
    job.start = std::chrono::steady_clock::now();
    return true;
}

// Waits for the child whose messages have ended and says how its job went.
void FinishJob(Job& job) {
    ::close(job.messagesFd);
    job.messagesFd = -1;
    int status = 0;
    while (::waitpid(job.pid, &status, 0) < 0 && errno == EINTR) {
    }
    job.record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - job.start).count();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        job.record.status = JobStatus::Done;
        return;
    }
    if (gStopSignal != 0) {
        job.record.status = JobStatus::Interrupted;
        job.record.reason = "the batch was interrupted";
        return;
    }
    job.record.status = JobStatus::Failed;
    char fallback[96];
    if (WIFSIGNALED(status)) {
        std::snprintf(fallback, sizeof fallback, "ended by signal %d (%s)", WTERMSIG(status),
                      ::strsignal(WTERMSIG(status)));
        job.record.reason = fallback;  // what it said before it went may not be why
        return;
    }
    std::snprintf(fallback, sizeof fallback, "ended with status %d", WEXITSTATUS(status));
    job.record.reason = FailureReason(job.messages, fallback);
}

// Reads what a job has written to standard error; false once it has closed it. Only the end is
// kept: the reason for a failure is in the last lines.
bool ReadMessages(Job& job) {
    char buffer[4096];
    const ssize_t got = ::read(job.messagesFd, buffer, sizeof buffer);
    if (got < 0) return errno == EINTR || errno == EAGAIN;
    if (got == 0) return false;
    job.messages.append(buffer, static_cast<size_t>(got));
    constexpr size_t kKept = 16384;
    if (job.messages.size() > kKept) job.messages.erase(0, job.messages.size() - kKept);
    return true;
}

void Report(JobRecord record) {
    // Only a file that is there is named: a job that failed or was cut short left none.
    if (record.status == JobStatus::Failed || record.status == JobStatus::Interrupted) record.output.clear();
    std::printf("%s\n", ReportLine(record).c_str());
    std::fflush(stdout);
}

// A file to work on, with what the job is given and what the report will say.
struct PlannedFile {
    BatchInput input;
    std::string output;
};

// Makes the folders an output goes in; the output folder itself is made before any job starts.
bool MakeParentFolders(const std::string& output, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(output).parent_path(), ec);
    if (ec) error = "cannot make the folder for " + output + ": " + ec.message();
    return !ec;
}

}  // namespace

int RunBatch(int argc, char** argv) {
    if (argc < 1) return UsageError("batch needs a command: render, export or video");
    const std::string commandName = argv[0];
    const BatchCommand* command = nullptr;
    for (const BatchCommand& c : BatchCommands()) {
        if (commandName == c.name) command = &c;
    }
    if (command == nullptr) return UsageError("batch runs render, export or video, not " + commandName);

    std::string outputFolder, format, soundFont;
    int jobs = CoresToUse();
    Shard shard;
    std::vector<std::string> passed, arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool ours = arg == "-o" || arg == "--output" || arg == "--jobs" || arg == "--shard" ||
                          (arg == "--format" && command->outputExtension == nullptr);
        if ((ours || IsOneOf(command->valueOptions, arg)) && i + 1 >= argc)
            return UsageError(arg + " needs a value");
        if (arg == "-o" || arg == "--output") {
            outputFolder = argv[++i];
        } else if (arg == "--jobs") {
            const std::string value = argv[++i];
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > 1024)
                return UsageError("--jobs takes a number of jobs from 1 to 1024, not \"" + value + "\"");
            jobs = static_cast<int>(n);
        } else if (arg == "--shard") {
            const std::string value = argv[++i];
            const std::optional<Shard> parsed = ParseShard(value);
            if (!parsed)
                return UsageError("--shard takes K/N, the K-th of N slices from 1/N to N/N, not \"" + value +
                                  "\"");
            shard = *parsed;
        } else if (arg == "--format" && command->outputExtension == nullptr) {
            format = argv[++i];
            bool known = false;
            for (const char* f : kExportFormats) known = known || format == f;
            if (!known)
                return UsageError("--format takes wav, ogg, flac, m4a, aac or mp3, not \"" + format + "\"");
        } else if (IsOneOf(command->valueOptions, arg)) {
            if (arg == "--soundfont") {
                soundFont = argv[++i];
                continue;
            }
            passed.push_back(arg);
            passed.emplace_back(argv[++i]);
        } else if (IsOneOf(command->flagOptions, arg)) {
            passed.push_back(arg);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("batch " + commandName + " does not take " + arg);
        } else {
            arguments.push_back(arg);
        }
    }
    if (outputFolder.empty()) return UsageError("batch needs -o OUTDIR, the folder the outputs go to");
    if (command->outputExtension == nullptr && format.empty())
        return UsageError("batch export needs --format wav, ogg, flac, m4a, aac or mp3");
    if (arguments.empty()) return UsageError("batch needs files or folders to work on");
    if (const int allowed = JobsTheFileLimitAllows(); jobs > allowed) {
        if (allowed < 1) return Fail("the open-file limit leaves no room for a job (see ulimit -n)");
        std::fprintf(stderr, "dorvik-midi: batch: %d jobs at a time, as many as the open-file limit allows\n",
                     allowed);
        jobs = allowed;
    }
    // Each job takes its share of the processors, so that the jobs' own threads do not crowd them.
    const int cores = CoresToUse();
    (void)::setenv(kJobProcessorsVariable, std::to_string(std::max(1, cores / jobs)).c_str(), 1);
    const std::string extension = command->outputExtension != nullptr ? command->outputExtension : format;

    std::error_code ec;
    std::filesystem::create_directories(outputFolder, ec);
    if (ec || !std::filesystem::is_directory(outputFolder, ec))
        return Fail("cannot write to " + outputFolder + ": " + (ec ? ec.message() : "not a folder"));

    const std::vector<BatchInput> listed = ListBatchInputs(arguments, command->inputExtensions, outputFolder);
    if (listed.empty()) {
        std::fprintf(stderr, "dorvik-midi: batch %s: no files to work on\n", commandName.c_str());
        return 0;
    }
    const std::vector<std::string> names = OutputNames(listed, extension);
    std::vector<PlannedFile> plan;
    for (size_t i = 0; i < listed.size(); ++i) {
        if (ShardOfPath(listed[i].relative, shard.count) != shard.index) continue;
        const std::string output = (std::filesystem::path(outputFolder) / names[i]).string();
        plan.push_back({listed[i], listed[i].problem.empty() ? output : std::string()});
    }

    std::string error;
    if (!InstallStopHandlers(error)) return Fail("cannot watch for interruptions: " + error);
    BatchProgress progress(commandName, plan.size());
    std::vector<Job> running;
    size_t next = 0;
    bool failures = false;
    bool forwarded = false;
    // Every song of the batch is rendered with the same SoundFont, the default one resolved once.
    if (soundFont.empty()) soundFont = DefaultSoundFont();
    // The voice limit the batch was given (or the settings keep) goes to every job, and into the
    // recipe: a song rendered with other voices is not the same output.
    if (const int voices = RenderVoiceLimit(); voices > 0)
        passed.insert(passed.end(), {"--voice-limit", std::to_string(voices)});
    const std::vector<const char*> songExtensions = {"mid", "midi", "kar", "rmi"};
    const std::string recipe = OutputRecipe(commandName, passed);

    while (true) {
        // Start what may start: files that need no job are reported as they are reached.
        while (gStopSignal == 0 && next < plan.size() && running.size() < static_cast<size_t>(jobs)) {
            const PlannedFile& file = plan[next++];
            JobRecord record{file.input.path, file.output, JobStatus::Failed, file.input.problem, 0};
            const bool song = command->outputExtension != nullptr ||
                              HasOneOfExtensions(BaseName(file.input.path), songExtensions);
            const std::vector<std::string> sources =
                song ? std::vector<std::string>{file.input.path, soundFont}
                     : std::vector<std::string>{file.input.path};
            // An output folder that holds the inputs would have each WAV export replace its own
            // input: that file is refused, not cut down or called complete.
            if (record.reason.empty() && IsSameFile(file.input.path, file.output))
                record.reason = "its output would replace it (the output folder holds the inputs)";
            if (record.reason.empty() && OutputIsCurrent(file.output, sources) &&
                OutputMadeWith(file.output, recipe)) {
                record.status = JobStatus::Skipped;
                record.reason = "already complete";
            } else if (record.reason.empty() && MakeParentFolders(file.output, record.reason)) {
                // A path that begins with a dash would be read as an option.
                const std::string input =
                    file.input.path[0] == '-' ? "./" + file.input.path : file.input.path;
                std::vector<std::string> job = {"dorvik-midi", commandName};
                job.insert(job.end(), passed.begin(), passed.end());
                if (song) job.insert(job.end(), {"--soundfont", soundFont});
                job.insert(job.end(), {input, "-o", file.output});
                Job started;
                started.record = record;
                if (StartJob(job, started, record.reason)) {
                    running.push_back(std::move(started));
                    progress.Show(running.size());
                    continue;
                }
            }
            failures = failures || record.status == JobStatus::Failed;
            Report(record);
            progress.Ended(record, running.size());
        }
        if (running.empty()) break;

        if (gStopSignal != 0 && !forwarded) {
            // A signal sent to the batch alone reaches the jobs too; each removes its unfinished
            // file and ends. From a terminal they have had it already, which does no harm.
            for (const Job& job : running) ::kill(job.pid, gStopSignal);
            forwarded = true;
        }
        std::vector<pollfd> watched = {{gWakePipe[0], POLLIN, 0}};
        for (const Job& job : running) watched.push_back({job.messagesFd, POLLIN, 0});
        if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) {
            return Fail("cannot wait for the jobs: " + std::string(std::strerror(errno)));
        }
        char drained[64];
        while (::read(gWakePipe[0], drained, sizeof drained) > 0) {
        }
        for (size_t i = running.size(); i-- > 0;) {
            if ((watched[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            if (ReadMessages(running[i])) continue;
            FinishJob(running[i]);
            const JobRecord record = running[i].record;
            if (record.status == JobStatus::Done) KeepOutputRecipe(record.output, recipe);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            failures = failures || record.status == JobStatus::Failed;
            Report(record);
            progress.Ended(record, running.size());
        }
    }
    progress.Summary();
    if (gStopSignal != 0) return 128 + gStopSignal;
    return failures ? 1 : 0;
}

}  // namespace cli
