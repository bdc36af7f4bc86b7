// The files a render writes into: a temporary file beside the output that takes the output's name
// only once it is complete (the command line), or the player's own file in its private settings
// folder (the window). Both are held open and locked from creation to the end, so the bytes go
// to the very file that was created, and a later run can tell a file still in use from one left
// behind by a run that was killed.
#pragma once

#include <string>

// Temporary files beside a render's output are named ".dorvik-render-XXXXXX"; the name does not
// grow with the output's, so any legal output name can be rendered.
inline constexpr const char* kRenderTempPrefix = ".dorvik-render-";
// A running player renders into "output-<process id>.wav" in its settings folder.
inline constexpr const char* kPlayerRenderPrefix = "output-";

class RenderFile {
  public:
    RenderFile() = default;
    ~RenderFile();
    RenderFile(const RenderFile&) = delete;
    RenderFile& operator=(const RenderFile&) = delete;

    // A new temporary file in `folder`, made with O_EXCL (never a file or link that was already
    // there) and readable by its owner only until it is committed. False with `error` set when it
    // cannot be made.
    [[nodiscard]] bool CreateTemporary(const std::string& folder, std::string& error);

    // A new file at `path`, in a folder that only this user can write to: whatever held the name
    // (a file left by an earlier run with the same process id) is removed first. The file is
    // removed again when this object goes.
    [[nodiscard]] bool CreateOwn(const std::string& path, std::string& error);

    // Gives the finished temporary file the name `target`, which must be in the same folder. The
    // file takes the permissions of the regular file it replaces, or those of any new file of
    // the user's. Afterwards the file is the user's and is no longer removed.
    [[nodiscard]] bool Commit(const std::string& target, std::string& error);

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

  private:
    bool Adopt(int fd, const std::string& path, std::string& error);
    void Close();

    int fd_ = -1;
    std::string path_;
    int signalSlot_ = -1;  // where the path waits for removal should the process be interrupted
};

// Removes files whose names start with `prefix` in `folder` that belong to this user, were last
// written more than a day ago and are not locked by a running render: what runs that were killed
// left behind. Links and other users' files are never touched.
void RemoveStaleRenderFiles(const std::string& folder, const std::string& prefix);

// From now on SIGINT, SIGTERM and SIGHUP remove every temporary file still open before the
// process ends as the signal asks, and a file-size limit makes writes fail instead of killing the
// process. For programs without a window; the window quits through its own message loop.
void RemoveRenderFilesOnSignals();
