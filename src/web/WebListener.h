#pragma once
// The web page's TCP side, which keeps the HTTP server bounded whatever
// clients do: at most maxConnections at a time (the longest idle one gives
// way to a newcomer), a client idle for idleMs dropped, a request's line and
// headers at most maxHeaderBytes (answered 431), and a client that does not
// read its answers dropped before they pile up.
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <cstdint>
#include <vector>

class QTcpSocket;

namespace tavrik {

struct WebLimits {
    int maxConnections = 64;
    std::int64_t idleMs = 10'000;
    std::int64_t maxHeaderBytes = 16 * 1024;
    std::int64_t maxUnsentBytes = 4 * 1024 * 1024;
};

class WebListener : public QTcpServer {
    Q_OBJECT
  public:
    explicit WebListener(WebLimits limits = {}, QObject* parent = nullptr);

    int Connections() const { return static_cast<int>(connections_.size()); }
    const WebLimits& Limits() const { return limits_; }
    // Whether the socket has more unsent answer bytes than it may hold.
    bool Overloaded(const QTcpSocket& socket) const;

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        std::int64_t lastActiveMs = 0;
        std::int64_t headerBytes = 0; // since the last blank line
        char tail[3] = {0, 0, 0};     // the last bytes seen, for a blank line split over reads
    };

    Connection* Find(const QTcpSocket* socket);
    void Forget(const QTcpSocket* socket);
    void Received(QTcpSocket* socket);
    void Sweep();
    void DropLongestIdle();

    WebLimits limits_;
    QElapsedTimer clock_;
    QTimer sweep_;
    std::vector<Connection> connections_;
};

} // namespace tavrik
