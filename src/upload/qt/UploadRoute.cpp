#include "upload/qt/UploadRoute.h"

namespace tavrik {

UploadRoute::UploadRoute(QObject* parent) : QObject(parent) {
    connect(&plain_, &Uploader::runStarted, this, &UploadRoute::runStarted);
    connect(&plain_, &Uploader::stateChanged, this, &UploadRoute::stateChanged);
    connect(&plain_, &Uploader::logLine, this, &UploadRoute::logLine);
}

void UploadRoute::KeepOnDisk(const std::filesystem::path& folder) {
    retry_ = std::make_unique<RetryUploader>(folder);
    connect(retry_.get(), &RetryUploader::runStarted, this, &UploadRoute::runStarted);
    connect(retry_.get(), &RetryUploader::logLine, this, &UploadRoute::logLine);
    connect(retry_.get(), &RetryUploader::stateChanged, this,
            [this](int state, const Uploader& from) {
                reporter_ = &from;
                emit stateChanged(state);
                reporter_ = &plain_;
            });
    retry_->Start();
}

void UploadRoute::Post(const std::string& body, const QString& server, const QString& backup) {
    const QByteArray bytes(body.data(), static_cast<qsizetype>(body.size()));
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

} // namespace tavrik
