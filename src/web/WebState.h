#pragma once
// What the web page, the JSON API and /metrics show: a plain model that the
// wiring fills with values as the station works. Everything in it is bounded
// (the newest 200 event-log lines, the newest 10000 records), so a station
// that runs for weeks holds no more here on its last day than on its first.
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "sky/FrameSky.h"
#include "telemetry/FrameLayout.h"
#include "web/WebSecrets.h"

namespace tavrik {

// One field's standing against the limits; level follows the limits' order
// (0 unchecked, 1 in range, 2 yellow, 3 red) and word is their word for it.
struct FieldLimitView {
    int level = 0;
    std::string word;
};

struct RecordView {
    std::int64_t timeMs = 0; // the record's timestamp, ms since 1970 UTC
    std::string timestamp;   // as the window shows it
    std::string source;      // the source call sign
    std::int32_t number = 0; // RxPacketCount after it
    bool imported = false;
    std::array<double, kFieldCount> values{};
    std::array<FieldLimitView, kFieldCount> limits{};
    std::optional<FrameSky> sky; // where the satellite stood when it was heard
};

struct ModemView {
    bool connected = false;
    std::int64_t sinceMs = 0; // when it last went up or down (0: not yet)
    std::uint64_t reconnectAttempts = 0;
    std::string endpoint; // PORT as configured
};

// One upload server as the page shows it; the URL is shown without user
// information or query string.
struct UploadServerView {
    std::string server;
    std::uint64_t accepted = 0;
    std::uint64_t failed = 0;
    std::uint64_t queueEntries = 0;
    std::uint64_t queueBytes = 0;
    std::int64_t lastSuccessMs = 0;
    std::int64_t lastErrorMs = 0;
    std::string lastError;
};

// The alarm levels that are counted: yellow and red.
inline constexpr int kAlarmLevels = 2;

class WebState {
  public:
    static constexpr std::size_t kLogLines = 200;
    static constexpr std::size_t kRecords = 10000;

    // The secrets that never leave the program (tokens, URLs with user information).
    void SetSecrets(Redactor redactor) { redactor_ = std::move(redactor); }
    const Redactor& Secrets() const { return redactor_; }

    // ---- the station, as the wiring learns it
    void SetStarted(std::int64_t ms) { startedMs_ = ms; }
    void SetModem(bool connected, std::int64_t nowMs);
    void SetModemEndpoint(const std::string& endpoint);
    void SetReconnectAttempts(std::uint64_t attempts);
    // A live frame heard at receivedMs; counts it for this run and for its UTC day.
    void FrameHeard(std::int64_t receivedMs);
    void SetKissWriteFailures(std::uint64_t failures);
    void AddRecord(RecordView record);
    void SetAlarms(const std::array<std::uint64_t, kAlarmLevels>& active);
    void SetArchiveRows(std::optional<std::uint64_t> rows);
    // The server's entry, made on first use; the name is stored redacted.
    UploadServerView& Upload(const std::string& server);
    void UploadAccepted(const std::string& server, std::int64_t nowMs);
    void UploadFailed(const std::string& server, const std::string& why, std::int64_t nowMs);
    void SetQueue(const std::string& server, std::uint64_t entries, std::uint64_t bytes);
    // An event-log line, secrets removed before it is kept.
    void AddLogLine(const std::string& line);

    // ---- read by the renderers
    std::int64_t StartedMs() const { return startedMs_; }
    const ModemView& Modem() const { return modem_; }
    std::uint64_t FramesThisRun() const { return framesRun_; }
    // Frames heard on the UTC day of nowMs.
    std::uint64_t FramesToday(std::int64_t nowMs) const;
    std::uint64_t TelemetryDecoded() const { return decoded_; }
    std::int64_t LastFrameMs() const { return lastFrameMs_; }
    std::uint64_t KissWriteFailures() const { return kissWriteFailures_; }
    const std::deque<RecordView>& Records() const { return records_; }
    const RecordView* Newest() const { return records_.empty() ? nullptr : &records_.back(); }
    const std::array<std::uint64_t, kAlarmLevels>& Alarms() const { return alarms_; }
    std::optional<std::uint64_t> ArchiveRows() const { return archiveRows_; }
    const std::vector<UploadServerView>& Uploads() const { return uploads_; }
    const std::deque<std::string>& LogLines() const { return log_; } // newest first

    // Raised by every change; answers cached by it stay valid while it stands.
    std::uint64_t Version() const { return version_; }
    // Raised only when a record is added: /api/current changes with it alone.
    std::uint64_t RecordVersion() const { return recordVersion_; }

  private:
    Redactor redactor_;
    ModemView modem_;
    std::int64_t startedMs_ = 0;
    std::uint64_t framesRun_ = 0;
    std::uint64_t framesDay_ = 0;
    std::int64_t frameDay_ = -1; // the UTC day framesDay_ counts
    std::uint64_t decoded_ = 0;
    std::int64_t lastFrameMs_ = 0;
    std::uint64_t kissWriteFailures_ = 0;
    std::deque<RecordView> records_;
    std::array<std::uint64_t, kAlarmLevels> alarms_{};
    std::optional<std::uint64_t> archiveRows_;
    std::vector<UploadServerView> uploads_;
    std::deque<std::string> log_;
    std::uint64_t version_ = 0;
    std::uint64_t recordVersion_ = 0;
};

// Days since 1970-01-01 of a time in ms (floor, so times before 1970 work too).
std::int64_t UtcDay(std::int64_t ms);

} // namespace tavrik
