#include "platform/dialogs_sdl.h"

#include <SDL.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>

namespace platform {

namespace {

// On X11, SDL shows its box from a child process it forks, and waits for that child without
// giving way to signals. Two things follow, and both are mended here: a SIGTERM or SIGINT would
// wait until the user closes the box, and a player killed outright would leave the box on screen
// with no program behind it.
//
// So while a box opens, every child forked is told to die with its parent and records its process
// id in a page shared with the parent; a quit signal arriving meanwhile closes the box at once and
// then takes its usual course (SDL's own handler posts the quit that ends the message loop).

std::atomic<bool> boxOpening{false};
pid_t boxParent = 0;
std::atomic<pid_t>* boxChild = nullptr;  // in a page shared with the forked children
struct sigaction previousTerm {
}, previousInt{};

static_assert(std::atomic<pid_t>::is_always_lock_free, "read by a signal handler and a forked child");

void AfterFork() {
    if (!boxOpening.load()) return;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != boxParent) _exit(1);  // the parent died before the line above took effect
    boxChild->store(getpid());
}

void CloseBoxOnQuit(int signal) {
    const pid_t child = boxChild->load();
    if (child > 0) kill(child, SIGKILL);
    const struct sigaction& previous = signal == SIGTERM ? previousTerm : previousInt;
    if (previous.sa_handler == SIG_IGN) return;
    if (previous.sa_handler == SIG_DFL || (previous.sa_flags & SA_SIGINFO) != 0) {
        sigaction(signal, &previous, nullptr);
        raise(signal);
        return;
    }
    previous.sa_handler(signal);
}

bool PrepareBoxWatch() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        void* page = mmap(nullptr, sizeof(std::atomic<pid_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) return;
        boxChild = new (page) std::atomic<pid_t>(0);
        ready = pthread_atfork(nullptr, nullptr, AfterFork) == 0;
    });
    return ready;
}

}  // namespace

int SdlDialogs::ShowError(const std::string& text, const std::string& caption) {
    const bool watched = PrepareBoxWatch();
    if (watched) {
        boxChild->store(0);
        boxParent = getpid();
        struct sigaction action {};
        action.sa_handler = CloseBoxOnQuit;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTERM, &action, &previousTerm);
        sigaction(SIGINT, &action, &previousInt);
        boxOpening.store(true);
    }
    const int shown = SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), parent_);
    if (watched) {
        boxOpening.store(false);
        sigaction(SIGTERM, &previousTerm, nullptr);
        sigaction(SIGINT, &previousInt, nullptr);
        boxChild->store(0);
    }
    if (shown != 0) std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return kOk;
}

bool SdlDialogs::WhileOpen() {
    SDL_PumpEvents();
    SDL_FlushEvent(SDL_KEYDOWN);
    SDL_FlushEvent(SDL_MOUSEMOTION);
    SDL_FlushEvent(SDL_MOUSEBUTTONDOWN);
    SDL_FlushEvent(SDL_MOUSEWHEEL);
    if (paint_) paint_();
    return SDL_HasEvent(SDL_QUIT) == SDL_FALSE;
}

}  // namespace platform
