#pragma once
// The TCP connection to the modem program's AGW interface, reporting the
// socket states by the numbers the window reads (0 closed, 7 connected).
#include <QObject>
#include <QTcpSocket>
#include <vector>

#include "intake/Agw.h"

namespace tavrik {

class AgwClient : public QObject {
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

    explicit AgwClient(QObject* parent = nullptr);

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

    // The whole AGW frames received so far (taken out).
    std::vector<AgwFrame> TakeFrames();
    // While paused, nothing more is read from the socket: the socket's buffer
    // fills and TCP makes the modem program wait, so a burst costs no memory.
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    // The bytes of an unfinished frame still waiting for the rest.
    std::size_t PendingBytes() const { return splitter_.Pending(); }

  signals:
    void connected();
    void dataArrived();
    // A socket error, with a Winsock-style number and a description.
    void error(int number, const QString& description);
    // The modem program ended the connection.
    void remoteClosed();
    // The byte stream is not AGW (an absurd length): nothing more is read.
    void protocolError(const QString& description);

  private:
    void OnReadyRead();
    void ReadAvailable();
    void OnError(QAbstractSocket::SocketError e);

    QTcpSocket socket_;
    QString host_;
    int port_ = 0;
    AgwStreamSplitter splitter_;
    std::vector<AgwFrame> frames_;
    bool inError_ = false;
    bool paused_ = false;
};

// The Winsock number of a socket error as modem-program users know them.
int WinsockErrorNumber(QAbstractSocket::SocketError e);

} // namespace tavrik
