#pragma once
// The stored telemetry records written to a CSV file on the window's thread,
// a slice at a time, so that the window keeps handling events meanwhile.
#include <QObject>
#include <QSaveFile>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

#include "files/TelemetryExport.h"
#include "telemetry/TelemetryHistory.h"

namespace tavrik {

class TelemetryCsvExport : public QObject {
    Q_OBJECT
  public:
    explicit TelemetryCsvExport(const TelemetryHistory& history, QObject* parent = nullptr);

    // Starts writing the records stored now (later ones are not included; in a
    // rolling history those that give way meanwhile are left out).
    // False when an export is still running; the result comes by Finished.
    bool Start(const QString& path);
    bool Running() const { return file_ != nullptr; }

  signals:
    // error is empty when the file was written completely.
    void Finished(const QString& path, int records, const QString& error);

  private:
    void Slice();
    void End(const QString& error);

    const TelemetryHistory& history_;
    const TelemetryRowWriter writer_;
    const std::string source_;
    std::unique_ptr<QSaveFile> file_;
    QTimer timer_;
    std::string buffer_;
    std::int32_t next_ = 0;
    std::int32_t last_ = 0;
    std::int32_t written_ = 0;
};

} // namespace tavrik
