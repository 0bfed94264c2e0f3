#include "web/WebListener.h"

#include <QTcpSocket>
#include <algorithm>
#include <sys/socket.h>

namespace tavrik {

WebListener::WebListener(WebLimits limits, QObject* parent) : QTcpServer(parent), limits_(limits) {
    clock_.start();
    setMaxPendingConnections(limits_.maxConnections);
    sweep_.setInterval(std::clamp<std::int64_t>(limits_.idleMs / 10, 50, 1000));
    connect(&sweep_, &QTimer::timeout, this, &WebListener::Sweep);
    sweep_.start();
}

bool WebListener::Overloaded(const QTcpSocket& socket) {
    ShedUnsent();
    return socket.state() != QAbstractSocket::ConnectedState ||
           socket.bytesToWrite() > limits_.maxUnsentBytes;
}

void WebListener::ShedUnsent() {
    std::int64_t total = 0;
    for (const Connection& c : connections_)
        if (c.socket) total += c.socket->bytesToWrite();
    while (total > limits_.maxTotalUnsentBytes) {
        auto most = std::max_element(connections_.begin(), connections_.end(),
                                     [](const Connection& a, const Connection& b) {
                                         return (a.socket ? a.socket->bytesToWrite() : 0) <
                                                (b.socket ? b.socket->bytesToWrite() : 0);
                                     });
        if (most == connections_.end() || !most->socket) return;
        total -= most->socket->bytesToWrite();
        QPointer<QTcpSocket> victim = most->socket;
        connections_.erase(most);
        victim->abort();
    }
}

WebListener::Connection* WebListener::Find(const QTcpSocket* socket) {
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [&](const Connection& c) { return c.socket == socket; });
    return it == connections_.end() ? nullptr : &*it;
}

void WebListener::Forget(const QTcpSocket* socket) {
    std::erase_if(connections_,
                  [&](const Connection& c) { return c.socket.isNull() || c.socket == socket; });
}

void WebListener::incomingConnection(qintptr descriptor) {
    if (Connections() >= limits_.maxConnections) DropLongestIdle();
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // What Qt takes from the kernel ahead of the HTTP server is bounded too:
    // a client sending more waits in its own send buffer.
    socket->setReadBufferSize(limits_.maxReadBytes);
    connections_.push_back({socket, clock_.elapsed(), {}, false, 0});
    // Connected before the HTTP server's own handler, so an oversized request
    // is stopped before the server reads it.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Received(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        if (Connection* c = Find(socket)) c->lastActiveMs = clock_.elapsed();
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this,
            [this, socket] { Forget(static_cast<QTcpSocket*>(socket)); });
    addPendingConnection(socket);
}

void WebListener::Received(QTcpSocket* socket) {
    Connection* c = Find(socket);
    if (!c) return;
    c->lastActiveMs = clock_.elapsed();
    if (c->refused) {
        // Dropped unread, up to a bound: a client still sending after its
        // answer gets no more of our time.
        c->dropped += socket->skip(socket->bytesAvailable());
        if (c->dropped > limits_.maxLingerBytes) socket->abort();
        return;
    }
    // The HTTP server reads everything at each readyRead, after this: what
    // is available now is new. No request may carry a body, so the bytes
    // are request lines and headers, one block after the other.
    const QByteArray fresh = socket->peek(socket->bytesAvailable());
    for (const char ch : fresh) {
        if (c->head.size() > limits_.maxHeaderBytes) return Refuse(*c, 431);
        c->head += ch;
        const qsizetype n = c->head.size();
        const bool blankLine = ch == '\n' && n >= 2 &&
                               (c->head[n - 2] == '\n' ||
                                (n >= 3 && c->head[n - 2] == '\r' && c->head[n - 3] == '\n'));
        if (!blankLine) continue;
        if (c->head.trimmed().isEmpty()) { // blank lines between requests
            c->head.clear();
            continue;
        }
        if (const int status = gate_.Check(c->head); status != 0) return Refuse(*c, status);
        c->head.clear();
    }
    if (c->head.size() > limits_.maxHeaderBytes) Refuse(*c, 431);
}

void WebListener::Refuse(Connection& c, int status) {
    QTcpSocket* socket = c.socket;
    c.refused = true;
    c.head.clear();
    // Nothing more of this client reaches the HTTP server (not even what came
    // with this request in the same read): the answer is fixed and the
    // connection ends with it.
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Received(socket); });
    socket->skip(socket->bytesAvailable());
    socket->write(WebGate::Answer(status));
    socket->flush();
    // Our side closed for sending once the answer is out, while the rest of
    // what the client sends is taken and dropped for a moment: closing with
    // unread bytes would reset the connection and could lose the answer.
    const auto halfClose = [socket] {
        if (socket->bytesToWrite() == 0) ::shutdown(socket->socketDescriptor(), SHUT_WR);
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, halfClose);
    halfClose();
    QTimer::singleShot(limits_.lingerMs, socket, [socket] { socket->abort(); });
}

void WebListener::Sweep() {
    const std::int64_t now = clock_.elapsed();
    std::vector<QPointer<QTcpSocket>> idle;
    for (const Connection& c : connections_)
        if (c.socket && (now - c.lastActiveMs >= limits_.idleMs ||
                         c.socket->bytesToWrite() > limits_.maxUnsentBytes))
            idle.push_back(c.socket);
    for (const QPointer<QTcpSocket>& s : idle)
        if (s) s->abort();
    ShedUnsent();
}

void WebListener::DropLongestIdle() {
    auto it = std::min_element(
        connections_.begin(), connections_.end(),
        [](const Connection& a, const Connection& b) { return a.lastActiveMs < b.lastActiveMs; });
    if (it == connections_.end()) return;
    QPointer<QTcpSocket> victim = it->socket;
    connections_.erase(it);
    if (victim) victim->abort();
}

} // namespace tavrik
