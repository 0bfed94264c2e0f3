#pragma once
// The web page's TCP side, which keeps the HTTP server bounded whatever
// clients do: at most maxConnections at a time (the longest idle one gives
// way to a newcomer), a client idle for idleMs dropped, a request's line and
// headers at most maxHeaderBytes (answered 431), no more than maxReadBytes
// read from a client ahead of the HTTP server, and a client that does not
// read its answers dropped before they pile up (each, and all together).
// Each request's line and headers pass the gate (WebGate) before the HTTP
// server reads them: one it refuses is answered here, at once, and the
// connection ends without its body being read.
#include <QByteArray>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "web/WebGate.h"

class QTcpSocket;

namespace tavrik {

struct WebLimits {
    int maxConnections = 64;
    std::int64_t idleMs = 10'000;
    std::int64_t maxHeaderBytes = 16 * 1024;
    std::int64_t maxReadBytes = 64 * 1024;
    std::int64_t maxUnsentBytes = 4 * 1024 * 1024;
    std::int64_t maxTotalUnsentBytes = 32 * 1024 * 1024;
    // How long a refused client's remaining bytes are taken and dropped, so
    // that it can read its answer before the connection ends.
    std::int64_t lingerMs = 1000;
    std::int64_t maxLingerBytes = 1024 * 1024;
};

class WebListener : public QTcpServer {
    Q_OBJECT
  public:
    explicit WebListener(WebLimits limits = {}, QObject* parent = nullptr);

    int Connections() const { return static_cast<int>(connections_.size()); }
    const WebLimits& Limits() const { return limits_; }
    WebGate& Gate() { return gate_; }
    // Whether the socket has more unsent answer bytes than it may hold; when
    // all clients together have too many, the one with the most is dropped.
    bool Overloaded(const QTcpSocket& socket);

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        std::int64_t lastActiveMs = 0;
        QByteArray head; // the request line and headers so far, up to maxHeaderBytes + 1
        bool refused = false;
        std::int64_t dropped = 0; // after the answer to a refused request
    };

    Connection* Find(const QTcpSocket* socket);
    void Forget(const QTcpSocket* socket);
    void Received(QTcpSocket* socket);
    void Refuse(Connection& c, int status);
    void Sweep();
    void DropLongestIdle();
    void ShedUnsent();

    WebLimits limits_;
    WebGate gate_;
    QElapsedTimer clock_;
    QTimer sweep_;
    std::vector<Connection> connections_;
};

} // namespace tavrik
