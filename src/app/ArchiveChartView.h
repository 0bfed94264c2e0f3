#pragma once
// One field over a stretch of the archive: per bucket of about one pixel the
// band from its lowest to its highest value and a line through its average,
// so no extreme vanishes however long the stretch. Buckets that held a value
// beyond a limit carry a marker. The time axis reads UTC.
#include <QtCharts/QChartView>
#include <cstdint>
#include <utility>
#include <vector>

#include "app/ArchiveChartSource.h"

QT_BEGIN_NAMESPACE
class QAreaSeries;
class QCategoryAxis;
class QScatterSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace tavrik {

// Time-axis labels for a span: round UTC times (whole minutes, hours, days,
// months or years), at most about eight, each (ms since 1970, label).
std::vector<std::pair<std::int64_t, QString>> TimeTicks(std::int64_t fromMs, std::int64_t toMs);

class ArchiveChartView : public QChartView {
    Q_OBJECT
  public:
    explicit ArchiveChartView(QWidget* parent);

    // Draws an answer; caption ("Batt volts [mV]") names the chart to assistive tools.
    void Show(const ArchiveChartData& data, const QString& caption);
    const ArchiveChartData& Shown() const { return data_; }
    // The bucket under a point of the view, if any (what the tooltip tells).
    const SeriesBucket* BucketAt(QPoint viewPos) const;
    // The tooltip's text for a bucket.
    QString BucketText(const SeriesBucket& bucket) const;
    // The min-max band as drawn.
    const QAreaSeries* Band() const { return band_; }

  protected:
    bool viewportEvent(QEvent* event) override;

  private:
    QString Value(double v) const;
    template <class TopBottom>
    void DrawArea(QAreaSeries* area, const ArchiveChartData& data, TopBottom topBottom);

    ArchiveChartData data_;
    QAreaSeries* band_ = nullptr; // lowest to highest
    QAreaSeries* avg_ = nullptr;  // a strip along the average
    QScatterSeries* yellow_ = nullptr;
    QScatterSeries* red_ = nullptr;
    QCategoryAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
};

} // namespace tavrik
