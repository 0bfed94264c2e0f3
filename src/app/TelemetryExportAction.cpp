#include "app/TelemetryExportAction.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "support/qt/QtText.h"

namespace tavrik {

TelemetryExportAction::TelemetryExportAction(QAction* trigger, QWidget* window,
                                             const TelemetryHistory& history,
                                             const QString& programFolder, const Clock& clock,
                                             const StationConfig& config, LogLine log)
    : QObject(window), window_(window), programFolder_(programFolder), clock_(clock),
      config_(config), log_(std::move(log)), export_(history) {
    connect(trigger, &QAction::triggered, this, &TelemetryExportAction::Open);
    connect(&export_, &TelemetryCsvExport::Finished, this,
            [this](const QString& path, int records, const QString& error) {
                const QString name = QDir::toNativeSeparators(path);
                if (error.isEmpty())
                    log_(QStringLiteral("telemetry export %1: %2 records written")
                             .arg(name)
                             .arg(records));
                else
                    log_(QStringLiteral("telemetry export %1 could not be written: %2")
                             .arg(name, error));
            });
    connect(&archiveExport_, &ArchiveCsvExport::Finished, this,
            [this](const QString& path, qint64 rows, const QString& error) {
                const QString name = QDir::toNativeSeparators(path);
                if (error.isEmpty())
                    log_(QStringLiteral("telemetry export %1: %2 archived frames written")
                             .arg(name)
                             .arg(rows));
                else
                    log_(QStringLiteral("telemetry export %1 from the archive could not be "
                                        "written: %2")
                             .arg(name, error));
            });
}

void TelemetryExportAction::OfferArchive(std::function<std::optional<ArchiveExportOffer>()> offer) {
    offer_ = std::move(offer);
}

void TelemetryExportAction::Open() {
    if (dialog_) {
        dialog_->raise();
        return;
    }
    const QString proposedPath = PathFromBytes(
        TelemetryExportFileName(PathBytes(programFolder_), config_.mycall, UtcNow(clock_)));
    offered_ = offer_ ? offer_() : std::nullopt;
    QString title = QStringLiteral("export telemetry (CSV)");
    if (offered_)
        title += QStringLiteral(": ") + offered_->rangeName + QStringLiteral(" from the archive");
    auto* dialog = new QFileDialog(window_, title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters(
        {QStringLiteral("CSV Files (*.csv)"), QStringLiteral("All Files (*.*)")});
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    dialog->setDirectory(QFileInfo(proposedPath).absolutePath());
    dialog->selectFile(QFileInfo(proposedPath).fileName());
    connect(dialog, &QFileDialog::fileSelected, this, &TelemetryExportAction::ExportTo);
    dialog_ = dialog;
    dialog->open();
}

void TelemetryExportAction::ExportTo(const QString& path) {
    if (offered_) {
        if (!archiveExport_.Start(offered_->archivePath, offered_->span, path))
            log_(QStringLiteral("telemetry export %1 not started: the previous export is still "
                                "running")
                     .arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (!export_.Start(path))
        log_(QStringLiteral("telemetry export %1 not started: the previous export is still running")
                 .arg(QDir::toNativeSeparators(path)));
}

} // namespace tavrik
