#include "web/ArchiveWebSource.h"

#include <limits>

namespace tavrik {

namespace {
// The archive's ranges leave their end out; the API's include it.
TimeRange Inclusive(std::int64_t fromMs, std::int64_t toMs) {
    return {fromMs, toMs == std::numeric_limits<std::int64_t>::max() ? toMs : toMs + 1};
}
} // namespace

bool ArchiveWebSource::Ready() {
    if (archive_.IsOpen()) return true;
    const std::string path = path_();
    return !path.empty() && archive_.Open(path, Archive::Access::Read).empty();
}

std::optional<std::vector<SeriesPoint>> ArchiveWebSource::Series(int field, std::int64_t fromMs,
                                                                 std::int64_t toMs, int points) {
    // Buckets over the frames' own extent, as for this run's records: a short
    // pass in a long range still gets all its points.
    ArchiveExtent extent;
    if (!Ready() || !archive_.Extent(Inclusive(fromMs, toMs), extent).empty()) return std::nullopt;
    if (extent.count == 0) return std::vector<SeriesPoint>{};
    tavrik::Series s;
    if (!archive_.QuerySeries(field, Inclusive(extent.firstMs, extent.lastMs), points, s).empty())
        return std::nullopt;
    std::vector<SeriesPoint> out;
    out.reserve(s.buckets.size());
    for (const SeriesBucket& b : s.buckets)
        out.push_back(
            {b.startMs + s.bucketMs / 2, b.min, b.max, b.avg, static_cast<std::uint32_t>(b.count)});
    return out;
}

std::optional<std::vector<PassView>> ArchiveWebSource::Passes(std::int64_t fromMs,
                                                              std::int64_t toMs, std::size_t max) {
    std::vector<Summary> passes;
    if (!Ready() || !archive_.QueryPasses(Inclusive(fromMs, toMs), passes).empty())
        return std::nullopt;
    std::vector<PassView> out;
    for (auto it = passes.rbegin(); it != passes.rend() && out.size() < max; ++it)
        out.push_back({it->startMs, it->endMs, static_cast<std::uint64_t>(it->count), {}, 0});
    return out;
}

std::optional<std::uint64_t> ArchiveWebSource::Rows() {
    ArchiveExtent e;
    if (!Ready() || !archive_.Extent({}, e).empty()) return std::nullopt;
    return static_cast<std::uint64_t>(e.count);
}

} // namespace tavrik
