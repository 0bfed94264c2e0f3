#pragma once
// The points for InfluxDB: a lane of their own beside the telemetry servers,
// in order, one request at a time. Points that pile up while a request is out
// (or while the server is down) go together in the next request, up to a bound.
// With an UploadLane they are kept on disk and retried like any upload; without
// one they wait in memory and each is tried once.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "upload/UploadLane.h"

namespace tavrik {

struct InfluxBatchLimits {
    std::size_t points = 1000;          // per request
    std::size_t bytes = 1u << 20;       // per request (one point always goes)
    std::size_t memoryBytes = 8u << 20; // points waiting in memory (without the disk queue)
};

// What the lane has done, as values for the page and the metrics.
struct InfluxCounts {
    std::uint64_t accepted = 0; // points the server took
    std::uint64_t failed = 0;   // requests that failed: no answer, or not 2xx
    std::uint64_t dropped = 0;  // points given up: refused for good, tried once, no room
    std::uint64_t queued = 0;   // points waiting, those in flight included
    std::uint64_t queuedBytes = 0;
};

// 2xx delivered; 400, 413 and 422 (the points themselves are refused)
// permanent; anything else, a missing database or a wrong token included,
// transient: the points are sound and go once the server is put right.
UploadOutcome JudgeInfluxAnswer(int httpStatus);

class InfluxFeed {
  public:
    using Ms = std::chrono::milliseconds;

    // Points kept in memory and tried once.
    InfluxFeed(InfluxBatchLimits limits, MonotonicNow now, LaneLog log);
    // Points kept on disk in the lane's spool and retried with its back-off.
    InfluxFeed(std::unique_ptr<UploadLane> lane, InfluxBatchLimits limits, MonotonicNow now,
               LaneLog log);

    // One point with its newline.
    void Add(const std::string& line);
    // The next request's body; nullptr when nothing waits, a request is out or
    // a pause runs.
    const std::string* StartNext();
    void Finish(UploadOutcome outcome);
    bool InFlight() const { return inFlight_; }
    std::size_t InFlightPoints() const { return inFlight_ ? batchPoints_ : 0; }
    Ms RetryIn() const { return lane_ ? lane_->RetryIn() : Ms{0}; }
    InfluxCounts Counts() const;
    UploadLane* Lane() { return lane_.get(); }

  private:
    void Refuse(const std::string& why);
    void FinishOnDisk(UploadOutcome outcome);
    void FinishInMemory(UploadOutcome outcome);

    InfluxBatchLimits limits_;
    std::unique_ptr<UploadLane> lane_;
    UploadSpool* spool_ = nullptr; // the lane's
    MonotonicNow now_;
    LaneLog log_;
    std::deque<std::string> points_; // in memory: the waiting points
    std::size_t pointsBytes_ = 0;
    std::string batch_;
    std::size_t batchPoints_ = 0;
    bool inFlight_ = false;
    std::size_t singles_ = 0; // after a refused batch: its points one at a time
    InfluxCounts counts_;
    std::uint64_t refused_ = 0; // since the last line about it
    std::optional<Ms> lastRefusalLine_;
};

} // namespace tavrik
