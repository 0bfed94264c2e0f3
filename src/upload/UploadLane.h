#pragma once
// Uploads that must reach their server: one lane per server, served in order,
// one request at a time, the same entry again after a transient failure.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "upload/UploadSpool.h"

namespace tavrik {

enum class UploadOutcome {
    Delivered, // 2xx
    Transient, // worth another try: the same entry again after a pause
    Permanent, // another try would get the same answer: logged and dropped
};

// 2xx delivered; 408, 429 and 5xx transient; any other answer permanent.
UploadOutcome JudgeAnswer(int httpStatus);

// Pauses between tries: first, then doubled each time, never beyond longest.
class RetryBackoff {
  public:
    using Ms = std::chrono::milliseconds;
    explicit RetryBackoff(Ms first = std::chrono::seconds(5), Ms longest = std::chrono::minutes(10))
        : first_(first), longest_(longest) {}
    Ms Next();
    void Reset() { tries_ = 0; }

  private:
    Ms first_;
    Ms longest_;
    int tries_ = 0;
};

// A steady time source (never set back), so that pauses are testable.
using MonotonicNow = std::function<std::chrono::milliseconds()>;
using LaneLog = std::function<void(const std::string&)>;

class UploadLane {
  public:
    using Ms = std::chrono::milliseconds;

    UploadLane(std::string server, std::unique_ptr<UploadSpool> spool, MonotonicNow now,
               LaneLog log);

    const std::string& Server() const { return server_; }
    std::uint64_t Count() const { return spool_->Count(); }
    UploadSpool& Spool() { return *spool_; }
    void SetBackoff(RetryBackoff backoff) { backoff_ = backoff; }

    // Entries found on disk at start-up are announced and then sent first.
    void AnnounceLeftovers();
    // Added, or why the entry could not be kept (queue full, disk failure).
    UploadSpool::AddResult Enqueue(std::string_view body);
    // The body to send now; nullptr when empty, a request is out, or a pause runs.
    const std::string* StartNext();
    void Finish(UploadOutcome outcome);
    bool InFlight() const { return inFlight_; }
    // How long the pause after a transient failure still runs; zero when none.
    Ms RetryIn() const;
    // Flushes the queue to the disk itself; what went wrong is logged.
    void Flush();

  private:
    void LogRefusal(const std::string& why, const char* fate);
    void LogSpoolNews();

    std::string server_;
    std::unique_ptr<UploadSpool> spool_;
    MonotonicNow now_;
    LaneLog log_;
    RetryBackoff backoff_;
    bool inFlight_ = false;
    Ms retryAt_{0};
    bool growing_ = false; // since a failure or left from an earlier run
    std::uint64_t sentSinceGrowth_ = 0;
    std::uint64_t droppedSinceGrowth_ = 0;
    Ms lastGrowthLine_{0};
    std::uint64_t refused_ = 0; // since the last refusal line
    std::optional<Ms> lastRefusalLine_;
    bool ackTrouble_ = false; // acknowledgements kept in memory, said so
    std::optional<Ms> lastAckLine_;
    std::uint64_t ackLinesHeld_ = 0;
};

} // namespace tavrik
