#pragma once
// The connection to the modem program as the window sees it: the link that
// PORT names (AGW interface or KISS TCP), its event-log lines, the handshake,
// and, with AGW_RECONNECT, the retry timer that connects again whenever the
// link is lost or cannot be made.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "files/StationConfig.h"
#include "intake/ReconnectPolicy.h"
#include "intake/qt/ModemLink.h"

namespace tavrik {

class ModemConnection : public QObject {
    Q_OBJECT
  public:
    using LogLine = std::function<void(const std::string&)>;

    explicit ModemConnection(LogLine log, QObject* parent = nullptr);
    ~ModemConnection() override;

    // AGW_RECONNECT: without it a lost connection stays closed, and the
    // handshake runs on the first connection of the run only.
    void SetReconnect(bool on) { reconnect_ = on; }

    // Takes the link the endpoint names, writes the two "Winsock Remote..."
    // lines and starts connecting; the outcome comes as the link's events.
    void Open(const ModemEndpoint& endpoint);
    // The handshake, on an open connection only; a KISS link has none.
    void Handshake();
    // Shutdown: the socket closed, no further attempt.
    void Close();

    bool HandshakePending() const { return handshakePending_; }
    // The lamp: green while the socket is not closed, red while waiting to connect again.
    bool LampGreen() const;
    bool Connected() const { return link_->State() == ModemLink::Connected; }
    // Attempts to connect again, this run.
    std::uint64_t ReconnectAttempts() const { return reconnectAttempts_; }
    ModemLink& Link() { return *link_; }
    const ModemLink& Link() const { return *link_; }

  signals:
    // Frames wait in Link().TakeFrames().
    void dataArrived();

  private:
    void Attach(std::unique_ptr<ModemLink> link);
    void OnConnected();
    void OnError(int number, const QString& description);
    void OnRemoteClosed();
    void OnProtocolError(const QString& why);
    // The link went down (or was not made): with AGW_RECONNECT the wait starts.
    void Down();
    void Schedule(std::int64_t atMs);
    std::int64_t NowMs() const { return monotonic_.elapsed(); }

    LogLine log_;
    std::unique_ptr<ModemLink> link_;
    bool reconnect_ = false;
    bool handshakePending_ = true;
    std::uint64_t reconnectAttempts_ = 0;
    ReconnectPolicy policy_;
    QTimer retry_;
    QElapsedTimer monotonic_;
};

} // namespace tavrik
