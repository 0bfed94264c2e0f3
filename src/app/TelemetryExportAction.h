#pragma once
// Options, "export telemetry (CSV)": a save dialog that does not block, then
// the stored records written in slices; the outcome is one event-log line.
#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

#include "files/StationConfig.h"
#include "files/qt/TelemetryCsvExport.h"
#include "time/Clock.h"

class QAction;

namespace tavrik {

class TelemetryExportAction : public QObject {
    Q_OBJECT
  public:
    using LogLine = std::function<void(const QString&)>;
    // Opens the dialog whenever trigger fires. The proposed file is named from
    // MYCALL and the UTC time of the click, in the program folder.
    TelemetryExportAction(QAction* trigger, QWidget* window, const TelemetryHistory& history,
                          const QString& programFolder, const Clock& clock,
                          const StationConfig& config, LogLine log);

    // Shows the save dialog; returns at once.
    void Open();
    // Writes the records to path (what the dialog's confirmation does).
    void ExportTo(const QString& path);
    QFileDialog* Dialog() const { return dialog_; }
    bool Running() const { return export_.Running(); }

  private:
    QWidget* window_;
    QString programFolder_;
    const Clock& clock_;
    const StationConfig& config_;
    LogLine log_;
    TelemetryCsvExport export_;
    QPointer<QFileDialog> dialog_;
};

} // namespace tavrik
