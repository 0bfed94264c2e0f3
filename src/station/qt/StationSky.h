#pragma once
// The sky among the station's parts (TLE= set): the element sets read from
// their file (read again when it changes on disk) or fetched from their URL
// (at start and every TLE_REFRESH hours, the last good copy kept in the
// station folder), every decoded frame placed on the sky before its
// consumers, and once a second the AOS and LOS that have come: PASS_COMMAND
// run at each, and at LOS the pass judged (a missed pass logged, counted and
// handed to ALARM_COMMAND).
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "files/StationConfig.h"
#include "station/FramePipeline.h"
#include "station/SkyState.h"
#include "station/StationConsumer.h"
#include "time/Clock.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace tavrik {

class AlarmRunner;

class StationSky final : public QObject, public StationConsumer {
    Q_OBJECT
  public:
    using LogLine = std::function<void(const std::string&)>;
    // The name of the last good copy of a fetched TLE, in the station folder.
    static constexpr const char* kTleCopy = "tavrik-tle.txt";

    StationSky(const Clock& clock, LogLine log, QObject* parent = nullptr);
    ~StationSky() override;

    // Without TLE= nothing happens. With it: the settings checked (a wrong one
    // said in one line, and no sky), the sets read or fetched, the pipeline
    // given the sky, and the ticks started. `modemConnected` is asked each tick.
    void Start(const StationConfig& config, const QString& folder, FramePipeline& pipeline,
               std::function<bool()> modemConnected);
    // The sky's state; null without TLE= or with wrong settings. It may hold
    // no predictor yet (no good sets).
    SkyState* State() { return state_.get(); }
    const SkyState* State() const { return state_.get(); }
    // Reads the file again now (or fetches the URL).
    void Reload();

    void TelemetryDecoded(const DecodedFrame& frame) override;

  signals:
    // A tick has run: the window's line and the page follow it.
    void ticked();

  private:
    void Tick();
    void ReadFile(const QString& path, const std::string& shown);
    void Fetch();
    void Fetched(QNetworkReply* reply);
    void Watch();
    void Handle(const SkyState::Event& event);
    std::int64_t NowMs() const;
    void Log(const std::string& line) { log_(line); }

    const Clock& clock_;
    LogLine log_;
    std::unique_ptr<SkyState> state_;
    QString folder_;
    QString tlePath_; // the file (TLE= a file) or the kept copy (TLE= a URL)
    std::string alarmCommand_;
    std::function<bool()> modemConnected_;
    std::unique_ptr<AlarmRunner> passCommand_;
    std::unique_ptr<AlarmRunner> alarm_;
    QNetworkAccessManager* net_ = nullptr;
    QNetworkReply* pending_ = nullptr;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QTimer tick_;
    QTimer refresh_;
    QString signature_;
};

} // namespace tavrik
