#pragma once
// The TCP connection to the modem program, reporting the socket states by the
// numbers the window reads (0 closed, 7 connected). What differs between the
// modem interfaces (AGW, KISS) is how the byte stream is cut into frames and
// what a new connection sends first; the subclasses say that.
#include <QObject>
#include <QTcpSocket>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "intake/Agw.h"

namespace tavrik {

class ModemLink : public QObject {
    Q_OBJECT
  public:
    enum WinsockState {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9,
    };

    explicit ModemLink(QObject* parent = nullptr);

    void SetRemoteHost(const QString& host) { host_ = host; }
    QString RemoteHost() const { return host_; }
    void SetRemotePort(int port) { port_ = port; }
    int RemotePort() const { return port_; }

    int State() const;
    // Starts connecting and returns at once; the outcome comes as a signal.
    void Connect();
    void Close();
    // Queues the bytes for sending; false when not connected.
    bool Send(const QByteArray& bytes);

    // The frames received so far (taken out). Every link hands them on as AGW
    // frames: a raw frame is kind 'K', so the window treats all links alike.
    std::vector<AgwFrame> TakeFrames();
    // While paused, nothing more is read from the socket: the socket's buffer
    // fills and TCP makes the modem program wait, so a burst costs no memory.
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    // The bytes of an unfinished frame still waiting for the rest.
    virtual std::size_t PendingBytes() const = 0;
    // What the handshake sends on a connection; empty when the interface has none.
    virtual QByteArray Handshake() const = 0;
    // The interface's name for event-log lines: "AGW", "KISS".
    virtual std::string Name() const = 0;

  signals:
    void connected();
    void dataArrived();
    // A socket error, with a Winsock-style number and a description.
    void error(int number, const QString& description);
    // The modem program ended the connection.
    void remoteClosed();
    // The byte stream is beyond repair: nothing more is read.
    void protocolError(const QString& description);
    // Something in the stream was skipped; one event-log line.
    void notice(const QString& text);

  protected:
    // Cuts the bytes into frames, appended to out; notes go to the event log.
    virtual void Deframe(std::span<const std::uint8_t> bytes, std::vector<AgwFrame>& out,
                         std::vector<std::string>& notes) = 0;
    // A new connection starts a new stream.
    virtual void ResetStream() = 0;
    // Set once the stream cannot be read any further.
    virtual std::optional<std::string> StreamError() const { return std::nullopt; }

  private:
    void OnReadyRead();
    void ReadAvailable();
    void OnError(QAbstractSocket::SocketError e);

    QTcpSocket socket_;
    QString host_;
    int port_ = 0;
    std::vector<AgwFrame> frames_;
    bool inError_ = false;
    bool paused_ = false;
};

// The Winsock number of a socket error as modem-program users know them.
int WinsockErrorNumber(QAbstractSocket::SocketError e);

} // namespace tavrik
