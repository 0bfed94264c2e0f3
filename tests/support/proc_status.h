#pragma once
// This process's memory as the kernel reports it, for the soak and the benchmarks.
#include <fstream>
#include <string>

namespace tavrik::testing {

// A line of /proc/self/status in KiB: "VmHWM" (peak resident) or "VmRSS"; -1 if absent.
inline long ProcStatusKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
    return -1;
}

} // namespace tavrik::testing
