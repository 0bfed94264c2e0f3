#pragma once
// The archive's answer for the chart, asked off the window's thread: a query
// over a year of frames must never hold up the window. Answers come back as
// values; only the newest request's answer is delivered.
#include <QObject>
#include <QThreadPool>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ChartRangeBox.h"
#include "telemetry/SeriesBucket.h"

namespace tavrik {

struct ArchiveChartRequest {
    int field = 0;
    ChartRange range = ChartRange::Day;
    std::int64_t nowMs = 0; // the end of the ranges that end now
    int points = 600;       // at most this many buckets: about one per pixel
};

struct ArchiveChartData {
    ArchiveChartRequest request;
    TimeSpan span;                     // what the buckets cover (empty when nothing is archived)
    std::int64_t bucketMs = 0;         // width of a bucket
    std::vector<SeriesBucket> buckets; // ascending, empty buckets left out
    std::string error;                 // why there is no answer ("" when there is)
};

// Answers one request; called on a worker thread, one call at a time.
using ArchiveChartQuery = std::function<ArchiveChartData(const ArchiveChartRequest&)>;

class ArchiveChartSource : public QObject {
    Q_OBJECT
  public:
    ArchiveChartSource(ArchiveChartQuery query, QObject* parent);
    // Waits for a running query: it shares nothing with the window but this object.
    ~ArchiveChartSource() override;

    // Asks for a chart. A request made while a query runs replaces the one
    // waiting behind it, and the running one's answer is dropped.
    void Request(const ArchiveChartRequest& request);
    bool Busy() const { return running_; }

  signals:
    void Ready(const ArchiveChartData& data);

  private:
    void Start(const ArchiveChartRequest& request);
    void Answered(ArchiveChartData data);

    ArchiveChartQuery query_;
    QThreadPool pool_;
    bool running_ = false;
    std::optional<ArchiveChartRequest> waiting_;
};

} // namespace tavrik
