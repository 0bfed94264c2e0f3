#include "upload/qt/UploadRoute.h"

#include "support/qt/QtText.h"
#include "upload/ServerAddress.h"

namespace tavrik {

UploadRoute::UploadRoute(const StationConfig& config, QObject* parent)
    : QObject(parent), config_(config) {
    connect(&plain_, &Uploader::runStarted, this, &UploadRoute::runStarted);
    connect(&plain_, &Uploader::stateChanged, this, &UploadRoute::Report);
    connect(&plain_, &Uploader::logLine, this, &UploadRoute::logLine);
}

void UploadRoute::OpenQueues(const std::filesystem::path& programFolder) {
    if (!config_.uploadRetry || retry_) return;
    retry_ = std::make_unique<RetryUploader>(programFolder / "upload_queue");
    connect(retry_.get(), &RetryUploader::runStarted, this, &UploadRoute::runStarted);
    connect(retry_.get(), &RetryUploader::logLine, this, &UploadRoute::logLine);
    connect(retry_.get(), &RetryUploader::stateChanged, this, &UploadRoute::Report);
    retry_->Start();
}

void UploadRoute::Post(const std::string& body) {
    const QByteArray bytes(body.data(), static_cast<qsizetype>(body.size()));
    const QString server = Utf8Text(config_.server);
    const QString backup = Utf8Text(config_.serverBackup);
    if (retry_) {
        retry_->Enqueue(bytes, {server, backup});
        return;
    }
    plain_.SetServers(server, backup);
    plain_.EnqueueRun(bytes);
}

void UploadRoute::CancelAll() {
    plain_.CancelAll();
    if (retry_) retry_->Stop();
}

void UploadRoute::Report(const TransferReport& report) {
    if (report.state == TransferState::ResponseCompleted &&
        JudgeResponse(report.httpStatus).countAsOk)
        ++postOk_;
    emit stateChanged(report);
    if (report.state != TransferState::ResponseCompleted) return;
    const bool backup = report.server == config_.serverBackup && report.server != config_.server;
    if (const auto moved = MovedLine(report.httpStatus, report.header, report.server,
                                     backup ? "SERVER_BACKUP" : "SERVER"))
        emit logLine(Utf8Text(*moved));
}

} // namespace tavrik
