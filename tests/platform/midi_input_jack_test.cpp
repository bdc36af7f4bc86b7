// The real MIDI input on a JACK server of the test's own (the dummy back end) with a keyboard
// played from a second client: every message arrives, in order, stamped between its sending and
// its reading, while the backend's thread and the reader's run side by side; and a keyboard that
// goes away is noticed. Skipped only where no JACK server can be started.
#include <RtMidi.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/midi_input.h"

// JACK's ring buffer, behind the test's own sender, is lock-free without atomics, which
// ThreadSanitizer cannot see through; the queue of ours between JACK's thread and the reader is
// what this run checks.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libjack.so\n";
}

namespace platform {
namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Silent(const char*) {}

// The server as tests/cli/jack_server.sh starts it: small periods, and synchronous so that a busy
// machine delays messages rather than dropping them.
class MidiInputJackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ::setenv("DORVIK_MIDI_API", "jack", 1);
        jack_set_error_function(Silent);
        jack_set_info_function(Silent);
        // A few fixed names, as tests/cli/jack_server.sh explains: a server that dies uncleanly
        // keeps its entry in JACK's machine-wide table until one of the same name starts.
        for (int slot = 0; slot < 4; ++slot) {
            if (StartServer("dorvik-unit-" + std::to_string(slot))) return;
        }
        GTEST_SKIP() << "jackd cannot be started: " << failure_;
    }

    bool StartServer(const std::string& name) {
        ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        // The server's words go to a file: it says it is starting only once the name is its own,
        // so that a server of the same name another test run started is never taken for ours.
        char logPath[] = "/tmp/dorvik-jackd-XXXXXX";
        const int log = ::mkstemp(logPath);
        if (log < 0) return false;
        ::unlink(logPath);
        jackd_ = ::fork();
        if (jackd_ < 0) {
            ::close(log);
            return false;
        }
        if (jackd_ == 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            ::execlp("jackd", "jackd", "--no-realtime", "--sync", "-d", "dummy", "-r", "48000", "-p", "64",
                     nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (::waitpid(jackd_, &status, WNOHANG) == jackd_) {
                ::close(log);
                jackd_ = -1;
                failure_ = "it exited with status " + std::to_string(WEXITSTATUS(status));
                return false;
            }
            if (Said(log, "JACK server starting")) {
                if (jack_client_t* c = jack_client_open("probe", JackNoStartServer, nullptr)) {
                    jack_client_close(c);
                    ::close(log);
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ::close(log);
        failure_ = "it did not answer within 10 seconds";
        TearDown();
        jackd_ = -1;
        return false;
    }

    // Whether the file behind `fd` holds `words` in its first few kilobytes.
    static bool Said(int fd, const std::string& words) {
        char text[4096];
        const ssize_t got = ::pread(fd, text, sizeof text, 0);
        return got > 0 && std::string(text, static_cast<size_t>(got)).find(words) != std::string::npos;
    }

    void TearDown() override {
        if (jackd_ <= 0) return;
        ::kill(jackd_, SIGTERM);
        ::waitpid(jackd_, nullptr, 0);
    }

    pid_t jackd_ = -1;
    std::string failure_;
};

TEST_F(MidiInputJackTest, EveryMessageArrivesInOrderAndGoneIsNoticed) {
    RtMidiOut keys(RtMidi::UNIX_JACK, "Test keyboard");
    keys.openVirtualPort("keys");

    Failure why;
    const std::unique_ptr<MidiInput> input = OpenMidiInput("dorvik-test", why);
    ASSERT_EQ(input->Backend(), MidiBackend::Jack) << why.text;
    const std::vector<MidiInputPort> ports = input->Ports();
    const int pick = PickMidiInput(ports, "");
    ASSERT_GE(pick, 0) << "the keyboard is not listed";
    ASSERT_EQ(ports[size_t(pick)].name, "Test keyboard:keys");
    ASSERT_TRUE(input->Open(ports[size_t(pick)].name).Ok());
    MidiInputWatch watch;
    (void)watch.Poll(*input);

    // Bursts well inside what the sender's own buffer holds per period, read as they come.
    constexpr int kMessages = 3000;
    constexpr int kBurst = 300;
    const double sentFrom = Now();
    std::vector<MidiMessage> read;
    for (int sent = 0; sent < kMessages;) {
        for (int i = 0; i < kBurst; ++i, ++sent) {
            const std::vector<unsigned char> note = {0x90, static_cast<unsigned char>(sent % 128),
                                                     static_cast<unsigned char>(sent / 128 + 1)};
            keys.sendMessage(&note);
        }
        const double deadline = Now() + 10;
        while (read.size() < size_t(sent) && Now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            input->Read(read);
        }
    }
    const double readBy = Now();
    ASSERT_EQ(read.size(), size_t(kMessages));
    EXPECT_EQ(input->Dropped(), 0u);
    for (int i = 0; i < kMessages; ++i) {
        ASSERT_EQ(read[i].bytes[1], i % 128) << "message " << i;
        ASSERT_EQ(read[i].bytes[2], i / 128 + 1) << "message " << i;
        ASSERT_GE(read[i].seconds, i == 0 ? sentFrom : read[i - 1].seconds) << "message " << i;
        ASSERT_LE(read[i].seconds, readBy) << "message " << i;
    }

    keys.closePort();
    bool lost = false;
    for (const double deadline = Now() + 10; !lost && Now() < deadline;) {
        lost = watch.Poll(*input).openLost;
        if (!lost) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(lost) << "the keyboard's going was not noticed";
}

}  // namespace
}  // namespace platform
