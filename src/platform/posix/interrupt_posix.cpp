// POSIX interrupts: the signals are taken by one thread with sigwait, so the clean-up runs as
// ordinary code (no async-signal-safety limits) while the other threads go on until it is done.
#include <pthread.h>
#include <signal.h>
#include <time.h>
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

BrokenPipesFail::BrokenPipesFail() {
    sigset_t pipe, before;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    if (pthread_sigmask(SIG_BLOCK, &pipe, &before) == 0) unblock_ = sigismember(&before, SIGPIPE) == 0;
}

BrokenPipesFail::~BrokenPipesFail() {
    if (!unblock_) return;
    sigset_t pipe, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    // A broken pipe met meanwhile left its signal pending: taken here, it is never delivered.
    while (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const timespec now{0, 0};
        if (sigtimedwait(&pipe, nullptr, &now) < 0) break;
    }
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

}  // namespace nimbrel::platform
