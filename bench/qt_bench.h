#pragma once
// What the benchmarks of widgets share: the main that runs them offscreen, and
// the thread's own CPU time (on a shared machine wall time also counts the
// time other work had the core, so handler figures are given in both).
#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <ctime>

namespace tavrik::bench {

inline std::int64_t ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
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
