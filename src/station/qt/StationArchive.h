#pragma once
// The archive among the station's consumers (ARCHIVE=YES): opened beside the
// KISS logs at start-up, caught up with them, then handed every decoded frame,
// live or imported. Its event-log lines come back through `log`.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "archive/qt/ArchiveService.h"
#include "files/StationConfig.h"
#include "limits/Limits.h"
#include "station/ArchiveConsumer.h"
#include "station/StationConsumer.h"

namespace tavrik {

class StationArchive final : public QObject, public StationConsumer {
    Q_OBJECT
  public:
    using LogLine = std::function<void(const QString&)>;
    StationArchive(const Clock& clock, LogLine log, QObject* parent = nullptr);
    ~StationArchive() override; // writes what is queued, then closes

    // Without ARCHIVE=YES nothing happens. With it: <folder>/tavrik-archive.sqlite
    // opened (or the reason it is not used logged), then the catch-up started.
    void Start(const StationConfig& config, const QString& folder);
    bool Running() const { return service_.Running(); }
    ArchiveService& Service() { return service_; }

    void TelemetryDecoded(const DecodedFrame& frame) override;
    // The limits in force (LIMITS=, read again): imported and caught-up frames
    // are judged by them on the writer's thread, as the station judges an
    // imported frame (its values alone). Before Start too.
    void SetLimits(const LimitsTable& table);

  private:
    ArchiveService service_;
    LogLine log_;
    std::unique_ptr<ArchiveConsumer> consumer_; // while the archive is open
    LevelJudge judge_;                          // the limits in force, if any
};

} // namespace tavrik
