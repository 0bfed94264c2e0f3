#include "web/StationWeb.h"

#include <QFile>

#include "time/TimeArgument.h"

namespace tavrik {

StationWeb::StationWeb(const Clock& clock, LogLine log, QObject* parent)
    : QObject(parent), clock_(clock), log_(std::move(log)),
      api_(state_, [this] { return NowMs(); }), consumer_(state_) {
    state_.SetStarted(NowMs());
    watch_.setInterval(1000);
    connect(&watch_, &QTimer::timeout, this, [this] {
        if (modem_) {
            state_.SetModem(modem_->Connected(), NowMs());
            state_.SetReconnectAttempts(modem_->ReconnectAttempts());
        }
        if (pipeline_) state_.SetKissWriteFailures(pipeline_->KissWriteFailures());
        if (influx_) {
            const InfluxStatus s = influx_();
            std::optional<InfluxView> v;
            if (s.running)
                v = InfluxView{s.url,           s.counts.accepted, s.counts.failed,
                               s.counts.queued, s.lastError,       s.lastErrorTime};
            state_.SetInflux(std::move(v));
        }
        if (route_)
            for (const std::string& server : servers_) {
                const auto [entries, bytes] = route_->Queued(QString::fromUtf8(server));
                state_.SetQueue(server, entries, bytes);
            }
    });
}

void StationWeb::WatchUploads(const UploadRoute& route) {
    route_ = &route;
    connect(&route, &UploadRoute::stateChanged, this, &StationWeb::UploadReported);
    watch_.start();
}

void StationWeb::UploadReported(const TransferReport& r) {
    if (r.server.empty()) return;
    if (r.state == TransferState::Error)
        state_.UploadFailed(r.server, r.errorText.empty() ? r.logLine : r.errorText, NowMs());
    if (r.state != TransferState::ResponseCompleted) return;
    if (IsSuccessStatus(r.httpStatus)) return state_.UploadAccepted(r.server, NowMs());
    // The status line in plain words: "HTTP 503 Service Unavailable".
    std::string line = r.header.substr(0, r.header.find("\r\n"));
    if (const std::size_t blank = line.find(' ');
        line.starts_with("HTTP/") && blank != std::string::npos)
        line = "HTTP" + line.substr(blank);
    state_.UploadFailed(r.server, line.empty() ? "HTTP " + std::to_string(r.httpStatus) : line,
                        NowMs());
}

void StationWeb::Start(const StationConfig& config, const Station& station) {
    pipeline_ = &station.pipeline;
    WatchModem(station.modem);
    WatchUploads(station.route);
    archive_ = &station.archive;
    // Series and passes from the archive while it runs; its size now and then
    // (a count over the whole file is not for every second).
    archiveSource_ = std::make_unique<ArchiveWebSource>([this] {
        return archive_->Running()
                   ? QFile::encodeName(archive_->Service().ArchivePath()).toStdString()
                   : std::string();
    });
    api_.SetArchive(archiveSource_.get());
    archiveRows_.setInterval(30'000);
    const auto countRows = [this] {
        if (!archive_->Running()) return state_.SetArchiveRows(std::nullopt);
        archiveSource_->Rows(
            [this](std::optional<std::uint64_t> rows) { state_.SetArchiveRows(rows); });
    };
    connect(&archiveRows_, &QTimer::timeout, this, countRows);
    archiveRows_.start();
    QTimer::singleShot(2000, this, countRows);
    if (const std::string line = Start(config); !line.empty() && log_) log_(line);
}

void StationWeb::WatchModem(const ModemConnection& modem) {
    modem_ = &modem;
    state_.SetModem(modem.Connected(), NowMs());
    watch_.start();
}

StationWeb::~StationWeb() = default;

std::int64_t StationWeb::NowMs() const {
    return UnixMillisecondsNow(clock_);
}

std::string StationWeb::Start(const StationConfig& config, WebLimits limits) {
    Redactor secrets;
    secrets.AddSecret(config.webToken);
    for (const std::string* url : {&config.server, &config.serverBackup})
        secrets.AddUrl(*url);
    state_.SetSecrets(std::move(secrets));
    // Listed from the start, so a server that never answers is seen too.
    servers_.clear();
    for (const std::string* url : {&config.server, &config.serverBackup})
        if (!url->empty()) {
            state_.Upload(*url);
            servers_.push_back(*url);
        }
    state_.SetModemEndpoint(config.port);
    if (config.web.empty()) return {};

    const std::optional<HostPort> where = SplitHostPort(config.web);
    if (!where || where->host.empty())
        return "web page not served: WEB=" + state_.Secrets().Clean(config.web) +
               " is not HOST:PORT (e.g. 127.0.0.1:8080, or [::1]:8080)";
    if (std::string why =
            WebServer::ExposureRefusal(where->host, !config.webToken.empty(), config.webOpen);
        !why.empty())
        return why;
    auto server = std::make_unique<WebServer>(api_, limits);
    server->SetToken(config.webToken);
    if (const std::string why = server->Listen(where->host, where->port, config.webHosts);
        !why.empty())
        return "web page not served on " + config.web + ": " + why;
    server_ = std::move(server);
    // An IPv6 address goes in brackets in a URL, as it does in WEB=[::1]:8080.
    const bool v6 = where->host.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + where->host + "]" : where->host;
    return "web page on http://" + host + ":" + std::to_string(server_->Port()) + "/" +
           (config.webToken.empty() ? "" : " (a token is needed)");
}

} // namespace tavrik
