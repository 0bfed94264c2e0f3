#include "station/qt/StationArchive.h"

#include "archive/ArchiveWriter.h"

namespace tavrik {

StationArchive::StationArchive(const Clock& clock, LogLine log, QObject* parent)
    : QObject(parent), service_(clock), log_(std::move(log)) {
    connect(&service_, &ArchiveService::LogLine, this, [this](const QString& line) { log_(line); });
}

StationArchive::~StationArchive() {
    consumer_.reset();
    service_.Stop();
}

void StationArchive::Start(const StationConfig& config, const QString& folder) {
    if (!config.archive || service_.Running()) return;
    log_(service_.Start(folder));
    if (!service_.Running()) return;
    consumer_ = std::make_unique<ArchiveConsumer>(*service_.Writer());
    if (judge_) service_.Writer()->SetJudge(judge_);
    service_.StartCatchUp(folder);
}

void StationArchive::SetLimits(const LimitsTable& table) {
    judge_ = [table](const std::array<double, kFieldCount>& values) {
        return ClassifyAll(table, values).Levels();
    };
    if (ArchiveWriter* writer = service_.Writer()) writer->SetJudge(judge_);
}

void StationArchive::TelemetryDecoded(const DecodedFrame& frame) {
    if (consumer_) consumer_->TelemetryDecoded(frame);
}

} // namespace tavrik
