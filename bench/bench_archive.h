#pragma once
// An archive of telemetry frames spread evenly over the year before now,
// made once and kept (big ones take minutes), for the benchmarks that need
// a window on a full archive.
#include <QDateTime>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "bench_data.h"

namespace tavrik::bench {

inline constexpr std::int64_t kYearMs = 365LL * 24 * 3600 * 1000;

// Returns why the archive at path cannot be had, or "".
inline std::string KeptArchive(const std::string& path, std::int64_t frames) {
    {
        Archive archive;
        ArchiveExtent extent;
        if (archive.Open(path, Archive::Access::Read).empty() &&
            archive.Extent({}, extent).empty() && extent.count >= frames)
            return {};
    }
    std::remove(path.c_str());
    std::fprintf(stderr, "making an archive of %lld frames: %s\n", static_cast<long long>(frames),
                 path.c_str());
    Archive archive;
    if (std::string why = archive.Open(path, Archive::Access::Write); !why.empty()) return why;
    const std::int64_t endMs = QDateTime::currentMSecsSinceEpoch();
    const std::int64_t stepMs = kYearMs / frames;
    Lcg rng(99);
    std::vector<ArchiveFrame> batch;
    for (std::int64_t i = 0; i < frames;) {
        batch.clear();
        for (; i < frames && batch.size() < 10000; ++i) {
            ArchiveFrame f;
            f.timeMs = endMs - kYearMs + i * stepMs;
            f.source = "BENCH";
            f.data = VaryingTelemetryFrame(rng);
            batch.push_back(std::move(f));
        }
        const WriteResult r = archive.Insert(batch);
        if (!r.Ok()) return r.error;
    }
    return {};
}

} // namespace tavrik::bench
