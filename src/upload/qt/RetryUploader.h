#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "upload/UploadLane.h"
#include "upload/qt/Uploader.h"

namespace tavrik {

// Uploads kept on disk until their server took them: one queue folder per
// server under the given folder, each served by its own Uploader, one request
// at a time and in order, so that a server that is down holds up no other.
// Transfer states are reported as the plain Uploader reports them.
class RetryUploader : public QObject {
    Q_OBJECT
  public:
    explicit RetryUploader(std::filesystem::path folder, QObject* parent = nullptr);
    ~RetryUploader() override;

    // Before Start.
    void SetBackoff(RetryBackoff backoff) { backoff_ = backoff; }
    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // Opens the queues left in the folder: they go on to the server they were for.
    void Start();
    // Keeps the body for each server, in that order; empty names are not used.
    void Enqueue(const QByteArray& body, const QStringList& servers);
    // Stops the requests in flight and flushes; the queues stay on disk.
    void Stop();
    // Entries waiting for server (0 for one without a queue).
    std::uint64_t Waiting(const QString& server) const;
    bool Idle() const;

  signals:
    void runStarted();
    void stateChanged(const tavrik::TransferReport& report);
    void logLine(const QString& text);

  private:
    struct Channel {
        std::unique_ptr<UploadLane> lane;
        std::unique_ptr<Uploader> http;
        QTimer retry;
        std::optional<UploadOutcome> outcome;
    };

    Channel* Find(const QString& server) const;
    Channel* Open(const std::filesystem::path& folder, const QString& server);
    void Pump(Channel& channel);
    void PostOnce(const QByteArray& body, const QStringList& servers);
    void ScheduleSync();
    void SyncAll();

    std::filesystem::path folder_;
    MonotonicNow now_;
    RetryBackoff backoff_;
    SpoolLimits limits_;
    std::chrono::milliseconds timeout_{std::chrono::seconds(60)};
    std::vector<std::unique_ptr<Channel>> channels_;
    QStringList unusable_; // said once; their uploads are posted once, as without a queue
    std::unique_ptr<Uploader> fallback_;
    QTimer syncTimer_;
    bool stopped_ = false;
};

} // namespace tavrik
