#pragma once
// One TCP connection to a Hamlib daemon (rigctld, rotctld): one command in
// flight at a time, its answer awaited with a timeout, the connection made
// again with the modem link's back-off whenever it is lost, refused, silent
// or garbled. Nothing here waits: every outcome arrives as a callback from the
// event loop. Lines for the event log go through `log`, each cause at most once
// a minute.
#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>

#include "intake/ReconnectPolicy.h"
#include "radio/HamlibProtocol.h"
#include "time/RepeatLimiter.h"

namespace tavrik {

class HamlibLink : public QObject {
    Q_OBJECT
  public:
    using LogLine = std::function<void(const std::string&)>;
    // The answer, complete; called only for a command whose answer came.
    using Done = std::function<void(const HamlibReply&)>;
    static constexpr int kReplyTimeoutMs = 3000;
    // An answer line longer than this is no Hamlib answer.
    static constexpr qsizetype kMaxLineBytes = 4096;

    // `who`: "rig" or "rotator", the start of every line; `daemon`: "rigctld"...
    HamlibLink(std::string who, std::string daemon, LogLine log, QObject* parent = nullptr);
    ~HamlibLink() override;

    void Open(const QString& host, int port);
    void Close();
    void SetReplyTimeoutMs(int ms) { replyTimeoutMs_ = ms; }

    bool Connected() const { return connected_; }
    // Connected with no answer outstanding: a command may be sent.
    bool Ready() const { return connected_ && !inFlight_; }
    // Sends the command; false when not Ready().
    bool Send(const HamlibCommand& command, Done done);
    // The last thing that went wrong, for the status page; empty when none since connecting.
    const std::string& LastError() const { return lastError_; }
    // A daemon's refusal ("RPRT -n") of what was sent: logged under the link's name, rate-limited.
    void Refused(const std::string& what, int status);

  signals:
    void connected();    // a new connection: whatever was set before is unknown
    void ready();        // an answer came: the next command may go
    void disconnected(); // lost; a new attempt is scheduled

  private:
    void OnConnected();
    void OnReadyRead();
    void OnSocketError(QAbstractSocket::SocketError e);
    void OnTimeout();
    // Drops the connection after `why` and schedules the next attempt.
    void Drop(const std::string& why);
    void Log(const std::string& cause, const std::string& line);
    std::string Where() const;

    std::string who_, daemon_;
    LogLine log_;
    QTcpSocket socket_;
    QTimer replyTimer_, retryTimer_;
    QElapsedTimer monotonic_;
    QString host_;
    int port_ = 0;
    int replyTimeoutMs_ = kReplyTimeoutMs;
    bool open_ = false, connected_ = false, inFlight_ = false, everConnected_ = false;
    HamlibCommand command_;
    HamlibReply reply_;
    Done done_;
    QByteArray buffer_;
    std::string lastError_;
    ReconnectPolicy policy_;
    RepeatLimiter limiter_;
};

} // namespace tavrik
