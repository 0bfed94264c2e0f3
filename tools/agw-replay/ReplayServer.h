#pragma once
// Serves recorded frames the way a modem program serves what it hears: each
// client asks with 'G' for the ports and toggles raw monitoring with 'k';
// while monitoring is on it gets the frames as 'K' frames.
#include "intake/Agw.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <optional>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;

struct ReplayOptions {
    QHostAddress host{QHostAddress::LocalHost};
    quint16 port = 0;
    int intervalMs = 1000; // 0: as fast as the client takes them
    bool loop = false;
    std::optional<qint64> count; // frames per client in all, across loops
};

// One line on stdout per event, flushed at once so a watching process sees it.
void Say(const QString& line);

class ReplayClient : public QObject {
    Q_OBJECT
  public:
    ReplayClient(int number, QTcpSocket* socket, const std::vector<QByteArray>& frames,
                 const QByteArray& portInfo, const ReplayOptions& options, QObject* parent);
    // Drops the connection without further events (shutdown).
    void Abort();

  signals:
    void Finished(ReplayClient* client);

  private:
    void OnReadyRead();
    void OnDisconnected();
    void Handle(const tavrik::AgwFrame& frame);
    void SetMonitoring(bool on);
    void Pump();
    void SendNext();
    QString Tag() const;

    int number_;
    QTcpSocket* socket_;
    const std::vector<QByteArray>& frames_;
    const QByteArray& portInfo_;
    const ReplayOptions& options_;
    QTimer* timer_;
    tavrik::AgwStreamSplitter splitter_;
    bool monitoring_ = false;
    bool done_ = false;
    bool gone_ = false;
    std::size_t next_ = 0;
    qint64 sent_ = 0;
};

class ReplayServer : public QObject {
    Q_OBJECT
  public:
    ReplayServer(std::vector<QByteArray> frames, const QString& fileName, ReplayOptions options,
                 QObject* parent = nullptr);
    ~ReplayServer() override;
    bool Listen(QString& error);
    quint16 Port() const;
    void Shutdown();

    // The data of the 'G' reply for a file of this name.
    static QByteArray PortInfo(const QString& fileName);

  private:
    void OnNewConnection();

    std::vector<QByteArray> frames_;
    QByteArray portInfo_;
    ReplayOptions options_;
    QTcpServer* server_;
    std::vector<ReplayClient*> clients_;
    int nextNumber_ = 1;
};
