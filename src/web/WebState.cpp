#include "web/WebState.h"

#include <algorithm>

namespace tavrik {

namespace {
constexpr std::int64_t kDayMs = 86'400'000;
}

std::int64_t UtcDay(std::int64_t ms) {
    return ms >= 0 ? ms / kDayMs : -((-ms + kDayMs - 1) / kDayMs);
}

void WebState::SetModem(bool connected, std::int64_t nowMs) {
    if (connected == modem_.connected && modem_.sinceMs != 0) return;
    modem_.connected = connected;
    modem_.sinceMs = nowMs;
    ++version_;
}

void WebState::SetModemEndpoint(const std::string& endpoint) {
    modem_.endpoint = redactor_.Clean(endpoint);
    ++version_;
}

void WebState::SetReconnectAttempts(std::uint64_t attempts) {
    if (attempts == modem_.reconnectAttempts) return;
    modem_.reconnectAttempts = attempts;
    ++version_;
}

void WebState::FrameHeard(std::int64_t receivedMs) {
    ++framesRun_;
    const std::int64_t day = UtcDay(receivedMs);
    if (day != frameDay_) {
        frameDay_ = day;
        framesDay_ = 0;
    }
    ++framesDay_;
    lastFrameMs_ = receivedMs;
    ++version_;
}

std::uint64_t WebState::FramesToday(std::int64_t nowMs) const {
    return UtcDay(nowMs) == frameDay_ ? framesDay_ : 0;
}

void WebState::SetKissWriteFailures(std::uint64_t failures) {
    if (failures == kissWriteFailures_) return;
    kissWriteFailures_ = failures;
    ++version_;
}

void WebState::AddRecord(RecordView record) {
    record.source = redactor_.Clean(record.source);
    if (records_.size() == kRecords) records_.pop_front();
    // Imported frames never raise alarms: only a live record sets them.
    if (!record.imported) {
        alarms_ = {};
        for (const FieldLimitView& l : record.limits)
            if (l.level >= 2 && l.level < 2 + kAlarmLevels) ++alarms_[l.level - 2];
    }
    records_.push_back(std::move(record));
    ++decoded_;
    ++version_;
    ++recordVersion_;
}

void WebState::SetAlarms(const std::array<std::uint64_t, kAlarmLevels>& active) {
    alarms_ = active;
    ++version_;
}

void WebState::SetInflux(std::optional<InfluxView> influx) {
    if (influx) {
        influx->url = redactor_.Clean(influx->url);
        influx->lastError = redactor_.Clean(influx->lastError);
    }
    if (influx == influx_) return;
    influx_ = std::move(influx);
    ++version_;
}

void WebState::SetArchiveRows(std::optional<std::uint64_t> rows) {
    archiveRows_ = rows;
    ++version_;
}

UploadServerView& WebState::Upload(const std::string& server) {
    const std::string shown = redactor_.Clean(server);
    auto it = std::find_if(uploads_.begin(), uploads_.end(),
                           [&](const UploadServerView& u) { return u.server == shown; });
    ++version_;
    if (it != uploads_.end()) return *it;
    uploads_.push_back({});
    uploads_.back().server = shown;
    return uploads_.back();
}

void WebState::UploadAccepted(const std::string& server, std::int64_t nowMs) {
    UploadServerView& u = Upload(server);
    ++u.accepted;
    u.lastSuccessMs = nowMs;
}

void WebState::UploadFailed(const std::string& server, const std::string& why, std::int64_t nowMs) {
    UploadServerView& u = Upload(server);
    ++u.failed;
    u.lastErrorMs = nowMs;
    u.lastError = redactor_.Clean(why);
}

void WebState::SetQueue(const std::string& server, std::uint64_t entries, std::uint64_t bytes) {
    UploadServerView& u = Upload(server);
    u.queueEntries = entries;
    u.queueBytes = bytes;
}

void WebState::AddLogLine(const std::string& line) {
    if (log_.size() == kLogLines) log_.pop_back();
    log_.push_front(redactor_.Clean(line));
    ++version_;
}

} // namespace tavrik
