#pragma once
// The calling thread's own CPU time. On a shared machine wall time also counts
// the time other work had the core, so handler figures are given in both.
#include <cstdint>
#include <ctime>

namespace tavrik::bench {

inline std::int64_t ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

} // namespace tavrik::bench
