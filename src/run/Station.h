#pragma once
// The station: everything a run owns, with or without a window. It reads the
// settings, connects to the modem program, logs, decodes, judges, uploads,
// archives, serves the page and feeds InfluxDB; the window is a view over it
// and the headless program runs it alone. Qt Core and Network only.
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/KissLog.h"
#include "files/StationConfig.h"
#include "intake/qt/ModemConnection.h"
#include "radio/qt/Radio.h"
#include "station/EventLog.h"
#include "station/FramePipeline.h"
#include "station/qt/StationArchive.h"
#include "station/qt/StationInflux.h"
#include "station/qt/StationLimits.h"
#include "station/qt/StationSky.h"
#include "station/qt/StationUploads.h"
#include "telemetry/TelemetryHistory.h"
#include "time/Clock.h"
#include "time/TimeArgument.h"
#include "upload/qt/UploadRoute.h"
#include "web/StationWeb.h"

namespace tavrik {

class ArrivedFrames;
class KissImport;
struct AgwFrame;

// What the station takes from outside: its folder, clock and first lines. Tests give their own.
struct StationEnvironment {
    QString programFolder;        // the folder of the executable by default
    const Clock* clock = nullptr; // the system clock by default
    // Lines the start-up writes first, before the settings (where the folder came from).
    std::vector<std::string> startupNotes;
};

class Station : public QObject {
    Q_OBJECT
  public:
    explicit Station(StationEnvironment env = {}, QObject* parent = nullptr);
    ~Station() override;

    // The window, handed every frame last of all; set before Start. None:
    // the window leaves (it must, before it goes).
    void SetView(StationConsumer* view);

    // The start-up, in this order: the settings read (and their line written),
    // the modem connection started, the KISS log opened, the upload queues,
    // the limits and the archive; any failure there ends these steps. Then,
    // whatever happened, the InfluxDB lane and the page start and the
    // consumers are registered. Returns the failure for the "Open Error" box.
    std::optional<ConfigError> Start();
    // The end of the run: the modem closed, frames received but not handled
    // logged, the KISS log closed (and removed when empty). Runs once.
    void Stop();
    // File, Exit before the window closes: the KISS log closed, nothing lost.
    void CloseKissLog();

    // ---- the user's commands
    void Handshake();                           // Command1: "G" and "k" on an open AGW link
    void PostLatest();                          // Post_Packet: the latest upload body, now
    void SetUploadsAllowed(bool on);            // "allow data transfer"
    void CancelTransfers();                     // the close request
    void ImportFiles(const QStringList& paths); // in slices; ignored while one runs
    KissImport& Import() { return *import_; }

    // ---- the event log
    void Log(const std::string& text);
    EventLog& Events() { return eventLog_; }
    const EventLog& Events() const { return eventLog_; }

    // ---- what the station reports
    const Clock& Time() const { return *clock_; }
    const StationConfig& Config() const { return config_; }
    const TelemetryHistory& History() const { return history_; }
    const FramePipeline& Pipeline() const { return pipeline_; }
    FramePipeline& Pipeline() { return pipeline_; }
    const KissLog& Kiss() const { return kissLog_; }
    ModemConnection& Modem() { return modem_; }
    const ModemConnection& Modem() const { return modem_; }
    UploadRoute& Route() { return inet1_; }
    std::int32_t PostOkCount() const { return inet1_.PostOkCount(); }
    InfluxStatus Influx() const { return influx_.Status(); }
    StationLimits& Limits() { return limits_; }
    const StationLimits& Limits() const { return limits_; }
    StationArchive& Archive() { return archive_; }
    StationWeb& Web() { return web_; }
    StationSky& Sky() { return sky_; }
    Radio& Rig() { return radio_; }
    const QString& ConfigPath() const { return configPath_; }
    const QString& ImagePath() const { return imagePath_; }
    const QString& ProgramFolder() const { return programFolder_; }

  signals:
    // An upload run starts; each of its transfer states (after the log lines).
    void uploadRunStarted();
    void uploadReported(const tavrik::TransferReport& report);

  private:
    void ReadStationConfig();
    std::string OpenKissLog(); // empty on success
    void RegisterConsumers();
    void HandleArrivedFrame(const AgwFrame& frame);
    void LogArrivedFrames();
    void UploadReported(const TransferReport& report);

    // environment
    QString programFolder_;
    std::unique_ptr<Clock> ownClock_;
    const Clock* clock_;
    std::vector<std::string> startupNotes_;

    // the run's state; the log first, as everything below writes to it
    EventLog eventLog_;
    std::unique_ptr<EventLogListener> journal_; // the log mirrored to stderr
    StationConfig config_;
    TelemetryHistory history_;
    QString configPath_;
    QString imagePath_;
    KissLog kissLog_;
    FramePipeline pipeline_;
    ModemConnection modem_{[this](const std::string& text) { Log(text); }};
    UploadRoute inet1_{config_};
    StationUploads uploads_{inet1_};
    StationArchive archive_{*clock_, [this](const QString& t) { Log(t.toUtf8().toStdString()); }};
    StationLimits limits_{[this](const std::string& t) { Log(t); }};
    StationWeb web_{*clock_, [this](const std::string& t) { Log(t); }};
    StationInflux influx_{config_, *clock_,
                          [this](const QString& t) { Log(t.toUtf8().toStdString()); }};
    // The sky (TLE=): frames placed on it, passes watched, a missed pass raised.
    StationSky sky_{*clock_, [this](const std::string& t) { Log(t); }};
    // RIG and ROTATOR, following the sky.
    Radio radio_{[this](const std::string& t) { Log(t); },
                 [this] { return UnixMillisecondsNow(*clock_); }};
    StationConsumer* view_ = nullptr;
    ArrivedFrames* arrived_ = nullptr;
    KissImport* import_ = nullptr;
    bool started_ = false;
    bool stopped_ = false;
};

} // namespace tavrik
