#pragma once
// The import of chosen KISS files, in order, run a few milliseconds at a time
// from the event loop: live frames, the clock and uploads go on between
// imported frames, never in the middle of one. Each frame goes through the
// station's import entry (decoded, never logged or uploaded) and is listed as text.
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/Kiss.h"
#include "files/KissFileReader.h"

class QTimer;

namespace tavrik {

class FramePipeline;

class KissImport : public QObject {
    Q_OBJECT
  public:
    explicit KissImport(FramePipeline& pipeline, QObject* parent = nullptr);
    ~KissImport() override;

    // Starts importing the files; ignored while an import runs.
    void Start(const QStringList& paths);
    // Ends the import at once (the window closes).
    void Stop();
    bool Running() const { return running_; }

    // Every imported frame's text, one line each, for the whole run.
    const std::string& Listing() const { return listing_; }

  signals:
    void logLine(const QString& text);
    // Progress and notes for the status label.
    void status(const QString& text);
    // A file has been read to its end (or to its first error).
    void fileFinished();
    void finished();

  private:
    void StartNextFile();
    void Slice();
    void ProcessRecord(const KissRecord& record);
    void Skipped(const KissSkip& skip);
    void FinishFile();

    FramePipeline& pipeline_;
    QTimer* timer_ = nullptr;
    bool running_ = false;
    QStringList files_;
    int next_ = 0;
    QString path_;
    std::string pathBytes_;
    std::string received_;     // the last timestamp record's time
    bool hasReceived_ = false; // until a frame takes it
    std::unique_ptr<KissFileReader> reader_;
    bool readingDone_ = false;
    bool fresh_ = false; // nothing of the file read yet
    std::optional<KissSkip> endSkip_;
    std::string listing_;
};

} // namespace tavrik
