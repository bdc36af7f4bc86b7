// The files a render writes into: a temporary file beside the output that takes the output's name
// only once it is complete (the command line), or the player's own file in its private cache
// folder (the window). Both are held open and locked from creation to the end, so the bytes go
// to the very file that was created, and a later run can tell a file still in use from one left
// behind by a run that was killed.
#pragma once

#include <string>

#include "core/failure.h"

// Temporary files beside a render's output are named ".dorvik-render-XXXXXX"; the name does not
// grow with the output's, so any legal output name can be rendered.
inline constexpr const char* kRenderTempPrefix = ".dorvik-render-";
// A running player renders into "render-XXXXXX.wav" in its cache folder. The name is random, not
// the process id: players in separate process-id spaces (containers) can share a folder and a pid.
inline constexpr const char* kPlayerRenderPrefix = "render-";

class RenderFile {
  public:
    RenderFile() = default;
    ~RenderFile();
    RenderFile(const RenderFile&) = delete;
    RenderFile& operator=(const RenderFile&) = delete;

    // A new temporary file in `folder`, readable by its owner only until it is committed. Where
    // the file system allows it (and `unnamed` is set) the file has no name at all until Commit
    // gives it one, so a process killed part way, even by SIGKILL, leaves nothing behind; its
    // path() is then the process's own "/proc/self/fd/N", which opens this very file. Elsewhere
    // it is ".dorvik-render-XXXXXX", made with O_EXCL (never a file or link that was already
    // there).
    //
    // The failures of these calls carry the system's reason alone ("Permission denied"), for the
    // caller to put after the name of the output it was making: TargetOpen while the file is
    // made, Write when it cannot be put in place.
    Failure CreateTemporary(const std::string& folder, bool unnamed = true);

    // A new file "<prefix>XXXXXX<suffix>" in `folder` under a random name, made with O_EXCL, so no
    // other process can hold the same name. Readable by its owner only; locked while this object
    // holds it, and removed when it goes.
    Failure CreateUnique(const std::string& folder, const std::string& prefix, const std::string& suffix);

    // A new file at `path`, in a folder that only this user can write to: whatever held the name
    // (a file left by an earlier run with the same process id) is removed first. The file is
    // removed again when this object goes.
    Failure CreateOwn(const std::string& path);

    // Gives the finished temporary file the name `target`, which must be in the same folder. The
    // file takes the permissions of the regular file it replaces, or those of any new file of
    // the user's. Afterwards the file is the user's and is no longer removed.
    Failure Commit(const std::string& target);

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool unnamed() const { return unnamed_; }
    // The folder the file was made in, for scratch files that belong beside it.
    const std::string& folder() const { return folder_; }

  private:
    Failure Adopt(int fd, const std::string& path);
    void Close();
    Failure NameUnnamed(std::string& named);

    int fd_ = -1;
    std::string path_;
    bool unnamed_ = false;  // made with O_TMPFILE: no name until Commit
    std::string folder_;    // where the file was made (and where an unnamed one is to be named)
    int signalSlot_ = -1;   // where the path waits for removal should the process be interrupted
};

// Removes files whose names start with `prefix` in `folder` that belong to this user, were last
// written more than `minAgeSeconds` ago and are not locked by a running render: what runs that
// were killed left behind. Links and other users' files are never touched. Beside a user's own
// outputs a day's grace is kept (a lock may not reach across a network file system); in the
// program's private cache folder the lock alone tells.
inline constexpr long kStaleAfterADay = 24L * 60 * 60;
void RemoveStaleRenderFiles(const std::string& folder, const std::string& prefix,
                            long minAgeSeconds = kStaleAfterADay);

// From now on SIGINT, SIGTERM and SIGHUP remove every temporary file still open before the
// process ends as the signal asks, and a file-size limit makes writes fail instead of killing the
// process. For programs without a window; the window quits through its own message loop.
void RemoveRenderFilesOnSignals();
