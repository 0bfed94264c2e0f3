#include "web/WebSeries.h"

#include <algorithm>
#include <cmath>

namespace tavrik {

namespace {

struct Bucket {
    std::int64_t firstMs = 0;
    std::int64_t lastMs = 0;
    double min = 0;
    double max = 0;
    double sum = 0;
    std::uint32_t count = 0;

    void Add(std::int64_t t, double v) {
        if (count == 0) {
            firstMs = lastMs = t;
            min = max = v;
        }
        firstMs = std::min(firstMs, t);
        lastMs = std::max(lastMs, t);
        min = std::min(min, v);
        max = std::max(max, v);
        sum += v;
        ++count;
    }
    SeriesPoint Point() const {
        return {firstMs + (lastMs - firstMs) / 2, min, max, sum / count, count};
    }
};

bool InRange(const RecordView& r, std::int64_t fromMs, std::int64_t toMs) {
    return r.timeMs >= fromMs && r.timeMs <= toMs;
}

} // namespace

std::vector<SeriesPoint> SeriesFromRecords(const std::deque<RecordView>& records, int field,
                                           std::int64_t fromMs, std::int64_t toMs, int points) {
    std::vector<SeriesPoint> out;
    if (field < 0 || field >= kFieldCount || points < 1 || toMs < fromMs) return out;
    std::vector<std::pair<std::int64_t, double>> picked;
    for (const RecordView& r : records)
        if (InRange(r, fromMs, toMs) && std::isfinite(r.values[field]))
            picked.emplace_back(r.timeMs, r.values[field]);
    // Records come in time order but for a clock step or an import: sorted only then.
    const auto earlier = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(picked.begin(), picked.end(), earlier))
        std::stable_sort(picked.begin(), picked.end(), earlier);
    if (picked.size() <= static_cast<std::size_t>(points)) {
        for (const auto& [t, v] : picked)
            out.push_back({t, v, v, v, 1});
        return out;
    }
    // Buckets over the records' own extent: a short pass in a long range
    // still gets all its points.
    std::vector<Bucket> buckets(static_cast<std::size_t>(points));
    const std::int64_t first = picked.front().first;
    const double span = static_cast<double>(picked.back().first - first) + 1.0;
    for (const auto& [t, v] : picked) {
        auto i = static_cast<std::size_t>(static_cast<double>(t - first) / span * points);
        buckets[std::min(i, buckets.size() - 1)].Add(t, v);
    }
    for (const Bucket& b : buckets)
        if (b.count) out.push_back(b.Point());
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
