#pragma once
// Archive work off the window's thread (the writer's catch-up, a chart's query
// over a year, an export) gives way to that thread: on a machine with fewer
// free cores than busy threads the window's event loop must still run at once.
#include <sys/resource.h>
#include <unistd.h>

namespace tavrik {

// Lowers the calling thread's scheduling priority by `steps` (nice), once.
inline void LowerThreadPriority(int steps = 10) {
    thread_local bool lowered = false;
    if (lowered) return;
    lowered = true;
    const auto tid = static_cast<id_t>(::gettid());
    const int now = ::getpriority(PRIO_PROCESS, tid);
    ::setpriority(PRIO_PROCESS, tid, now + steps > 19 ? 19 : now + steps);
}

} // namespace tavrik
