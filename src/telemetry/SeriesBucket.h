#pragma once
// One field over a stretch of time, in buckets: what the archive answers, the
// window's archive chart draws and the page's /api/series sends. One type for
// all three, so the worst limit level travels with the values unchanged.
#include <cstdint>
#include <vector>

#include "telemetry/LimitLevel.h"

namespace tavrik {

// The frames of one field that fell in [startMs, startMs + the series' bucketMs).
struct SeriesBucket {
    std::int64_t startMs = 0;
    std::int64_t count = 0;
    double min = 0;
    double avg = 0;
    double max = 0;
    LimitLevel worst = LimitLevel::Unchecked; // the worst level of the field's values in it
};

struct Series {
    std::int64_t bucketMs = 0;         // every bucket's length (0: one bucket per frame)
    bool fromSummaries = false;        // hour summaries (buckets of whole hours) or raw rows
    std::vector<SeriesBucket> buckets; // in time order; buckets without frames left out

    // Where bucket b stands on a time axis: its middle.
    std::int64_t MiddleMs(const SeriesBucket& b) const { return b.startMs + bucketMs / 2; }
};

} // namespace tavrik
