#include "upload/qt/Uploader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QUrl>
#include <string>
#include <utility>
#include <vector>

#include "time/Duration.h"
#include "upload/UploadStatus.h"

namespace tavrik {

namespace {

// Errors that mean no complete HTTP response arrived, even when a status line
// did (a reset in the middle of the body still leaves the status attribute set).
// The other error values Qt derives from the HTTP status itself.
bool IsTransportFailure(QNetworkReply::NetworkError error) {
    const int e = static_cast<int>(error);
    if (e >= 1 && e <= 99) return true; // connection, TLS, timeout, cancel
    if (e >= 101 && e <= 199 && error != QNetworkReply::ProxyAuthenticationRequiredError)
        return true;
    return error == QNetworkReply::ContentReSendError ||
           error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure;
}

} // namespace

Uploader::Uploader(QObject* parent) : QObject(parent), network_(new QNetworkAccessManager(this)) {
    timeoutTimer_.setSingleShot(true);
    connect(&timeoutTimer_, &QTimer::timeout, this, &Uploader::OnTimeout);
}

Uploader::~Uploader() {
    CancelAll();
}

void Uploader::SetServers(const QString& server, const QString& backup) {
    server_ = server;
    backup_ = backup;
}

void Uploader::SetTimeout(std::chrono::milliseconds timeout) {
    timeout_ = timeout.count() > 0 ? timeout : std::chrono::milliseconds(1);
}

void Uploader::SetQueueLimit(std::size_t runs) {
    queueLimit_ = runs > 0 ? runs : 1;
}

void Uploader::SetExtraCaCertificates(const QList<QSslCertificate>& cas) {
    extraCas_ = cas;
}

void Uploader::EnqueueRun(const QByteArray& body) {
    Run run{body, {}};
    if (!server_.isEmpty()) run.targets << server_;
    if (!backup_.isEmpty()) run.targets << backup_;
    if (waiting_.size() >= queueLimit_) {
        waiting_.pop_front();
        emit logLine(QStringLiteral("Upload queue full (%1 runs waiting): the oldest waiting "
                                    "upload was dropped")
                         .arg(queueLimit_));
    }
    waiting_.push_back(std::move(run));
    SchedulePump();
}

void Uploader::CancelAll() {
    ++epoch_;
    waiting_.clear();
    current_.reset();
    nextTarget_ = 0;
    DropReply();
}

bool Uploader::Busy() const {
    return reply_ != nullptr || current_ || !waiting_.empty();
}

std::size_t Uploader::WaitingRuns() const {
    return waiting_.size();
}

void Uploader::SchedulePump() {
    if (pumpScheduled_) return;
    pumpScheduled_ = true;
    // Runs start from the event loop, never inside the caller's handler.
    QMetaObject::invokeMethod(this, &Uploader::Pump, Qt::QueuedConnection);
}

void Uploader::Pump() {
    pumpScheduled_ = false;
    while (reply_ == nullptr) {
        const quint64 epoch = epoch_;
        if (!current_) {
            if (waiting_.empty()) return;
            current_ = std::move(waiting_.front());
            waiting_.pop_front();
            nextTarget_ = 0;
            emit runStarted();
            if (epoch != epoch_) return;
            continue;
        }
        if (nextTarget_ < current_->targets.size()) {
            const QString target = current_->targets.at(nextTarget_++);
            if (!StartRequest(target)) return; // a slot cancelled, or it already ended
            continue;
        }
        current_.reset();
        emit runFinished();
        if (epoch != epoch_) return;
    }
}

// Returns true when the request is in flight; false when it ended at once or a
// slot cancelled the work.
bool Uploader::StartRequest(const QString& target) {
    target_ = target.toUtf8().toStdString();
    lastState_ = 0;
    bodyBytes_ = 0;

    const QUrl url(target);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        if (!EmitProgress(TransferState::HostResolvingHost)) return false;
        EndWithError(QNetworkReply::ProtocolUnknownError,
                     QStringLiteral("Not an http or https URL: %1").arg(target));
        return false; // the next step is already scheduled
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    // A redirect would re-send (or turn into a GET) somewhere not configured;
    // the 3xx response itself is the outcome.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (!extraCas_.isEmpty()) {
        // Adding to the default list would switch off the on-demand loading of
        // the system's roots, so give the whole list: system roots plus ours.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + extraCas_);
        request.setSslConfiguration(tls);
    }

    reply_ = network_->post(request, current_->body);
    connect(reply_, &QNetworkReply::socketStartedConnecting, this,
            [this] { EmitProgress(TransferState::Connecting); });
    connect(reply_, &QNetworkReply::requestSent, this,
            [this] { EmitProgress(TransferState::RequestSent); });
    // Qt gives no requestSent for an empty body; an answer proves it was sent.
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this] {
        if (EmitProgress(TransferState::RequestSent))
            EmitProgress(TransferState::ReceivingResponse);
    });
    // The body is of no use here; do not let a large one pile up.
    connect(reply_, &QNetworkReply::readyRead, this, [this] {
        if (reply_ != nullptr) bodyBytes_ += reply_->readAll().size();
    });
    connect(reply_, &QNetworkReply::finished, this, &Uploader::OnFinished);
    timeoutTimer_.start(timeout_);
    return EmitProgress(TransferState::HostResolvingHost);
}

bool Uploader::EmitProgress(TransferState progress) {
    const int state = static_cast<int>(progress);
    if (state <= lastState_) return true;
    lastState_ = state;
    const quint64 epoch = epoch_;
    emit stateChanged({.server = target_, .state = progress});
    return epoch == epoch_;
}

void Uploader::OnFinished() {
    if (reply_ == nullptr) return;
    QNetworkReply* reply = reply_;
    const QNetworkReply::NetworkError error = reply->error();
    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttr.isValid() ? statusAttr.toInt() : 0;
    if (IsTransportFailure(error) || status <= 0) {
        if (error == QNetworkReply::NoError)
            EndWithError(QNetworkReply::ProtocolFailure,
                         QStringLiteral("The server's answer carried no HTTP status"));
        else
            EndWithError(error, reply->errorString());
        return;
    }
    // A connection that ends inside the body is no answer, even when Qt lets
    // it pass as the end of the response: the server may not have taken the frame.
    bodyBytes_ += reply->readAll().size();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && !reply->hasRawHeader("Content-Encoding") &&
        bodyBytes_ < announced.toLongLong()) {
        EndWithError(QNetworkReply::RemoteHostClosedError,
                     QStringLiteral("The connection ended after %1 of the %2 response bytes")
                         .arg(bodyBytes_)
                         .arg(announced.toLongLong()));
        return;
    }
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& [name, value] : reply->rawHeaderPairs())
        fields.emplace_back(name.toStdString(), value.toStdString());
    const QByteArray reason =
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    std::string header =
        ComposeResponseHeader(status, std::string_view(reason.constData(), reason.size()), fields);
    if (!EmitProgress(TransferState::ResponseReceived)) return;
    EndWithResponse(status, std::move(header));
}

void Uploader::OnTimeout() {
    if (reply_ == nullptr) return;
    EndWithError(
        QNetworkReply::TimeoutError,
        QStringLiteral("No complete response within %1")
            .arg(QString::fromStdString(DurationText(timeout_.count(), DurationStyle::Exact))));
}

void Uploader::EndWithError(int code, const QString& text) {
    std::string bytes = text.toUtf8().toStdString();
    std::string line = ErrorLogText(code, bytes);
    EmitEnd({.server = target_,
             .state = TransferState::Error,
             .errorCode = code,
             .errorText = std::move(bytes),
             .logLine = std::move(line)});
}

void Uploader::EndWithResponse(int status, std::string header) {
    std::string line = HeaderLogText(header);
    EmitEnd({.server = target_,
             .state = TransferState::ResponseCompleted,
             .httpStatus = status,
             .header = std::move(header),
             .logLine = std::move(line)});
}

void Uploader::EmitEnd(TransferReport report) {
    DropReply();
    ++epoch_;
    const quint64 epoch = epoch_;
    emit stateChanged(report);
    if (epoch == epoch_) SchedulePump();
}

void Uploader::DropReply() {
    timeoutTimer_.stop();
    if (reply_ == nullptr) return;
    QNetworkReply* reply = std::exchange(reply_, nullptr);
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

} // namespace tavrik
