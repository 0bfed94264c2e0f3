#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <filesystem>
#include <memory>
#include <string>

#include "upload/qt/RetryUploader.h"
#include "upload/qt/Uploader.h"

namespace tavrik {

// Where the window's uploads go: the plain Uploader (each frame posted once to
// each server), or, once KeepOnDisk was called, queues on disk that retry
// until each server has taken every frame. Both report through these signals.
class UploadRoute : public QObject {
    Q_OBJECT
  public:
    explicit UploadRoute(QObject* parent = nullptr);

    // Opens the upload queues in folder; what earlier runs left there goes out.
    void KeepOnDisk(const std::filesystem::path& folder);
    void Post(const std::string& body, const QString& server, const QString& backup);
    bool KeepsOnDisk() const { return retry_ != nullptr; }
    // Stops the transfers; queued uploads stay on disk.
    void CancelAll();

    Uploader& Plain() { return plain_; }
    // The transfer whose state is being reported (valid while stateChanged runs).
    const Uploader& Reporter() const { return *reporter_; }

  signals:
    void runStarted();
    void stateChanged(int state);
    void logLine(const QString& text);

  private:
    Uploader plain_;
    std::unique_ptr<RetryUploader> retry_;
    const Uploader* reporter_ = &plain_;
};

} // namespace tavrik
