#include "files/qt/TelemetryCsvExport.h"

#include <algorithm>

#include "telemetry/FrameText.h"
#include "time/SliceBudget.h"

namespace tavrik {

namespace {

// Stored records come only from frames that carry the satellite's header, so
// their source is the header's.
std::string HeaderSource() {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < kTelemetryHeaderText.size(); i += 3)
        bytes += static_cast<char>(
            std::stoi(std::string(kTelemetryHeaderText.substr(i, 2)), nullptr, 16));
    return SourceCallSign({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

} // namespace

TelemetryCsvExport::TelemetryCsvExport(const TelemetryHistory& history, QObject* parent)
    : QObject(parent), history_(history),
      writer_(ExportFormat::Csv, ExportColumns{.record = true, .frame = false}),
      source_(HeaderSource()) {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &TelemetryCsvExport::Slice);
}

bool TelemetryCsvExport::Start(const QString& path) {
    if (Running()) return false;
    file_ = std::make_unique<QSaveFile>(path);
    next_ = history_.FirstStored();
    last_ = next_ + history_.StoredCount() - 1;
    written_ = 0;
    buffer_.clear();
    writer_.AppendHeader(buffer_);
    // The result is always delivered from the event loop, after Start returns.
    if (!file_->open(QIODevice::WriteOnly))
        QTimer::singleShot(0, this, [this] { End(file_->errorString()); });
    else
        timer_.start();
    return true;
}

void TelemetryCsvExport::Slice() {
    const SliceBudget budget;
    // A rolling history may have let the oldest records go between slices.
    next_ = std::max(next_, history_.FirstStored());
    while (next_ <= last_ && !budget.Spent()) {
        for (int i = 0; i < 64 && next_ <= last_; ++i, ++next_, ++written_) {
            const TelemetryRecord& r = history_.Record(next_);
            writer_.AppendRow({.record = next_,
                               .receptionTime = r.timestamp,
                               .file = {},
                               .source = source_,
                               .values = &r.values,
                               .frame = {}},
                              buffer_);
        }
    }
    const auto size = static_cast<qint64>(buffer_.size());
    if (file_->write(buffer_.data(), size) != size) return End(file_->errorString());
    buffer_.clear();
    if (next_ <= last_) return timer_.start();
    if (!file_->commit()) return End(file_->errorString());
    End({});
}

void TelemetryCsvExport::End(const QString& error) {
    const QString path = file_->fileName();
    if (!error.isEmpty()) file_->cancelWriting();
    file_.reset();
    emit Finished(path, written_, error);
}

} // namespace tavrik
