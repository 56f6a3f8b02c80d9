// CPU time of the calling thread, for benchmarks that show a wait costs
// nothing.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <functional>

inline double ThreadCpuMs() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// CPU milliseconds the thread spends per second of real time while wait runs.
inline double CpuMsPerSecond(const std::function<void()>& wait) {
    const double cpu0 = ThreadCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    wait();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return (ThreadCpuMs() - cpu0) / seconds;
}
