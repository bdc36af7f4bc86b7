// platform/: the small layers over the system (window, drawing, text, sound, dialogs,
// files, clock) with their real and headless forms, and none of the program's own logic.
//
// A file that replaces its target only once it is complete. It is written beside the target,
// unnamed where the file system allows it and otherwise as ".NAME.dorvik-XXXXXX.part", and moved
// over the target by one rename at the end. Until then the file at the target stays exactly as
// it was, whatever happens to the writer. An unnamed file takes the hidden name only for the
// instant between its link and the rename, and the writer holds a lock on its file while it has a
// name; a name whose file nobody holds, left by a writer killed outright in that instant (or by a
// writer without unnamed files), is removed at the next write into the folder. Devices and pipes
// are written in place instead: a rename would replace the node itself.
#pragma once

#include <string>

#include "core/failure.h"

namespace platform {

class AtomicFile {
  public:
    AtomicFile() = default;
    ~AtomicFile() { Discard(); }  // a file never committed is thrown away
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // What a writer may put its file over.
    enum class Reach {
        Anything,     // a link is followed; a device or a pipe is written in place (exports)
        RegularFile,  // a link is followed, but only a regular file is ever replaced
        OwnFile,      // only a regular file of this user's, named directly (the program's records)
    };

    // Opens a file to write that will become `target`. A regular file already there keeps its
    // mode in the replacement; a link is followed, so the file it names is replaced and the link
    // stays.
    //
    // The failures of Open and Commit carry the system's reason alone ("Is a directory"), for the
    // caller to put after the name the user knows the target by, in the caller's own words:
    // TargetOpen here, Write from Commit. Open refuses a folder ("Is a directory") and a pipe
    // nobody reads ("No such device or address"); where `reach` forbids them, a link ("Too many
    // levels of symbolic links"), a device or a pipe ("Invalid argument") and another user's file
    // ("Operation not permitted").
    [[nodiscard]] Failure Open(const std::string& target, Reach reach = Reach::Anything);

    // The descriptor to write to; -1 when not open.
    [[nodiscard]] int Fd() const { return fd_; }
    // Whether writes go straight to the target (a device or a pipe) rather than to a new file.
    [[nodiscard]] bool Direct() const { return direct_; }

    // Closes the file and puts it in the target's place. On failure the target is as it was and
    // nothing is left of the new file.
    [[nodiscard]] Failure Commit();

    // Closes the file and removes it; the target stays as it was. Does nothing when not open.
    void Discard();

  private:
    // The steps below return 0 or the errno value of what failed; Open and Commit put it in words.
    int OpenTarget(const std::string& target, Reach reach);
    int Finish();
    int OpenReplacement(const std::string& folder, int mode, bool keepMode);
    int OpenNamed(int mode);
    int LinkIntoPlace(int fd);

    int fd_ = -1;
    bool direct_ = false;
    bool unnamed_ = false;  // made with O_TMPFILE: it is named only for the rename in Commit
    int slot_ = -1;         // the cleanup slot that holds temporaryPath_, or -1
    std::string target_;
    std::string folder_;
    std::string temporaryPath_;  // the named file; empty while unnamed
};

// The temporary name for a target file name: ".NAME.dorvik-XXXXXX.part" with the X's given,
// NAME cut at a character boundary so that the whole name stays within 255 bytes.
[[nodiscard]] std::string TemporaryFileName(const std::string& targetName, const std::string& unique);

// From now on, SIGINT and SIGTERM first remove the temporary files of every AtomicFile of this
// process that is not yet committed, then end the process as the signal would have. A rename
// under way on another thread is let finish first, so a target is never left half replaced nor a
// name left beside it. A handler installed before keeps running after the removal instead. Safe
// to call more than once.
void RemoveTemporaryFilesOnSignal();

}  // namespace platform
