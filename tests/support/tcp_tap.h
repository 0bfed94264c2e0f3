#pragma once
// A TCP relay on 127.0.0.1 that forwards to another local port and keeps every
// byte the client sent, to see what actually went over the wire (e.g. that
// nothing readable was sent before a TLS handshake was accepted).
#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

namespace tavrik::test {

class TcpTap : public QObject {
  public:
    explicit TcpTap(quint16 targetPort) : targetPort_(targetPort), server_(this) {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = server_.nextPendingConnection())
                Relay(client);
        });
    }

    bool Listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    quint16 Port() const { return server_.serverPort(); }
    const QByteArray& FromClient() const { return fromClient_; }

  private:
    void Relay(QTcpSocket* client) {
        client->setParent(this);
        auto* upstream = new QTcpSocket(this);
        connect(client, &QTcpSocket::readyRead, this, [this, client, upstream] {
            const QByteArray data = client->readAll();
            fromClient_ += data;
            upstream->write(data);
        });
        connect(upstream, &QTcpSocket::readyRead, this,
                [client, upstream] { client->write(upstream->readAll()); });
        connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
        connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        upstream->connectToHost(QHostAddress::LocalHost, targetPort_);
    }

    quint16 targetPort_;
    QTcpServer server_;
    QByteArray fromClient_;
};

} // namespace tavrik::test
