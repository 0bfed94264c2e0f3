#include "intake/qt/ModemConnection.h"

#include <algorithm>

#include "intake/qt/AgwClient.h"
#include "intake/qt/KissClient.h"

namespace tavrik {

namespace {

std::string Text(const QString& s) {
    return s.toUtf8().toStdString();
}

} // namespace

ModemConnection::ModemConnection(LogLine log, QObject* parent)
    : QObject(parent), log_(std::move(log)) {
    monotonic_.start();
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] {
        ++reconnectAttempts_;
        link_->Connect();
    });
    Attach(std::make_unique<AgwClient>());
}

ModemConnection::~ModemConnection() = default;

void ModemConnection::Attach(std::unique_ptr<ModemLink> link) {
    link_ = std::move(link);
    ModemLink* l = link_.get();
    connect(l, &ModemLink::connected, this, &ModemConnection::OnConnected);
    connect(l, &ModemLink::dataArrived, this, &ModemConnection::dataArrived);
    connect(l, &ModemLink::error, this, &ModemConnection::OnError);
    connect(l, &ModemLink::remoteClosed, this, &ModemConnection::OnRemoteClosed);
    connect(l, &ModemLink::protocolError, this, &ModemConnection::OnProtocolError);
    connect(l, &ModemLink::notice, this, [this](const QString& t) { log_(Text(t)); });
}

void ModemConnection::Open(const ModemEndpoint& endpoint) {
    if (endpoint.protocol == ModemEndpoint::Protocol::Kiss) Attach(std::make_unique<KissClient>());
    link_->SetRemoteHost(QString::fromUtf8(endpoint.address.host.data(),
                                           static_cast<qsizetype>(endpoint.address.host.size())));
    link_->SetRemotePort(endpoint.address.port);
    log_("Winsock RemoteHost: " + Text(link_->RemoteHost()));
    log_("Winsock RemotePort: " + std::to_string(link_->RemotePort()));
    if (link_->State() != ModemLink::Closed) link_->Close();
    link_->Connect();
}

void ModemConnection::Handshake() {
    if (link_->State() != ModemLink::Connected) return;
    const QByteArray bytes = link_->Handshake();
    if (!bytes.isEmpty()) link_->Send(bytes);
}

void ModemConnection::Close() {
    retry_.stop();
    policy_ = ReconnectPolicy{};
    link_->Close();
}

bool ModemConnection::LampGreen() const {
    return link_->State() != ModemLink::Closed && !policy_.Waiting();
}

void ModemConnection::OnConnected() {
    log_("AGW winsock connection made");
    if (policy_.Waiting()) {
        const std::int64_t down = policy_.Connected(NowMs());
        log_(link_->Name() + " connection made again after " + DurationText(down) + " (" +
             std::to_string(policy_.Attempts()) + " attempts)");
    }
    // Monitoring is switched on per connection: a new one needs the handshake again.
    if (handshakePending_ || reconnect_) {
        Handshake();
        handshakePending_ = false;
    }
}

void ModemConnection::OnError(int number, const QString& description) {
    const std::string line =
        "Winsock Error \"" + std::to_string(number) + "\" occured: " + Text(description);
    link_->Close();
    if (!reconnect_ || !policy_.Waiting()) {
        log_(line);
        Down();
        return;
    }
    // An attempt of the wait failed: one line a minute at most.
    const std::int64_t now = NowMs();
    const std::int64_t next = policy_.Failed(now);
    if (policy_.MayLog(now))
        log_(link_->Name() + " connection still not made after " +
             DurationText(policy_.DownMs(now)) + " (" + std::to_string(policy_.Attempts()) +
             " attempts): " + line);
    Schedule(next);
}

void ModemConnection::OnRemoteClosed() {
    if (const std::size_t pending = link_->PendingBytes(); pending > 0)
        log_(link_->Name() + " connection ended inside a frame: " + std::to_string(pending) +
             " bytes of it dropped");
    log_("AGW winsock connection closed");
    link_->Close();
    Down();
}

void ModemConnection::OnProtocolError(const QString& why) {
    log_(link_->Name() + " protocol error, connection closed: " + Text(why));
    link_->Close();
    Down();
}

void ModemConnection::Down() {
    if (!reconnect_) return;
    const std::int64_t now = NowMs();
    const std::int64_t next = policy_.Lost(now);
    Schedule(next);
    // After a short connection the earlier wait goes on, so the next attempt may be later.
    log_(link_->Name() + " reconnect: next attempt in " + DurationText(next - now) + " (every " +
         DurationText(ReconnectPolicy::kFastDelayMs) + " for the first " +
         DurationText(ReconnectPolicy::kFastPeriodMs) + " of a wait, then every " +
         DurationText(ReconnectPolicy::kSlowDelayMs) + ")");
}

void ModemConnection::Schedule(std::int64_t atMs) {
    retry_.start(static_cast<int>(std::max<std::int64_t>(0, atMs - NowMs())));
}

} // namespace tavrik
