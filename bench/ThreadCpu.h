// CPU time of the calling thread, for benchmarks that show a wait costs
// nothing, and of the tools a benchmark runs.
#pragma once

#include <benchmark/benchmark.h>

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

// CPU milliseconds of the child processes that have ended (the tools a
// benchmark runs: their time is not in the benchmark's own CPU column).
inline double ChildrenCpuMs() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Reports the CPU the tools of one benchmark used, per iteration, as the
// column "tool_cpu_ms" beside the benchmark's own CPU.
class ToolCpu {
public:
    explicit ToolCpu(benchmark::State& state) : State(state), Start(ChildrenCpuMs()) {}
    ~ToolCpu() {
        State.counters["tool_cpu_ms"] =
            benchmark::Counter(ChildrenCpuMs() - Start, benchmark::Counter::kAvgIterations);
    }
    ToolCpu(const ToolCpu&) = delete;
    ToolCpu& operator=(const ToolCpu&) = delete;

private:
    benchmark::State& State;
    double Start;
};
