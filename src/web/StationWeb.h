#pragma once
// The web side of a station, whole: the model, the API, the consumer of
// received frames and the HTTP server, started from WEB= and WEB_TOKEN=.
// The wiring feeds the model (modem, uploads, event log) and registers the
// consumer with the station.
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "files/StationConfig.h"
#include "intake/qt/ModemConnection.h"
#include "station/FramePipeline.h"
#include "station/qt/StationArchive.h"
#include "time/Clock.h"
#include "upload/qt/UploadRoute.h"
#include "web/ArchiveWebSource.h"
#include "web/WebApi.h"
#include "web/WebConsumer.h"
#include "web/WebServer.h"
#include "web/WebState.h"

namespace tavrik {

class StationWeb : public QObject {
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
    // Wired to a station: when the event loop first runs (the start-up
    // sequence has read the settings by then), the consumer is registered
    // with the station after those before it, the event log's entries so far
    // are taken and later ones followed, and the page is started.
    template <class EventLog>
    StationWeb(const Clock& clock, LogLine log, const StationConfig& config, Station station,
               EventLog& events)
        : StationWeb(clock, std::move(log)) {
        QTimer::singleShot(0, this, [this, &config, station, &events] {
            for (std::size_t i = events.Size(); i-- > 0;)
                EventLogged(events.Entry(i));
            events.onAdded = AlsoTaking(std::move(events.onAdded));
            station.pipeline.AddConsumer(consumer_);
            Start(config, station);
        });
    }
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
    void UploadReported(const TransferReport& report);
    // Every event-log entry as written; secrets are taken out before it is kept.
    void EventLogged(const std::string& entry) { state_.AddLogLine(entry); }
    // An event log's listener that also hands each entry to EventLogged.
    template <class Listener> Listener AlsoTaking(Listener shown) {
        return [this, shown = std::move(shown)](const std::string& entry, auto... more) {
            if (shown) shown(entry, more...);
            EventLogged(entry);
        };
    }

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
    QTimer watch_;
};

} // namespace tavrik
