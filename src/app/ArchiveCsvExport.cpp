#include "app/ArchiveCsvExport.h"

#include <QSaveFile>
#include <string>

#include "archive/Archive.h"
#include "archive/ThreadPriority.h"
#include "files/TelemetryExport.h"
#include "support/qt/QtText.h"
#include "time/TimeArgument.h"

namespace tavrik {

namespace {

struct Outcome {
    qint64 rows = 0;
    QString error;
};

Outcome Write(const QString& archivePath, TimeSpan span, const QString& path,
              const std::atomic<bool>& stop) {
    Outcome outcome;
    Archive archive;
    if (std::string why = archive.Open(PathBytes(archivePath), Archive::Access::Read); !why.empty())
        return {0, QString::fromStdString(why)};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {0, file.errorString()};
    const TelemetryRowWriter writer(ExportFormat::Csv, ExportColumns{});
    std::string buffer;
    writer.AppendHeader(buffer);
    std::string time;
    bool written = true;
    const std::string why = archive.Export({span.fromMs, span.toMs}, [&](const ArchiveRow& row) {
        time = FormatTimestamp(UtcDateTime(row.timeMs));
        writer.AppendRow(AsExportRow(row, time), buffer);
        ++outcome.rows;
        if (buffer.size() >= (1u << 16)) {
            const auto size = static_cast<qint64>(buffer.size());
            written = file.write(buffer.data(), size) == size;
            buffer.clear();
        }
        return written && !stop.load();
    });
    const auto size = static_cast<qint64>(buffer.size());
    if (written) written = file.write(buffer.data(), size) == size;
    if (!why.empty())
        outcome.error = QString::fromStdString(why);
    else if (!written)
        outcome.error = file.errorString();
    else if (stop.load())
        outcome.error = QStringLiteral("stopped");
    else if (!file.commit())
        outcome.error = file.errorString();
    if (!outcome.error.isEmpty()) file.cancelWriting();
    return outcome;
}

} // namespace

ArchiveCsvExport::ArchiveCsvExport(QObject* parent) : QObject(parent) {
    pool_.setMaxThreadCount(1);
}

ArchiveCsvExport::~ArchiveCsvExport() {
    stop_ = true;
    pool_.waitForDone();
}

bool ArchiveCsvExport::Start(const QString& archivePath, TimeSpan span, const QString& path) {
    if (running_) return false;
    running_ = true;
    pool_.start([this, archivePath, span, path] {
        LowerThreadPriority();
        const Outcome outcome = Write(archivePath, span, path, stop_);
        QMetaObject::invokeMethod(
            this,
            [this, path, outcome] {
                running_ = false;
                emit Finished(path, outcome.rows, outcome.error);
            },
            Qt::QueuedConnection);
    });
    return true;
}

} // namespace tavrik
