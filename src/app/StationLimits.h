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

    // Made and added to the station's consumers when the configuration sets
    // LIMITS; nothing otherwise.
    static std::unique_ptr<StationLimits> Add(FramePipeline& station, const StationConfig& config,
                                              const QString& stationFolder, TelemetryPanel& panel,
                                              TelemetryChart& chart, Log log);
    // Nothing when the configuration sets no LIMITS. A relative path is taken
    // in the station folder.
    static std::unique_ptr<StationLimits> FromConfig(const StationConfig& config,
                                                     const QString& stationFolder,
                                                     TelemetryPanel& panel, TelemetryChart& chart,
                                                     Log log);
    ~StationLimits() override;

    // What the station core hands live and imported frames to.
    StationConsumer& Consumer() { return consumer_; }
    const LimitsConsumer& Limits() const { return consumer_; }
    const AlarmRunner* Alarms() const { return alarms_; }
    LimitsFileWatcher& File() { return *file_; }

  private:
    StationLimits(const StationConfig& config, const QString& path, TelemetryPanel& panel,
                  TelemetryChart& chart, Log log);
    void Show(const LimitsNews& news);

    TelemetryPanel& panel_;
    Log log_;
    LimitsConsumer consumer_;
    PanelLook shown_{};
    AlarmRunner* alarms_ = nullptr;
    QPointer<ChartLimitLines> lines_; // a child of the chart, which may go first
    LimitsFileWatcher* file_ = nullptr;
};

} // namespace tavrik
