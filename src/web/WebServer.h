#pragma once
// The station's web page and API over Qt HTTP Server, on the window's event
// loop. GET and HEAD only (405 otherwise); the page at "/", the API and
// /metrics, nothing else (404); with a token set every request must carry it.
#include <QAbstractHttpServer>
#include <QByteArray>
#include <QElapsedTimer>
#include <string>

#include "web/WebApi.h"
#include "web/WebListener.h"

namespace tavrik {

class WebServer : public QAbstractHttpServer {
    Q_OBJECT
  public:
    explicit WebServer(WebApi& api, WebLimits limits = {}, QObject* parent = nullptr);

    // Needed by every request when not empty: "Authorization: Bearer <token>" or "?token=".
    void SetToken(std::string token) { token_ = std::move(token); }
    // Listens on host (an IP address or "localhost") and port; "" when it
    // does, otherwise why not.
    std::string Listen(const std::string& host, int port);
    quint16 Port() const;
    const WebListener& Listener() const { return *listener_; }

    // The page with its script, style and chart library in one document.
    static QByteArray PageDocument();

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

  private:
    bool Authorized(const QHttpServerRequest& request) const;
    // Whether one more query that reads many records (series, passes) may run
    // now: kQueriesPerSecond on average, kQueryBurst at once, for all clients
    // together, so a flood of them cannot hold up the window.
    bool QueryAllowed();
    static constexpr double kQueriesPerSecond = 20;
    static constexpr double kQueryBurst = 40;

    WebApi& api_;
    WebListener* listener_;
    std::string token_;
    QByteArray page_;
    QByteArray pagePolicy_; // the page's Content-Security-Policy, naming its script by hash
    QElapsedTimer clock_;
    double queryTokens_ = kQueryBurst;
    qint64 queryRefilledMs_ = 0;
};

} // namespace tavrik
