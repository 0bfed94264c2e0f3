#pragma once
#include <QObject>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "files/StationConfig.h"
#include "upload/UploadStatus.h"
#include "upload/qt/RetryUploader.h"
#include "upload/qt/Uploader.h"

namespace tavrik {

// Where the station's uploads go, to the servers of the configuration as it
// reads at each post: the plain Uploader (each frame posted once to each
// server), or, with UPLOAD_RETRY, queues on disk that retry until each server
// has taken every frame. Both report through these signals, by value.
class UploadRoute : public QObject {
    Q_OBJECT
  public:
    explicit UploadRoute(const StationConfig& config, QObject* parent = nullptr);

    // With UPLOAD_RETRY: opens the upload queues in the program folder's
    // upload_queue, and what earlier runs left there goes out. Without it
    // nothing is kept on disk.
    void OpenQueues(const std::filesystem::path& programFolder);
    void Post(const std::string& body);
    // Stops the transfers; queued uploads stay on disk.
    void CancelAll();
    // Responses with a 2xx status, since start-up: the "HTTP POST OK" counter.
    std::int32_t PostOkCount() const { return postOk_; }

    Uploader& Plain() { return plain_; }

  signals:
    void runStarted();
    // Every transfer state; a completed response is counted before it is reported.
    void stateChanged(const tavrik::TransferReport& report);
    void logLine(const QString& text);

  private:
    void Report(const TransferReport& report);

    const StationConfig& config_;
    Uploader plain_;
    std::unique_ptr<RetryUploader> retry_;
    std::int32_t postOk_ = 0;
};

} // namespace tavrik
