#pragma once
// The station's limits in the window: the value boxes' colours and words, and
// the chart's limit lines. Made only when the station checks limits.
#include <QObject>
#include <QPointer>

#include "station/qt/StationLimits.h"

namespace tavrik {

class ChartLimitLines;
class TelemetryChart;
class TelemetryPanel;

class LimitsView : public QObject {
    Q_OBJECT
  public:
    LimitsView(StationLimits& limits, TelemetryPanel& panel, TelemetryChart& chart,
               QObject* parent = nullptr);
    ~LimitsView() override;

  private:
    void Show(const PanelLook& look);

    TelemetryPanel& panel_;
    PanelLook shown_{};
    QPointer<ChartLimitLines> lines_; // a child of the chart, which may go first
};

} // namespace tavrik
