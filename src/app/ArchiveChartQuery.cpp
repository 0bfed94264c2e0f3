#include "app/ArchiveChartQuery.h"

#include <memory>

#include "archive/Archive.h"

namespace tavrik {

namespace {

class ChartReader {
  public:
    explicit ChartReader(std::string path) : path_(std::move(path)) {}

    ArchiveChartData Answer(const ArchiveChartRequest& request) {
        ArchiveChartData data;
        data.error = Read(request, data);
        // A failed read may mean a replaced or damaged file: the next asks anew.
        if (!data.error.empty()) archive_.Close();
        return data;
    }

  private:
    std::string Read(const ArchiveChartRequest& request, ArchiveChartData& data) {
        if (!archive_.IsOpen())
            if (std::string why = archive_.Open(path_, Archive::Access::Read); !why.empty())
                return why;
        TimeRange range;
        if (const std::optional<TimeSpan> fixed = FixedSpan(request.range, request.nowMs)) {
            range = {fixed->fromMs, fixed->toMs};
        } else if (request.range == ChartRange::LastPass) {
            std::optional<Summary> pass;
            if (std::string why = archive_.LastPass(pass); !why.empty()) return why;
            if (!pass) return {};
            range = {pass->startMs, pass->endMs + 1};
        } else {
            ArchiveExtent all;
            if (std::string why = archive_.Extent({}, all); !why.empty()) return why;
            if (all.count == 0) return {};
            range = {all.firstMs, all.lastMs + 1};
        }
        Series series;
        if (std::string why = archive_.QuerySeries(request.field, range, request.points, series);
            !why.empty())
            return why;
        data.span = {range.fromMs, range.toMs};
        data.bucketMs = series.bucketMs;
        data.buckets = std::move(series.buckets);
        return {};
    }

    std::string path_;
    Archive archive_;
};

} // namespace

ArchiveChartQuery ArchiveChartQueryFor(const std::string& archivePath) {
    auto reader = std::make_shared<ChartReader>(archivePath);
    return [reader](const ArchiveChartRequest& request) { return reader->Answer(request); };
}

} // namespace tavrik
