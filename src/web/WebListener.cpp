#include "web/WebListener.h"

#include <QTcpSocket>
#include <algorithm>

namespace tavrik {

WebListener::WebListener(WebLimits limits, QObject* parent) : QTcpServer(parent), limits_(limits) {
    clock_.start();
    setMaxPendingConnections(limits_.maxConnections);
    sweep_.setInterval(std::clamp<std::int64_t>(limits_.idleMs / 10, 50, 1000));
    connect(&sweep_, &QTimer::timeout, this, &WebListener::Sweep);
    sweep_.start();
}

bool WebListener::Overloaded(const QTcpSocket& socket) const {
    return socket.bytesToWrite() > limits_.maxUnsentBytes;
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
    connections_.push_back({socket, clock_.elapsed()});
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
    const QByteArray fresh = socket->peek(socket->bytesAvailable());
    bool over = false;
    for (const char ch : fresh) {
        over = over || ++c->headerBytes > limits_.maxHeaderBytes;
        const bool blankLine =
            ch == '\n' && c->tail[2] == '\r' && c->tail[1] == '\n' && c->tail[0] == '\r';
        c->tail[0] = c->tail[1];
        c->tail[1] = c->tail[2];
        c->tail[2] = ch;
        if (blankLine) c->headerBytes = 0;
    }
    if (!over) return;
    // Nothing more of this client reaches the HTTP server: the answer is
    // fixed and the connection ends with it.
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    socket->readAll();
    socket->write("HTTP/1.1 431 Request Header Fields Too Large\r\n"
                  "Content-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}

void WebListener::Sweep() {
    const std::int64_t now = clock_.elapsed();
    std::vector<QPointer<QTcpSocket>> idle;
    for (const Connection& c : connections_)
        if (c.socket && (now - c.lastActiveMs >= limits_.idleMs || Overloaded(*c.socket)))
            idle.push_back(c.socket);
    for (const QPointer<QTcpSocket>& s : idle)
        if (s) s->abort();
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
