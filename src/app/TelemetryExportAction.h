#pragma once
// Options, "export telemetry (CSV)": a save dialog that does not block, then
// the stored records written in slices; the outcome is one event-log line.
#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

#include "files/qt/TelemetryCsvExport.h"

namespace tavrik {

class TelemetryExportAction : public QObject {
    Q_OBJECT
  public:
    using LogLine = std::function<void(const QString&)>;
    TelemetryExportAction(QWidget* window, const TelemetryHistory& history, LogLine log);

    // Shows the save dialog with this file proposed; returns at once.
    void Open(const QString& proposedPath);
    // Writes the records to path without asking (the dialog's confirmation ends here).
    void ExportTo(const QString& path);
    QFileDialog* Dialog() const { return dialog_; }
    bool Running() const { return export_.Running(); }

  signals:
    void Done(const QString& error);

  private:
    QWidget* window_;
    LogLine log_;
    TelemetryCsvExport export_;
    QPointer<QFileDialog> dialog_;
};

} // namespace tavrik
