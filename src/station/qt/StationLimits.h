#pragma once
// The limits of a station (LIMITS=): the file read and watched, the check of
// every decoded frame (the pipeline's annotator), the news of what changed and
// the alarm program. Without LIMITS nothing of this exists. What changed is
// told by signal, so a window may colour its boxes; the station needs none.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "files/StationConfig.h"
#include "station/LimitsConsumer.h"

namespace tavrik {

class AlarmRunner;
class LimitsFileWatcher;

class StationLimits : public QObject {
    Q_OBJECT
  public:
    using Log = std::function<void(const std::string&)>;

    explicit StationLimits(Log log, QObject* parent = nullptr);
    ~StationLimits() override;

    // With LIMITS set: the file read and watched and the checker made; nothing
    // without it. A relative path is taken in the station folder. The station
    // adds Checker() to its annotators and consumers.
    void Start(const StationConfig& config, const QString& stationFolder);
    bool Started() const { return consumer_ != nullptr; }

    const LimitsConsumer& Limits() const { return *consumer_; }
    LimitsConsumer* Checker() { return consumer_.get(); }
    const AlarmRunner* Alarms() const { return alarms_; }
    // Every field's state as last told (all unchecked before the first news).
    const PanelLook& Look() const { return look_; }

  signals:
    // The states or their words changed (a live frame, the file read again).
    void changed(const tavrik::PanelLook& look);
    // The limits file was read (again): the chart draws the new lines.
    void tableRead(const tavrik::LimitsTable& table);

  private:
    void Tell(const LimitsNews& news);

    Log log_;
    std::unique_ptr<LimitsConsumer> consumer_;
    PanelLook look_{};
    AlarmRunner* alarms_ = nullptr;
    LimitsFileWatcher* file_ = nullptr;
};

} // namespace tavrik
