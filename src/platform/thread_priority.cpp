#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>

namespace platform {

bool AskForPromptWakeUps() {
    // JACK runs its clients' threads at 70 or so and its server above them; below those, and
    // above every ordinary thread, is where a sender belongs.
    sched_param param{};
    param.sched_priority = 20;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace platform
