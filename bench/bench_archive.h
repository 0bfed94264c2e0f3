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

// Fills the archive at path with frames evenly over the year before endMs, in
// transactions of 10 000; returns why not, or "". Progress every million
// frames on stderr.
inline std::string FillArchive(const std::string& path, std::int64_t frames, std::int64_t endMs) {
    Archive archive;
    if (std::string why = archive.Open(path, Archive::Access::Write); !why.empty()) return why;
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
        if (i % 1000000 == 0)
            std::fprintf(stderr, "%lld frames archived\n", static_cast<long long>(i));
    }
    return {};
}

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
    return FillArchive(path, frames, QDateTime::currentMSecsSinceEpoch());
}

} // namespace tavrik::bench
