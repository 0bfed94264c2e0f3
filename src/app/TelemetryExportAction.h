#pragma once
// Options, "export telemetry (CSV)": a save dialog that does not block, then
// the stored records written in slices; the outcome is one event-log line.
#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

#include "app/ArchiveCsvExport.h"
#include "files/StationConfig.h"
#include "files/qt/TelemetryCsvExport.h"
#include "time/Clock.h"

class QAction;

namespace tavrik {

// A stretch of the archive an export writes instead of the run's records:
// what the chart shows when it shows an archive range.
struct ArchiveExportOffer {
    QString archivePath;
    QString rangeName; // "7 days"
    TimeSpan span;
};

class TelemetryExportAction : public QObject {
    Q_OBJECT
  public:
    using LogLine = std::function<void(const QString&)>;
    // Opens the dialog whenever trigger fires. The proposed file is named from
    // MYCALL and the UTC time of the click, in the program folder.
    TelemetryExportAction(QAction* trigger, QWidget* window, const TelemetryHistory& history,
                          const QString& programFolder, const Clock& clock,
                          const StationConfig& config, LogLine log);

    // Asked at every opening of the dialog: the archive's stretch to offer, if any.
    void OfferArchive(std::function<std::optional<ArchiveExportOffer>()> offer);

    // Shows the save dialog; returns at once.
    void Open();
    // Writes the records, or the stretch of the archive offered when the
    // dialog opened, to path (what the dialog's confirmation does).
    void ExportTo(const QString& path);
    QFileDialog* Dialog() const { return dialog_; }
    bool Running() const { return export_.Running() || archiveExport_.Running(); }

  private:
    QWidget* window_;
    QString programFolder_;
    const Clock& clock_;
    const StationConfig& config_;
    LogLine log_;
    TelemetryCsvExport export_;
    ArchiveCsvExport archiveExport_;
    std::function<std::optional<ArchiveExportOffer>()> offer_;
    std::optional<ArchiveExportOffer> offered_; // as the open dialog says
    QPointer<QFileDialog> dialog_;
};

} // namespace tavrik
