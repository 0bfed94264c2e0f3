#include "upload/qt/RetryUploader.h"

#include <QNetworkReply>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace tavrik {

namespace {

constexpr const char* kServerFile = "server.url";
// Appends reach the disk itself (not only the page cache a kill leaves
// intact) within this time; one flush serves a whole burst.
constexpr int kSyncIntervalMs = 1000;

std::string FolderName(const QByteArray& server) {
    std::uint64_t hash = 0xcbf29ce484222325ull; // FNV-1a
    for (char ch : server)
        hash = (hash ^ static_cast<unsigned char>(ch)) * 0x100000001b3ull;
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    return name;
}

// A bad URL or a certificate that is not trusted fails the same way next time.
UploadOutcome JudgeFailure(int networkError) {
    switch (static_cast<QNetworkReply::NetworkError>(networkError)) {
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return UploadOutcome::Permanent;
    default:
        return UploadOutcome::Transient;
    }
}

MonotonicNow SteadyNow() {
    return [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    };
}

QString ReadServerFile(const std::filesystem::path& folder) {
    std::ifstream in(folder / kServerFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

RetryUploader::RetryUploader(std::filesystem::path folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), now_(SteadyNow()) {
    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(kSyncIntervalMs);
    connect(&syncTimer_, &QTimer::timeout, this, &RetryUploader::SyncAll);
}

RetryUploader::~RetryUploader() {
    Stop();
}

void RetryUploader::Start() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
        const QString server = ReadServerFile(entry.path());
        if (!server.isEmpty() && !Find(server)) Open(entry.path(), server);
    }
    for (auto& channel : channels_) {
        channel->lane->AnnounceLeftovers();
        Pump(*channel);
    }
}

RetryUploader::Channel* RetryUploader::Find(const QString& server) const {
    for (const auto& channel : channels_)
        if (QString::fromUtf8(channel->lane->Server()) == server) return channel.get();
    return nullptr;
}

RetryUploader::Channel* RetryUploader::Open(const std::filesystem::path& folder,
                                            const QString& server) {
    const QByteArray name = server.toUtf8();
    const std::string serverText(name.constData(), static_cast<std::size_t>(name.size()));
    std::string why;
    std::unique_ptr<UploadSpool> spool =
        UploadSpool::Open(folder, limits_, why, folder_ / "damaged");
    // A queue without its server's name would never be sent after a restart.
    if (spool) spool->KeepFile(kServerFile, serverText, why);
    if (!spool || !why.empty()) {
        unusable_ << server;
        emit logLine(QStringLiteral("Upload queue for %1 not usable, uploads to it are sent once, "
                                    "without retry: %2")
                         .arg(server, QString::fromLocal8Bit(why.c_str())));
        return nullptr;
    }
    auto channel = std::make_unique<Channel>();
    Channel* c = channel.get();
    c->lane = std::make_unique<UploadLane>(
        serverText, std::move(spool), now_,
        [this](const std::string& text) { emit logLine(QString::fromLocal8Bit(text.c_str())); });
    c->lane->SetBackoff(backoff_);
    c->http = std::make_unique<Uploader>();
    c->http->SetServers(server, QString());
    c->http->SetTimeout(timeout_);
    c->retry.setSingleShot(true);
    connect(&c->retry, &QTimer::timeout, this, [this, c] { Pump(*c); });
    connect(c->http.get(), &Uploader::runStarted, this, &RetryUploader::runStarted);
    connect(c->http.get(), &Uploader::logLine, this, &RetryUploader::logLine);
    connect(c->http.get(), &Uploader::stateChanged, this, [this, c](const TransferReport& r) {
        if (r.state == TransferState::Error) c->outcome = JudgeFailure(r.errorCode);
        if (r.state == TransferState::ResponseCompleted) c->outcome = JudgeAnswer(r.httpStatus);
        emit stateChanged(r);
    });
    connect(c->http.get(), &Uploader::runFinished, this, [this, c] {
        c->lane->Finish(c->outcome.value_or(UploadOutcome::Transient));
        c->outcome.reset();
        ScheduleSync();
        Pump(*c);
    });
    channels_.push_back(std::move(channel));
    return c;
}

void RetryUploader::Enqueue(const QByteArray& body, const QStringList& servers) {
    if (stopped_) return;
    QStringList once;
    for (const QString& server : servers) {
        if (server.isEmpty()) continue;
        Channel* channel = unusable_.contains(server) ? nullptr : Find(server);
        if (!channel && !unusable_.contains(server))
            channel = Open(folder_ / FolderName(server.toUtf8()), server);
        if (!channel) {
            once << server;
            continue;
        }
        const auto kept = channel->lane->Enqueue(
            std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
        // A queue that cannot write is no reason to lose the upload: it is tried once.
        if (kept == UploadSpool::AddResult::Failed) once << server;
        Pump(*channel);
    }
    if (!once.isEmpty()) PostOnce(body, once);
    ScheduleSync();
}

void RetryUploader::PostOnce(const QByteArray& body, const QStringList& servers) {
    if (!fallback_) {
        fallback_ = std::make_unique<Uploader>();
        fallback_->SetTimeout(timeout_);
        Uploader* u = fallback_.get();
        connect(u, &Uploader::runStarted, this, &RetryUploader::runStarted);
        connect(u, &Uploader::logLine, this, &RetryUploader::logLine);
        connect(u, &Uploader::stateChanged, this, &RetryUploader::stateChanged);
    }
    fallback_->SetServers(servers.value(0), servers.value(1));
    fallback_->EnqueueRun(body);
}

void RetryUploader::Pump(Channel& c) {
    if (stopped_ || c.retry.isActive()) return;
    const std::string* body = c.lane->StartNext();
    if (!body) {
        const auto pause = c.lane->RetryIn();
        if (pause.count() > 0 && !c.lane->InFlight()) c.retry.start(pause);
        return;
    }
    c.http->EnqueueRun(QByteArray(body->data(), static_cast<qsizetype>(body->size())));
}

void RetryUploader::Stop() {
    if (stopped_) return;
    stopped_ = true;
    for (auto& channel : channels_) {
        channel->retry.stop();
        channel->http->CancelAll();
    }
    if (fallback_) fallback_->CancelAll();
    syncTimer_.stop();
    SyncAll();
}

std::uint64_t RetryUploader::Waiting(const QString& server) const {
    const Channel* channel = Find(server);
    return channel ? channel->lane->Count() : 0;
}

std::uint64_t RetryUploader::WaitingBytes(const QString& server) const {
    const Channel* channel = Find(server);
    return channel ? channel->lane->Spool().DiskBytes() : 0;
}

bool RetryUploader::Idle() const {
    for (const auto& channel : channels_)
        if (channel->lane->Count() > 0) return false;
    return true;
}

void RetryUploader::ScheduleSync() {
    if (!syncTimer_.isActive()) syncTimer_.start();
}

void RetryUploader::SyncAll() {
    for (auto& channel : channels_)
        if (channel->lane->Spool().NeedsSync()) channel->lane->Flush();
}

} // namespace tavrik
