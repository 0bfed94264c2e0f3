#pragma once
// The web side of a station, whole: the model, the API, the consumer of
// received frames and the HTTP server, started from WEB= and WEB_TOKEN=.
// It watches the station's modem, uploads and archive, and follows its event
// log; the station registers Consumer() in its place among the consumers.
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "files/StationConfig.h"
#include "intake/qt/ModemConnection.h"
#include "station/EventLog.h"
#include "station/FramePipeline.h"
#include "station/qt/StationArchive.h"
#include "time/Clock.h"
#include "upload/qt/InfluxUploader.h"
#include "upload/qt/UploadRoute.h"
#include "web/ArchiveWebSource.h"
#include "web/WebApi.h"
#include "web/WebConsumer.h"
#include "web/WebServer.h"
#include "web/WebState.h"

namespace tavrik {

class StationWeb : public QObject, public EventLogListener {
    Q_OBJECT
  public:
    using LogLine = std::function<void(const std::string&)>;
    // The parts of the station the page watches.
    struct Station {
        FramePipeline& pipeline;
        const ModemConnection& modem;
        const UploadRoute& route;
        StationArchive& archive;
    };
    // log: where the line saying where the page is (or why not) goes.
    explicit StationWeb(const Clock& clock, LogLine log = {}, QObject* parent = nullptr);
    ~StationWeb() override;

    // Takes the secrets from the settings and, when WEB is set, starts
    // serving. Returns the event-log line to write (where the page is, or
    // why it is not served); empty when WEB is not set.
    std::string Start(const StationConfig& config, WebLimits limits = {});
    // The same, watching the station's frame pipeline, modem, uploads and
    // archive; the line goes to the log.
    void Start(const StationConfig& config, const Station& station);
    bool Serving() const { return server_ != nullptr; }
    quint16 Port() const { return server_ ? server_->Port() : 0; }

    // The modem link's state and reconnect attempts, the KISS log's write
    // failures and the upload queues' sizes, looked at once a second; the
    // uploads' outcomes as reported.
    void WatchModem(const ModemConnection& modem);
    void WatchUploads(const UploadRoute& route);
    // The InfluxDB lane's counters, looked at once a second (INFLUX set only).
    void WatchInflux(std::function<InfluxStatus()> status) { influx_ = std::move(status); }
    void UploadReported(const TransferReport& report);
    // Every event-log entry as written; secrets are taken out before it is kept.
    void EventLogged(const std::string& entry) { state_.AddLogLine(entry); }
    // The station's event log, followed as a listener.
    void EntryAdded(const std::string& entry, bool /*onTop*/) override { EventLogged(entry); }

    std::int64_t NowMs() const;
    WebState& State() { return state_; }
    WebApi& Api() { return api_; }
    WebConsumer& Consumer() { return consumer_; }

  private:
    const Clock& clock_;
    LogLine log_;
    WebState state_;
    WebApi api_;
    WebConsumer consumer_;
    std::unique_ptr<WebServer> server_;
    const FramePipeline* pipeline_ = nullptr;
    StationArchive* archive_ = nullptr;
    std::unique_ptr<ArchiveWebSource> archiveSource_;
    QTimer archiveRows_;
    const ModemConnection* modem_ = nullptr;
    const UploadRoute* route_ = nullptr;
    std::vector<std::string> servers_;
    std::function<InfluxStatus()> influx_;
    QTimer watch_;
};

} // namespace tavrik
