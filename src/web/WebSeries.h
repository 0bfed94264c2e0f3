#pragma once
// The chart's and the pass list's data: from the archive when the station
// keeps one, from this run's records otherwise. Long ranges come in buckets
// with their lowest, highest and mean value, so a year fits in a few hundred
// points and a spike still shows.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveSchema.h" // kPassGapMs: one meaning of a pass, live and archived
#include "telemetry/SeriesBucket.h"
#include "web/WebState.h"

namespace tavrik {

struct PassView {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::uint64_t frames = 0;
    std::string source;
    int worstLevel = 0; // the worst limit level of its frames (see FieldLimitView)
};

// What the web page asks of the archive. The wiring adapts the archive to it;
// without an archive the answers come from this run's records. The answers
// come later, on the thread that asked: the archive is read elsewhere.
class WebArchive {
  public:
    template <class T> using Done = std::function<void(std::optional<T>)>;
    virtual ~WebArchive() = default;
    // At most `points` buckets of a field over [fromMs, toMs], oldest first;
    // nothing when the archive cannot answer (the run's records are used then).
    virtual void Series(int field, std::int64_t fromMs, std::int64_t toMs, int points,
                        Done<tavrik::Series> done) = 0;
    // At most `max` passes overlapping [fromMs, toMs], newest first.
    virtual void Passes(std::int64_t fromMs, std::int64_t toMs, std::size_t max,
                        Done<std::vector<PassView>> done) = 0;
};

// The field's values of the records in [fromMs, toMs], one bucket per record
// (bucketMs 0) when they are no more than `points`, otherwise in at most
// `points` equal time buckets from the first of them to the last.
Series SeriesFromRecords(const std::deque<RecordView>& records, int field, std::int64_t fromMs,
                         std::int64_t toMs, int points);

// The passes among the records in [fromMs, toMs], newest first, at most `max`.
std::vector<PassView> PassesFromRecords(const std::deque<RecordView>& records, std::int64_t fromMs,
                                        std::int64_t toMs, std::size_t max);

} // namespace tavrik
