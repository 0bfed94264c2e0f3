#include "web/WebSeries.h"

#include <algorithm>
#include <cmath>

namespace tavrik {

namespace {

bool InRange(const RecordView& r, std::int64_t fromMs, std::int64_t toMs) {
    return r.timeMs >= fromMs && r.timeMs <= toMs;
}

} // namespace

Series SeriesFromRecords(const std::deque<RecordView>& records, int field, std::int64_t fromMs,
                         std::int64_t toMs, int points) {
    Series out;
    if (field < 0 || field >= kFieldCount || points < 1 || toMs < fromMs) return out;
    struct Picked {
        std::int64_t t;
        double v;
        LimitLevel level;
    };
    std::vector<Picked> picked;
    for (const RecordView& r : records)
        if (InRange(r, fromMs, toMs) && std::isfinite(r.values[field]))
            picked.push_back({r.timeMs, r.values[field],
                              static_cast<LimitLevel>(std::clamp(r.limits[field].level, 0, 3))});
    // Records come in time order but for a clock step or an import: sorted only then.
    const auto earlier = [](const Picked& a, const Picked& b) { return a.t < b.t; };
    if (!std::is_sorted(picked.begin(), picked.end(), earlier))
        std::stable_sort(picked.begin(), picked.end(), earlier);
    if (picked.size() <= static_cast<std::size_t>(points)) {
        for (const Picked& p : picked)
            out.buckets.push_back({p.t, 1, p.v, p.v, p.v, p.level});
        return out;
    }
    // Buckets over the records' own extent: a short pass in a long range
    // still gets all its points.
    const std::int64_t first = picked.front().t;
    const std::int64_t span = picked.back().t - first + 1;
    out.bucketMs = (span + points - 1) / points;
    for (const Picked& p : picked) {
        const std::int64_t start = first + (p.t - first) / out.bucketMs * out.bucketMs;
        if (out.buckets.empty() || out.buckets.back().startMs != start) {
            out.buckets.push_back({start, 1, p.v, p.v, p.v, p.level});
            continue;
        }
        SeriesBucket& b = out.buckets.back();
        b.min = std::min(b.min, p.v);
        b.max = std::max(b.max, p.v);
        b.avg += p.v; // the sum until the end
        b.worst = Worse(b.worst, p.level);
        ++b.count;
    }
    for (SeriesBucket& b : out.buckets)
        b.avg /= static_cast<double>(b.count);
    return out;
}

std::vector<PassView> PassesFromRecords(const std::deque<RecordView>& records, std::int64_t fromMs,
                                        std::int64_t toMs, std::size_t max) {
    std::vector<const RecordView*> picked;
    for (const RecordView& r : records)
        if (InRange(r, fromMs, toMs)) picked.push_back(&r);
    std::stable_sort(picked.begin(), picked.end(), [](const RecordView* a, const RecordView* b) {
        return a->timeMs < b->timeMs;
    });
    std::vector<PassView> passes;
    for (const RecordView* r : picked) {
        if (passes.empty() || r->timeMs - passes.back().endMs > kPassGapMs) {
            passes.push_back({r->timeMs, r->timeMs, 0, r->source, 0});
        }
        PassView& p = passes.back();
        p.endMs = r->timeMs;
        ++p.frames;
        for (const FieldLimitView& l : r->limits)
            p.worstLevel = std::max(p.worstLevel, l.level);
    }
    std::reverse(passes.begin(), passes.end());
    if (passes.size() > max) passes.resize(max);
    return passes;
}

} // namespace tavrik
