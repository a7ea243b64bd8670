#pragma once
// The benchmarks' processor clock: the calling thread's processor time in milliseconds.
#include <time.h>

namespace nimbrel::bench {

inline double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

}  // namespace nimbrel::bench
