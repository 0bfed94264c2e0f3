#include "archive/qt/ArchiveService.h"

#include <QDir>
#include <QMetaObject>
#include <QPointer>

#include "archive/ArchiveSchema.h"
#include "time/TimeArgument.h"

namespace tavrik {

namespace {
QString Text(const std::string& s) {
    return QString::fromStdString(s);
}
constexpr std::int64_t kProgressLineMs = 10 * 1000;
} // namespace

ArchiveService::ArchiveService(const Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock) {}

ArchiveService::~ArchiveService() {
    Stop();
}

QString ArchiveService::Start(const QString& folder) {
    path_ = QDir(folder).filePath(
        QString::fromUtf8(kArchiveFileName.data(), static_cast<int>(kArchiveFileName.size())));
    writer_ = std::make_unique<ArchiveWriter>();
    QPointer<ArchiveService> self(this);
    // Called on the writer's thread: only a queued call crosses over.
    writer_->SetNotify([self] {
        if (self)
            QMetaObject::invokeMethod(
                self,
                [self] {
                    if (self) self->TakeNews();
                },
                Qt::QueuedConnection);
    });
    const std::string why = writer_->Start(path_.toStdString());
    if (!why.empty()) {
        writer_.reset();
        return QStringLiteral("archive not used: %1").arg(Text(why));
    }
    const QString where = QDir::toNativeSeparators(path_);
    if (const int from = writer_->MigratedFrom(); from > 0)
        return QStringLiteral("archive: %1 (brought up from version %2 to %3 in place)")
            .arg(where)
            .arg(from)
            .arg(kArchiveSchemaVersion);
    return QStringLiteral("archive: %1").arg(where);
}

bool ArchiveService::Post(ArchiveFrame frame) {
    if (!writer_) return false;
    const bool posted = writer_->Post(std::move(frame));
    if (!posted) TakeNews(); // a full queue says so at once
    return posted;
}

void ArchiveService::StartCatchUp(const QString& folder) {
    if (!writer_) return;
    writer_->CatchUp(KissLogsIn(folder.toStdString()));
}

void ArchiveService::Stop() {
    if (writer_) writer_->Stop();
    writer_.reset();
}

void ArchiveService::TakeNews() {
    if (!writer_) return;
    const std::int64_t now = UnixMillisecondsNow(clock_);
    bool written = false;
    for (const ArchiveNews& n : writer_->TakeNews()) {
        switch (n.kind) {
        case ArchiveNews::Kind::Error:
            if (const auto line = errors_.Pass(now, n.text)) emit LogLine(Text(*line));
            break;
        case ArchiveNews::Kind::CatchUpProgress:
            emit CatchUpProgress(n.done, n.total);
            written = true;
            if (!n.text.empty()) {
                lastProgressMs_ = now;
                emit LogLine(Text(n.text));
            } else if (now - lastProgressMs_ >= kProgressLineMs && n.total > 0) {
                lastProgressMs_ = now;
                emit LogLine(
                    QStringLiteral("archive catch-up: %1 %")
                        .arg(100.0 * static_cast<double>(n.done) / static_cast<double>(n.total), 0,
                             'f', 0));
            }
            break;
        case ArchiveNews::Kind::CatchUpDone:
            emit CatchUpProgress(n.total, n.total);
            emit CatchUpFinished(Text(n.text));
            emit LogLine(Text(n.text));
            written = true;
            break;
        }
    }
    if (written) emit Written();
}

} // namespace tavrik
