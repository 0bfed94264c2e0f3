#pragma once
// The chosen field's limits drawn over the chart as dashed lines, yellow and
// red, across all rows; named in the chart's accessible description too.
#include <QObject>
#include <array>

#include "limits/Limits.h"

QT_BEGIN_NAMESPACE
class QLineSeries;
QT_END_NAMESPACE

namespace tavrik {

class TelemetryChart;

class ChartLimitLines : public QObject {
    Q_OBJECT
  public:
    explicit ChartLimitLines(TelemetryChart* chart);

    // New limits: the lines of the field shown are drawn again.
    void SetLimits(const LimitsTable& table);

    // The lines as drawn: red-low, yellow-low, yellow-high, red-high; none when hidden.
    std::array<std::optional<double>, 4> Drawn() const;

  private:
    void Draw(int field);

    TelemetryChart* chart_;
    LimitsTable table_;
    int field_ = -1;
    std::array<QLineSeries*, 4> lines_{};
};

} // namespace tavrik
