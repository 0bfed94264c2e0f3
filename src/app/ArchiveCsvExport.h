#pragma once
// A stretch of the archive written to a CSV file with the command-line
// decoder's columns, on a worker thread: a year of frames takes seconds, and
// the window goes on meanwhile. The outcome comes back as a value.
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <cstdint>

#include "app/ChartRangeBox.h"

namespace tavrik {

class ArchiveCsvExport : public QObject {
    Q_OBJECT
  public:
    explicit ArchiveCsvExport(QObject* parent = nullptr);
    // Stops a running export (its file is not kept) and waits for it.
    ~ArchiveCsvExport() override;

    // Starts writing the frames of [span.fromMs, span.toMs) to path; false
    // while an export still runs. The result comes by Finished.
    bool Start(const QString& archivePath, TimeSpan span, const QString& path);
    bool Running() const { return running_; }

  signals:
    // error is empty when the file was written completely.
    void Finished(const QString& path, qint64 rows, const QString& error);

  private:
    QThreadPool pool_;
    std::atomic<bool> stop_{false};
    bool running_ = false;
};

} // namespace tavrik
