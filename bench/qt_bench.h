#pragma once
// What the benchmarks of widgets share: the main that runs them offscreen, and
// the thread's own CPU time (on a shared machine wall time also counts the
// time other work had the core, so handler figures are given in both).
#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <ctime>
#include <string>

namespace tavrik::bench {

inline std::int64_t ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// Times `handle` in each iteration as the handler that holds up the event loop
// (wall and thread CPU time, counters handler_<unit> and handler_cpu_<unit>,
// unit "ms" or "us"); `after` (the repaint) counts in the iteration's time only.
template <class Handle, class After>
void TimeHandler(benchmark::State& state, const std::string& unit, Handle handle, After after) {
    std::int64_t wallNs = 0, cpuNs = 0;
    QElapsedTimer t;
    for (auto _ : state) {
        t.start();
        const std::int64_t cpu = ThreadCpuNs();
        handle();
        wallNs += t.nsecsElapsed();
        cpuNs += ThreadCpuNs() - cpu;
        after();
    }
    const double scale = (unit == "ms" ? 1e6 : 1e3) * static_cast<double>(state.iterations());
    state.counters["handler_" + unit] = static_cast<double>(wallNs) / scale;
    state.counters["handler_cpu_" + unit] = static_cast<double>(cpuNs) / scale;
}

inline int RunQtBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace tavrik::bench
