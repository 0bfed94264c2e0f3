#pragma once
// The archive in the running program: the writer thread started beside the
// window, its news brought back to the window's thread as event-log lines
// (a repeating write error at most once a minute) and catch-up progress.
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "archive/ArchiveWriter.h"
#include "archive/LogThrottle.h"
#include "time/Clock.h"

namespace tavrik {

class ArchiveService : public QObject {
    Q_OBJECT
  public:
    explicit ArchiveService(const Clock& clock, QObject* parent = nullptr);
    ~ArchiveService() override;

    // Opens <folder>/tavrik-archive.sqlite and starts the writer. Returns the
    // event-log line to write: where the archive is, or why the program runs
    // without it (the file is then left as it is).
    QString Start(const QString& folder);
    bool Running() const { return writer_ && writer_->Running(); }
    QString ArchivePath() const { return path_; }
    // The live path: copies the frame into the writer's queue.
    bool Post(ArchiveFrame frame);
    // Catches up every KISS log of the folder (see ArchiveWriter::CatchUp).
    void StartCatchUp(const QString& folder);
    ArchiveWriter* Writer() { return writer_.get(); }
    void Stop();

  signals:
    void LogLine(const QString& line);
    void CatchUpProgress(quint64 done, quint64 total);
    void CatchUpFinished(const QString& summary);
    // Frames were written (the chart of an archive range may redraw).
    void Written();

  private:
    void TakeNews();

    const Clock& clock_;
    std::unique_ptr<ArchiveWriter> writer_;
    LogThrottle errors_;
    QString path_;
    std::int64_t lastProgressMs_ = 0;
};

} // namespace tavrik
