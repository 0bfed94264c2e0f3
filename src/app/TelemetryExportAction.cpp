#include "app/TelemetryExportAction.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace tavrik {

TelemetryExportAction::TelemetryExportAction(QWidget* window, const TelemetryHistory& history,
                                             LogLine log)
    : QObject(window), window_(window), log_(std::move(log)), export_(history) {
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
                emit Done(error);
            });
}

void TelemetryExportAction::Open(const QString& proposedPath) {
    if (dialog_) {
        dialog_->raise();
        return;
    }
    auto* dialog = new QFileDialog(window_, QStringLiteral("export telemetry (CSV)"));
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
    if (!export_.Start(path))
        log_(QStringLiteral("telemetry export %1 not started: the previous export is still running")
                 .arg(QDir::toNativeSeparators(path)));
}

} // namespace tavrik
