#include "station/qt/KissImport.h"

#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "files/KissFileReader.h"
#include "files/TelemetryExport.h"
#include "station/FramePipeline.h"
#include "support/qt/QtText.h"
#include "time/SliceBudget.h"

namespace tavrik {

KissImport::KissImport(FramePipeline& pipeline, QObject* parent)
    : QObject(parent), pipeline_(pipeline), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &KissImport::Slice);
}

KissImport::~KissImport() = default;

void KissImport::Start(const QStringList& paths) {
    if (running_ || paths.isEmpty()) return;
    running_ = true;
    files_ = paths;
    next_ = 0;
    StartNextFile();
}

void KissImport::Stop() {
    if (!running_) return;
    timer_->stop();
    reader_.reset();
    running_ = false;
    emit finished();
}

void KissImport::StartNextFile() {
    while (next_ < files_.size()) {
        path_ = files_[next_++];
        pathBytes_ = PathBytes(path_);
        hasReceived_ = false;
        emit logLine(QStringLiteral("processing ") + path_);
        reader_ = std::make_unique<KissFileReader>();
        readingDone_ = false;
        fresh_ = true;
        endSkip_.reset();
        const std::string why = reader_->Open(pathBytes_);
        if (why.empty()) {
            timer_->start(); // the event loop runs once before the file is read
            return;
        }
        emit logLine(QStringLiteral("import of ") + path_ + QStringLiteral(" skipped: ") +
                     Utf8Text(why));
    }
    Stop();
}

void KissImport::Skipped(const KissSkip& skip) {
    hasReceived_ = false; // the timestamp before a record left out stamps nothing
    if (skip.kind != KissSkip::Kind::TooLong) {
        endSkip_ = skip; // told when the file is finished
        return;
    }
    emit logLine(QStringLiteral("import of %1: frame of %2 bytes at byte %3 skipped (longer "
                                "than %4 bytes)")
                     .arg(path_)
                     .arg(skip.length)
                     .arg(skip.offset)
                     .arg(kMaxImportFrame));
}

void KissImport::ProcessRecord(const KissRecord& record) {
    if (record.kind == KissRecord::Kind::Timestamp) {
        received_.assign(ReceptionTime(record.bytes)); // keeps its capacity
        hasReceived_ = true;
        return;
    }
    // A timestamp record stamps the frame right after it, and no other.
    const std::string_view received = hasReceived_ ? std::string_view(received_) : "";
    hasReceived_ = false;
    const bool telemetry =
        pipeline_.ProcessImportedFrame(record.bytes, received, pathBytes_, record.offset);
    listing_ += pipeline_.TelemetryFrame();
    listing_ += "\r\n";
    if (telemetry) emit status(QStringLiteral("telemetry packet"));
}

void KissImport::Slice() {
    if (!running_) return;
    // Work for a few milliseconds, then let the loop run.
    const SliceBudget budget;
    const SliceBudget early(SliceBudget::kSlice / 4);
    if (std::exchange(fresh_, false)) {
        // A frame's text takes at most three characters per file byte. Room for
        // the whole file is made once, instead of the listing being copied at
        // every doubling (tens of milliseconds each past 20 MB) while the loop waits.
        const std::size_t want =
            listing_.size() + static_cast<std::size_t>(std::min<std::uint64_t>(
                                  3 * reader_->Size(), std::uint64_t{256} << 20));
        if (listing_.capacity() < want) listing_.reserve(want);
    }
    const KissFileReader::SkipReport skipped = [this](const KissSkip& skip) { Skipped(skip); };
    while (!budget.Spent()) {
        if (!readingDone_) {
            if (const KissRecord* record = reader_->Next(skipped)) {
                ProcessRecord(*record);
                continue;
            }
            readingDone_ = true;
        }
        // The chart and panel of the end get a slice of their own.
        if (early.Spent()) break;
        FinishFile();
        return;
    }
    if (reader_->Size() > 0) {
        const int percent = static_cast<int>(100.0 * static_cast<double>(reader_->Position()) /
                                             static_cast<double>(reader_->Size()));
        emit status(QFileInfo(path_).fileName() + QStringLiteral(": ") +
                    QString::number(std::min(percent, 100)) + QStringLiteral(" %"));
    }
    timer_->start();
}

void KissImport::FinishFile() {
    if (endSkip_ && endSkip_->kind == KissSkip::Kind::ReadError)
        emit logLine(QStringLiteral("import of ") + path_ + QStringLiteral(": ") +
                     Utf8Text(endSkip_->error) + QStringLiteral(", rest of the file skipped"));
    else if (endSkip_)
        emit logLine(QStringLiteral("import of ") + path_ +
                     QStringLiteral(": the file ends inside a frame, which was dropped"));
    reader_.reset();
    emit fileFinished();
    StartNextFile();
}

} // namespace tavrik
