#include "synth/render_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RenderFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dorvik-renderfile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string In(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

// Someone who can write to the folder takes over the temporary name while the render runs: the
// output is not put in place, and the file the intruder pointed at is left as it was.
TEST_F(RenderFileTest, ATakenOverTemporaryNameIsNeverCommitted) {
    const struct {
        const char* name;
        void (*takeOver)(const std::string& temporary, const std::string& victim);
    } cases[] = {
        {"a link to the user's file",
         [](const std::string& t, const std::string& v) {
             ASSERT_EQ(unlink(t.c_str()) | symlink(v.c_str(), t.c_str()), 0);
         }},
        {"another file",
         [](const std::string& t, const std::string&) {
             ASSERT_EQ(unlink(t.c_str()), 0);
             std::ofstream(t) << "intruder";
         }},
        {"removed", [](const std::string& t, const std::string&) { ASSERT_EQ(unlink(t.c_str()), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(In("victim")) << "precious";
        std::ofstream(In("out.wav")) << "old";
        RenderFile file;
        const Failure made = file.CreateTemporary(dir_, false);
        ASSERT_TRUE(made.Ok()) << made.text;
        ASSERT_EQ(write(file.fd(), "new", 3), 3);
        c.takeOver(file.path(), In("victim"));
        const Failure put = file.Commit(In("out.wav"));
        EXPECT_FALSE(put.Ok());
        EXPECT_NE(put.text.find("replaced or removed"), std::string::npos) << put.text;
        EXPECT_EQ(ReadAll(In("victim")), "precious");
        EXPECT_EQ(ReadAll(In("out.wav")), "old");
        fs::remove(file.path());
    }
}

// Stale files are removed only when they are a day old, unlocked, regular and of this render's
// kind; a render that is running keeps its file.
TEST_F(RenderFileTest, OnlyOldUnlockedFilesAreStale) {
    RenderFile running;
    ASSERT_TRUE(running.CreateTemporary(dir_, false).Ok());
    std::ofstream(In(".dorvik-render-old")) << "x";
    std::ofstream(In(".dorvik-render-new")) << "x";
    std::ofstream(In("kept-old")) << "x";
    ASSERT_EQ(symlink("kept-old", In(".dorvik-render-link").c_str()), 0);
    const timespec dayAndAHalfAgo[2] = {{time(nullptr) - 36 * 3600, 0}, {time(nullptr) - 36 * 3600, 0}};
    for (const std::string& name : {running.path(), In(".dorvik-render-old"), In("kept-old")}) {
        ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), dayAndAHalfAgo, 0), 0);
    }
    RemoveStaleRenderFiles(dir_, kRenderTempPrefix);
    EXPECT_TRUE(fs::exists(running.path())) << "a locked file in use";
    EXPECT_FALSE(fs::exists(In(".dorvik-render-old")));
    EXPECT_TRUE(fs::exists(In(".dorvik-render-new")));
    EXPECT_TRUE(fs::exists(In("kept-old")));
    EXPECT_TRUE(fs::is_symlink(In(".dorvik-render-link")));
}

// Until it is committed the temporary file has no name, so nothing of it outlives the process,
// even one killed with SIGKILL; a commit replaces the output whole, with the old one's mode.
TEST_F(RenderFileTest, AnUnnamedTemporaryLeavesNothingBehind) {
    {
        RenderFile probe;
        const Failure made = probe.CreateTemporary(dir_);
        ASSERT_TRUE(made.Ok()) << made.text;
        if (!probe.unnamed()) GTEST_SKIP() << "the file system here makes no unnamed files";
    }
    EXPECT_TRUE(fs::is_empty(dir_)) << "a dropped temporary leaves nothing";

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RenderFile file;
        if (!file.CreateTemporary(dir_).Ok()) _exit(1);
        const std::string block(1 << 20, 'x');
        if (write(file.fd(), block.data(), block.size()) != static_cast<ssize_t>(block.size())) _exit(1);
        raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    EXPECT_TRUE(fs::is_empty(dir_)) << "a killed render leaves nothing";

    std::ofstream(In("out.wav")) << "old";
    ASSERT_EQ(chmod(In("out.wav").c_str(), 0640), 0);
    RenderFile file;
    const Failure made = file.CreateTemporary(dir_);
    ASSERT_TRUE(made.Ok()) << made.text;
    ASSERT_EQ(write(file.fd(), "new", 3), 3);
    EXPECT_EQ(ReadAll(file.path()), "new") << "its path opens the very file while it is held";
    const Failure put = file.Commit(In("out.wav"));
    ASSERT_TRUE(put.Ok()) << put.text;
    EXPECT_EQ(ReadAll(In("out.wav")), "new");
    EXPECT_EQ(fs::status(In("out.wav")).permissions(), fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "only the output is there";
}

}  // namespace
