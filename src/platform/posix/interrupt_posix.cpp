// POSIX interrupts: the signals are taken by one thread with sigwait, so the clean-up runs as
// ordinary code (no async-signal-safety limits) while the other threads go on until it is done.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "platform/interrupt.h"
#include "platform/temp.h"

namespace nimbrel::platform {

void CleanUpOnInterrupt() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    ::signal(SIGXFSZ, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    // Blocked here, and so in every thread started later: only the waiting thread takes them.
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
    std::thread([set] {
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        RemoveLiveTemporaries();
        // End as the signal ends a program, so that the parent sees which one it was.
        ::signal(signal, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }).detach();
}

}  // namespace nimbrel::platform
