#include "ReplayServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <span>

namespace {

// How much may wait in the send buffer before pacing holds back; keeps a
// client that reads slowly (or not at all) from growing our memory.
constexpr qint64 kSendHighWater = 64 * 1024;

// The 'G' reply's data block: the text, NUL-padded to this size as modem
// programs pad it. The program's log line drops the block's last 21
// characters, so they must be padding.
constexpr int kPortInfoSize = 128;
constexpr int kPortInfoPadding = 21;

std::span<const std::uint8_t> Bytes(const QByteArray& a) {
    return {reinterpret_cast<const std::uint8_t*>(a.constData()),
            static_cast<std::size_t>(a.size())};
}

QByteArray ToArray(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

} // namespace

void Say(const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

ReplayClient::ReplayClient(int number, QTcpSocket* socket, const std::vector<QByteArray>& frames,
                           const QByteArray& portInfo, const ReplayOptions& options,
                           QObject* parent)
    : QObject(parent), number_(number), socket_(socket), frames_(frames), portInfo_(portInfo),
      options_(options), timer_(new QTimer(this)) {
    socket_->setParent(this);
    timer_->setInterval(options_.intervalMs);
    connect(timer_, &QTimer::timeout, this, &ReplayClient::Pump);
    connect(socket_, &QTcpSocket::readyRead, this, &ReplayClient::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &ReplayClient::OnDisconnected);
    // Without pacing the send buffer's draining drives the next batch.
    if (options_.intervalMs == 0)
        connect(socket_, &QTcpSocket::bytesWritten, this, &ReplayClient::Pump);
    Say(QStringLiteral("%1 client connected from %2:%3")
            .arg(Tag(), socket_->peerAddress().toString())
            .arg(socket_->peerPort()));
}

QString ReplayClient::Tag() const {
    return QStringLiteral("#%1").arg(number_);
}

void ReplayClient::Abort() {
    gone_ = true;
    timer_->stop();
    socket_->disconnect(this);
    socket_->abort();
}

void ReplayClient::OnReadyRead() {
    const QByteArray bytes = socket_->readAll();
    for (const tavrik::AgwFrame& f : splitter_.Feed(Bytes(bytes))) {
        Handle(f);
        if (gone_) return;
    }
    if (splitter_.Error()) {
        Say(QStringLiteral("%1 bad AGW data (%2), closing the connection")
                .arg(Tag(), QString::fromStdString(*splitter_.Error())));
        socket_->abort(); // emits disconnected, which finishes this client
    }
}

void ReplayClient::OnDisconnected() {
    if (gone_) return;
    gone_ = true;
    timer_->stop();
    Say(QStringLiteral("%1 client disconnected after %2 frames").arg(Tag()).arg(sent_));
    emit Finished(this);
}

void ReplayClient::Handle(const tavrik::AgwFrame& frame) {
    switch (frame.Kind()) {
    case 'G':
        Say(QStringLiteral("%1 port information sent").arg(Tag()));
        socket_->write(ToArray(tavrik::EncodeAgwFrame('G', Bytes(portInfo_))));
        break;
    case 'k':
        SetMonitoring(!monitoring_);
        break;
    default: {
        const auto kind = static_cast<unsigned char>(frame.Kind());
        Say(QStringLiteral("%1 ignored a frame of kind 0x%2")
                .arg(Tag())
                .arg(kind, 2, 16, QLatin1Char('0')));
        break;
    }
    }
}

void ReplayClient::SetMonitoring(bool on) {
    monitoring_ = on;
    if (!on) {
        timer_->stop();
        Say(QStringLiteral("%1 monitoring off after %2 frames").arg(Tag()).arg(sent_));
        return;
    }
    Say(done_ ? QStringLiteral("%1 monitoring on, nothing left to send").arg(Tag())
              : QStringLiteral("%1 monitoring on").arg(Tag()));
    if (done_) return;
    if (options_.intervalMs > 0) timer_->start();
    Pump();
}

void ReplayClient::Pump() {
    if (!monitoring_ || done_ || gone_) return;
    if (options_.intervalMs > 0) {
        // One frame a tick; a full send buffer skips the tick.
        if (socket_->bytesToWrite() < kSendHighWater) SendNext();
        return;
    }
    while (!done_ && socket_->bytesToWrite() < kSendHighWater)
        SendNext();
}

void ReplayClient::SendNext() {
    socket_->write(ToArray(tavrik::EncodeAgwFrame('K', Bytes(frames_[next_]))));
    ++sent_;
    ++next_;
    if (options_.count && sent_ >= *options_.count) {
        done_ = true;
        Say(QStringLiteral("%1 sent %2 frames, count reached").arg(Tag()).arg(sent_));
    } else if (next_ == frames_.size()) {
        next_ = 0;
        if (!options_.loop) {
            done_ = true;
            Say(QStringLiteral("%1 sent %2 frames, end of file").arg(Tag()).arg(sent_));
        }
    }
    if (done_) timer_->stop();
}

ReplayServer::ReplayServer(std::vector<QByteArray> frames, const QString& fileName,
                           ReplayOptions options, QObject* parent)
    : QObject(parent), frames_(std::move(frames)), portInfo_(PortInfo(fileName)),
      options_(std::move(options)), server_(new QTcpServer(this)) {
    connect(server_, &QTcpServer::newConnection, this, &ReplayServer::OnNewConnection);
}

ReplayServer::~ReplayServer() {
    Shutdown();
}

QByteArray ReplayServer::PortInfo(const QString& fileName) {
    QByteArray name = fileName.toLocal8Bit();
    const QByteArray head = "1;Port1 Replay of ";
    const qsizetype room = kPortInfoSize - kPortInfoPadding - head.size() - 1;
    if (name.size() > room) name = name.right(room);
    QByteArray text = head + name + ';';
    text.append(kPortInfoSize - text.size(), '\0');
    return text;
}

bool ReplayServer::Listen(QString& error) {
    if (!server_->listen(options_.host, options_.port)) {
        error = server_->errorString();
        return false;
    }
    return true;
}

quint16 ReplayServer::Port() const {
    return server_->serverPort();
}

void ReplayServer::Shutdown() {
    server_->close();
    std::vector<ReplayClient*> clients;
    clients.swap(clients_);
    for (ReplayClient* c : clients) {
        c->Abort();
        delete c;
    }
}

void ReplayServer::OnNewConnection() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        auto* client = new ReplayClient(nextNumber_++, socket, frames_, portInfo_, options_, this);
        clients_.push_back(client);
        connect(client, &ReplayClient::Finished, this, [this](ReplayClient* c) {
            clients_.erase(std::remove(clients_.begin(), clients_.end(), c), clients_.end());
            c->deleteLater();
        });
    }
}
