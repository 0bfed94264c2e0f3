#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests, plain or TLS. It records
// every request byte for byte and answers as the test scripts it. Header-only
// and without Q_OBJECT so that any test target can use it as it is.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <map>
#include <sys/socket.h>

namespace tavrik::test {

struct ScriptedReply {
    enum class Kind {
        Respond,          // status line, headers, body; the connection stays open
        Hang,             // read the request, never answer
        ResetMidResponse, // send the header and part of the body, then reset the connection
    };
    Kind kind = Kind::Respond;
    int status = 200;
    QByteArray reason = "OK";
    QList<QPair<QByteArray, QByteArray>> headers; // Content-Length is added unless given
    QByteArray body;

    static ScriptedReply Status(int status, QByteArray reason,
                                QList<QPair<QByteArray, QByteArray>> headers = {},
                                QByteArray body = {}) {
        ScriptedReply r;
        r.status = status;
        r.reason = std::move(reason);
        r.headers = std::move(headers);
        r.body = std::move(body);
        return r;
    }
    static ScriptedReply Hang() {
        ScriptedReply r;
        r.kind = Kind::Hang;
        return r;
    }
    static ScriptedReply ResetMidResponse() {
        ScriptedReply r;
        r.kind = Kind::ResetMidResponse;
        r.headers = {{"Content-Length", "1000"}};
        r.body = QByteArray(100, 'x');
        return r;
    }
};

struct ReceivedRequest {
    QByteArray raw;         // the whole request, exactly as it arrived
    QByteArray requestLine; // e.g. "POST /upload HTTP/1.1"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QList<QByteArray> HeaderValues(const QByteArray& name) const {
        QList<QByteArray> out;
        for (const auto& [n, v] : headers)
            if (n.compare(name, Qt::CaseInsensitive) == 0) out << v;
        return out;
    }
};

class HttpTestServer : public QObject {
  public:
    enum class Mode { Plain, Tls };

    explicit HttpTestServer(Mode mode = Mode::Plain, QSslConfiguration tls = {})
        : mode_(mode), tls_(std::move(tls)), listener_(this) {
        listener_.onIncoming = [this](qintptr fd) { Accept(fd); };
    }
    ~HttpTestServer() override {
        listener_.close();
        for (auto& [socket, state] : connections_) {
            socket->disconnect();
            socket->abort();
            delete socket;
        }
    }

    bool Listen(quint16 port = 0) { return listener_.listen(QHostAddress::LocalHost, port); }
    quint16 Port() const { return listener_.serverPort(); }
    QString Url(const QString& pathAndQuery) const {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(mode_ == Mode::Tls ? "https" : "http")
            .arg(Port())
            .arg(pathAndQuery);
    }

    // Answers for the next requests, in order; then the default answer.
    void Script(QList<ScriptedReply> replies) { script_ = std::move(replies); }
    void SetDefault(ScriptedReply reply) { default_ = std::move(reply); }

    const QList<ReceivedRequest>& Requests() const { return requests_; }
    int Connections() const { return accepted_; }
    int ClosedConnections() const { return closed_; }
    int TlsFailures() const { return tlsFailures_; }

  private:
    class Listener : public QTcpServer {
      public:
        explicit Listener(QObject* parent) : QTcpServer(parent) {}
        std::function<void(qintptr)> onIncoming;

      protected:
        void incomingConnection(qintptr fd) override { onIncoming(fd); }
    };

    struct Connection {
        QByteArray buffer;
        bool hung = false;
    };

    void Accept(qintptr fd) {
        QTcpSocket* socket = nullptr;
        if (mode_ == Mode::Tls) {
            auto* ssl = new QSslSocket(this);
            ssl->setSslConfiguration(tls_);
            connect(ssl, &QSslSocket::sslErrors, this,
                    [this](const QList<QSslError>&) { ++tlsFailures_; });
            connect(ssl, &QAbstractSocket::errorOccurred, this, [this, ssl] {
                if (!ssl->isEncrypted()) ++tlsFailures_;
            });
            socket = ssl;
        } else {
            socket = new QTcpSocket(this);
        }
        if (!socket->setSocketDescriptor(fd)) {
            delete socket;
            return;
        }
        ++accepted_;
        connections_[socket] = {};
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnData(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            ++closed_;
            connections_.erase(socket);
            socket->deleteLater();
        });
        if (mode_ == Mode::Tls) static_cast<QSslSocket*>(socket)->startServerEncryption();
    }

    void OnData(QTcpSocket* socket) {
        auto it = connections_.find(socket);
        if (it == connections_.end()) return;
        Connection& conn = it->second;
        conn.buffer += socket->readAll();
        while (!conn.hung) {
            const qsizetype headEnd = conn.buffer.indexOf("\r\n\r\n");
            if (headEnd < 0) return;
            ReceivedRequest request;
            const QList<QByteArray> lines = conn.buffer.left(headEnd).split('\n');
            request.requestLine = lines.value(0).trimmed();
            qsizetype length = 0;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
                const qsizetype colon = line.indexOf(':');
                if (colon < 0) continue;
                const QByteArray name = line.left(colon);
                const QByteArray value = line.mid(colon + 1).trimmed();
                request.headers.append({name, value});
                if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                    length = value.toLongLong();
            }
            const qsizetype total = headEnd + 4 + length;
            if (conn.buffer.size() < total) return;
            request.raw = conn.buffer.left(total);
            request.body = conn.buffer.mid(headEnd + 4, length);
            conn.buffer.remove(0, total);
            requests_.append(request);
            const ScriptedReply reply = script_.isEmpty() ? default_ : script_.takeFirst();
            if (reply.kind == ScriptedReply::Kind::Hang) {
                conn.hung = true;
                return;
            }
            Answer(socket, reply);
            if (reply.kind == ScriptedReply::Kind::ResetMidResponse) {
                conn.hung = true;
                // Give the client the partial answer first, then reset (RST, not FIN).
                QTimer::singleShot(100, socket, [socket] {
                    const ::linger hard{1, 0};
                    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET,
                                 SO_LINGER, &hard, sizeof hard);
                    socket->abort();
                });
                return;
            }
        }
    }

    static void Answer(QTcpSocket* socket, const ScriptedReply& reply) {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status);
        if (!reply.reason.isEmpty()) out += " " + reply.reason;
        out += "\r\n";
        bool hasLength = false;
        for (const auto& [name, value] : reply.headers) {
            out += name + ": " + value + "\r\n";
            hasLength |= name.compare("Content-Length", Qt::CaseInsensitive) == 0;
        }
        if (!hasLength) out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        out += "\r\n" + reply.body;
        socket->write(out);
        socket->flush();
    }

    Mode mode_;
    QSslConfiguration tls_;
    Listener listener_;
    std::map<QTcpSocket*, Connection> connections_;
    QList<ScriptedReply> script_;
    ScriptedReply default_ = ScriptedReply::Status(200, "OK");
    QList<ReceivedRequest> requests_;
    int accepted_ = 0;
    int closed_ = 0;
    int tlsFailures_ = 0;
};

// A free port with nobody listening on it: connecting there is refused.
inline quint16 ClosedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace tavrik::test
