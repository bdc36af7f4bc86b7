// The atomic writer on its own: what stands at the target and beside it after a commit, after a
// writer is killed outright, and after SIGINT or SIGTERM lands while another thread commits.
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

class AtomicFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/dorvik-atomic-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string In(const std::string& name) const { return dir_ + "/" + name; }

    // Every name in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WriteAll(int fd, const std::string& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

TEST_F(AtomicFileTest, CommitPutsTheWholeFileInPlace) {
    struct Case {
        const char* name;
        std::string target;    // what the writer is given
        std::string replaced;  // the file that must hold the new bytes
        int oldMode;           // the mode of a file already there; 0 for none
        int expectedMode;
    };
    const mode_t mask = ::umask(022);
    ASSERT_EQ(::symlink("real", In("link").c_str()), 0);
    const Case cases[] = {
        {"a new file", In("new"), In("new"), 0, 0644},
        {"a 0600 file keeps its mode", In("private"), In("private"), 0600, 0600},
        {"a 0754 file keeps its mode", In("odd"), In("odd"), 0754, 0754},
        {"through a link, the file it names", In("link"), In("real"), 0640, 0640},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.oldMode != 0) {
            std::ofstream(c.replaced) << "old";
            ASSERT_EQ(::chmod(c.replaced.c_str(), static_cast<mode_t>(c.oldMode)), 0);
        }
        platform::AtomicFile file;
        ASSERT_TRUE(file.Open(c.target).Ok());
        EXPECT_FALSE(file.Direct());
        ASSERT_TRUE(WriteAll(file.Fd(), "new bytes"));
        if (c.oldMode != 0) {
            EXPECT_EQ(ReadAll(c.replaced), "old") << "the target stays until the commit";
        }
        ASSERT_TRUE(file.Commit().Ok());
        EXPECT_EQ(file.Fd(), -1);
        EXPECT_EQ(ReadAll(c.replaced), "new bytes");
        struct stat info {};
        ASSERT_EQ(::stat(c.replaced.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, static_cast<mode_t>(c.expectedMode));
    }
    ::umask(mask);
    EXPECT_TRUE(fs::is_symlink(In("link"))) << "the link stays a link";
    EXPECT_EQ(Names(), (std::vector<std::string>{"link", "new", "odd", "private", "real"}));

    // A writer dropped without a commit leaves the target and its folder as they were.
    {
        platform::AtomicFile dropped;
        ASSERT_TRUE(dropped.Open(In("private")).Ok());
        ASSERT_TRUE(WriteAll(dropped.Fd(), "half"));
    }
    EXPECT_EQ(ReadAll(In("private")), "new bytes");
    EXPECT_EQ(Names().size(), 5u);
}

// SIGKILL runs no handler: only a file without a name is sure to go with the process.
TEST_F(AtomicFileTest, AWriterKilledOutrightLeavesNothingBeside) {
    std::ofstream(In("out")) << "old";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::AtomicFile file;
        if (!file.Open(In("out")).Ok()) ::_exit(1);
        if (!WriteAll(file.Fd(), std::string(1 << 20, 'x'))) ::_exit(1);
        ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    EXPECT_EQ(ReadAll(In("out")), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"out"});
}

// A name left by a writer that died between its link and its rename (or one without unnamed
// files) goes at the next write into the folder; a name some live writer holds, a name of the
// user's own that only looks alike, and a link stay.
TEST_F(AtomicFileTest, StaleNamesGoAtTheNextWrite) {
    const std::string stale = In(platform::TemporaryFileName("out", "abc123"));
    const std::string writeOnly = In(platform::TemporaryFileName("other", "Zz9Zz9"));
    const std::string held = In(platform::TemporaryFileName("out", "held00"));
    const std::string link = In(platform::TemporaryFileName("out", "link00"));
    std::ofstream(stale) << "left";
    std::ofstream(writeOnly) << "left";
    ASSERT_EQ(::chmod(writeOnly.c_str(), 0200), 0);
    std::ofstream(held) << "live";
    std::ofstream(In("real")) << "real";
    ASSERT_EQ(::symlink("real", link.c_str()), 0);
    for (const char* name : {".out.dorvik-abc12.part", ".out.dorvik-abc1234.part", "out.dorvik-abc123.part",
                             ".out.dorvik-abc!23.part"}) {
        std::ofstream(In(name)) << "mine";
    }
    const int holder = ::open(held.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const std::vector<std::string> before = Names();

    platform::AtomicFile file;
    ASSERT_TRUE(file.Open(In("out")).Ok());
    ASSERT_TRUE(WriteAll(file.Fd(), "new"));
    ASSERT_TRUE(file.Commit().Ok());
    ::close(holder);

    std::vector<std::string> expected;
    for (const std::string& name : before) {
        if (In(name) != stale && In(name) != writeOnly) expected.push_back(name);
    }
    expected.push_back("out");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(), expected);
    EXPECT_EQ(ReadAll(In("real")), "real");
}

// Where a writer is held to the program's own files, anything else at the target stays as it was.
TEST_F(AtomicFileTest, AWriterHeldToItsOwnFilesTouchesNothingElse) {
    using Reach = platform::AtomicFile::Reach;
    std::ofstream(In("real")) << "real";
    ASSERT_EQ(::symlink("real", In("link").c_str()), 0);
    ASSERT_EQ(::mkfifo(In("fifo").c_str(), 0600), 0);
    // A file of somebody else's: made here for nobody when the test may give files away.
    std::string foreign = "/etc/hostname";
    if (::geteuid() == 0) {
        std::ofstream(In("foreign")) << "theirs";
        ASSERT_EQ(::chown(In("foreign").c_str(), 65534, 65534), 0);
        foreign = In("foreign");
    }
    struct Case {
        const char* name;
        std::string target;
        Reach reach;
        int error;
    };
    const Case cases[] = {
        {"a link, for a record", In("link"), Reach::OwnFile, ELOOP},
        {"a link, for a settings file", In("link"), Reach::RegularFile, 0},
        {"a pipe, for a settings file", In("fifo"), Reach::RegularFile, EINVAL},
        {"a device, for a record", "/dev/null", Reach::OwnFile, EINVAL},
        {"another user's file, for a record", foreign, Reach::OwnFile, EPERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::AtomicFile file;
        const Failure opened = file.Open(c.target, c.reach);
        // The refusal is told in the system's words for its reason, for the caller to name the file.
        EXPECT_EQ(opened.text, c.error == 0 ? "" : std::strerror(c.error));
        EXPECT_EQ(opened.kind, c.error == 0 ? FailureKind::None : FailureKind::TargetOpen);
        if (opened.Ok()) {
            ASSERT_TRUE(WriteAll(file.Fd(), "new"));
            ASSERT_TRUE(file.Commit().Ok());
        }
    }
    EXPECT_EQ(ReadAll(In("real")), "new") << "a settings file is replaced where its link points";
    EXPECT_TRUE(fs::is_symlink(In("link")));
    EXPECT_TRUE(fs::is_fifo(In("fifo")));
}

// A signal reaches whichever thread it likes: here the one that waits while another commits in a
// loop, so that it often lands in the middle of a commit. Afterwards the target holds the old
// bytes or one commit's bytes whole, and no name of the writer's is left beside it.
TEST_F(AtomicFileTest, SignalsDuringCommitsLeaveOnlyWholeFiles) {
    constexpr size_t kBlock = 64 * 1024;
    std::mt19937 random{12345};
    for (const int signal : {SIGINT, SIGTERM}) {
        for (int round = 0; round < 25; ++round) {
            SCOPED_TRACE("signal " + std::to_string(signal) + ", round " + std::to_string(round));
            std::ofstream(In("out")) << "old";
            int ready[2];
            ASSERT_EQ(::pipe(ready), 0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                // A process started in the background may have been handed these signals ignored,
                // and a writer then rightly carries on after one; this child is one they end.
                ::signal(SIGINT, SIG_DFL);
                ::signal(SIGTERM, SIG_DFL);
                platform::RemoveTemporaryFilesOnSignal();
                std::thread writer([&] {
                    for (int n = 0;; ++n) {
                        platform::AtomicFile file;
                        if (!file.Open(In("out")).Ok()) ::_exit(2);
                        if (!WriteAll(file.Fd(), std::string(kBlock, static_cast<char>('a' + n % 26))))
                            ::_exit(2);
                        // A commit refused because the signal is ending the process: the
                        // process ends by the signal all the same.
                        if (!file.Commit().Ok()) return;
                        if (n == 0) (void)::write(ready[1], "r", 1);
                    }
                });
                writer.join();
                ::_exit(3);
            }
            ::close(ready[1]);
            char byte = 0;
            ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the writer never committed";
            ::close(ready[0]);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            ::kill(child, signal);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
            const std::string now = ReadAll(In("out"));
            ASSERT_EQ(now.size(), kBlock) << "a whole commit's bytes";
            EXPECT_EQ(now, std::string(kBlock, now[0]));
            ASSERT_EQ(Names(), std::vector<std::string>{"out"});
        }
    }
}

}  // namespace
