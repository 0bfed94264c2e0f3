#pragma once
// The limits in the window: the file read and watched, the consumer of live
// frames, the alarm program, the value boxes' colours and the chart's lines.
// Made only when LIMITS is set; without it nothing of this exists.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "files/StationConfig.h"
#include "station/LimitsConsumer.h"

namespace tavrik {

class AlarmRunner;
class FramePipeline;
class ChartLimitLines;
class LimitsFileWatcher;
class TelemetryChart;
class TelemetryPanel;

class StationLimits : public QObject {
    Q_OBJECT
  public:
    using Log = std::function<void(const std::string&)>;

    explicit StationLimits(Log log) : log_(std::move(log)) {}
    ~StationLimits() override;

    // With LIMITS set: the file read and watched, and the limits added to the
    // station's consumers. Nothing without it. A relative path is taken in the
    // station folder.
    void Start(FramePipeline& station, const StationConfig& config, const QString& stationFolder,
               TelemetryPanel& panel, TelemetryChart& chart);
    bool Started() const { return consumer_ != nullptr; }

    const LimitsConsumer& Limits() const { return *consumer_; }
    StationConsumer& Consumer() { return *consumer_; } // what the station hands frames to
    const AlarmRunner* Alarms() const { return alarms_; }

  private:
    void Show(const LimitsNews& news);

    Log log_;
    TelemetryPanel* panel_ = nullptr;
    std::unique_ptr<LimitsConsumer> consumer_;
    PanelLook shown_{};
    AlarmRunner* alarms_ = nullptr;
    QPointer<ChartLimitLines> lines_; // a child of the chart, which may go first
    LimitsFileWatcher* file_ = nullptr;
};

} // namespace tavrik
