#pragma once
// The station's web page and API over Qt HTTP Server, on the window's event
// loop. GET and HEAD only (405 otherwise); the page at "/", the API and
// /metrics, nothing else (404); with a token set every request must carry it;
// a Host header must name the station (421 otherwise).
#include <QAbstractHttpServer>
#include <QByteArray>
#include <QElapsedTimer>
#include <string>
#include <vector>

#include "web/WebApi.h"
#include "web/WebListener.h"

namespace tavrik {

class WebServer : public QAbstractHttpServer {
    Q_OBJECT
  public:
    explicit WebServer(WebApi& api, WebLimits limits = {}, QObject* parent = nullptr);

    // Needed by every request when not empty: "Authorization: Bearer <token>" or "?token=".
    void SetToken(std::string token) { listener_->Gate().SetToken(std::move(token)); }
    // Listens on host (an IP address or "localhost") and port; "" when it
    // does, otherwise why not. A Host header may then give the address
    // listened on, a name of this machine, or one of extraHosts.
    std::string Listen(const std::string& host, int port,
                       const std::vector<std::string>& extraHosts = {});
    // Why host may not be listened on as asked: an address other than
    // loopback without a token, unless open is set; "" when it may.
    static std::string ExposureRefusal(const std::string& host, bool tokenSet, bool open);
    quint16 Port() const;
    const WebListener& Listener() const { return *listener_; }

    // The page with its script, style and chart library in one document.
    static QByteArray PageDocument();

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

  private:
    // Whether one more query that reads many records (series, passes) may run
    // now: kQueriesPerSecond on average, kQueryBurst at once, for all clients
    // together, so a flood of them cannot hold up the window.
    bool QueryAllowed();
    static constexpr double kQueriesPerSecond = 20;
    static constexpr double kQueryBurst = 40;

    WebApi& api_;
    WebListener* listener_;
    QByteArray page_;
    QByteArray pagePolicy_; // the page's Content-Security-Policy, naming its script by hash
    QElapsedTimer clock_;
    double queryTokens_ = kQueryBurst;
    qint64 queryRefilledMs_ = 0;
};

} // namespace tavrik
