#include "upload/InfluxFeed.h"

#include "upload/UploadStatus.h"

namespace tavrik {

UploadOutcome JudgeInfluxAnswer(int httpStatus) {
    if (IsSuccessStatus(httpStatus)) return UploadOutcome::Delivered;
    if (httpStatus == 400 || httpStatus == 413 || httpStatus == 422)
        return UploadOutcome::Permanent;
    return UploadOutcome::Transient;
}

InfluxFeed::InfluxFeed(InfluxBatchLimits limits, MonotonicNow now, LaneLog log)
    : limits_(limits), now_(std::move(now)), log_(std::move(log)) {}

InfluxFeed::InfluxFeed(std::unique_ptr<UploadLane> lane, InfluxBatchLimits limits, MonotonicNow now,
                       LaneLog log)
    : limits_(limits), lane_(std::move(lane)), spool_(&lane_->Spool()), now_(std::move(now)),
      log_(std::move(log)) {}

void InfluxFeed::Add(const std::string& line) {
    if (!lane_) {
        if (pointsBytes_ + line.size() > limits_.memoryBytes)
            return Refuse("more than " + std::to_string(limits_.memoryBytes >> 20) +
                          " MiB waiting in memory");
        Remember(line);
        return;
    }
    // The spool directly: a point that cannot be kept is said to be dropped,
    // not sent once, since nothing else would send it.
    UploadSpool& spool = *spool_;
    switch (spool.Append(line)) {
    case UploadSpool::AddResult::Added:
        Remember(line);
        break;
    case UploadSpool::AddResult::Full:
        Refuse("queue full (" + std::to_string(spool.DiskBytes() >> 20) + " MiB on disk)");
        break;
    case UploadSpool::AddResult::Failed:
        Refuse("queue cannot be written: " + spool.LastError());
    }
}

void InfluxFeed::Remember(const std::string& line) {
    points_.push_back(line);
    pointsBytes_ += line.size();
    // On disk the copy is only a shortcut: the oldest may go, the spool has them.
    while (lane_ && pointsBytes_ > limits_.memoryBytes && !points_.empty())
        PopRemembered();
}

void InfluxFeed::PopRemembered() {
    pointsBytes_ -= points_.front().size();
    points_.pop_front();
}

// One line a minute at most, however fast the points come.
void InfluxFeed::Refuse(const std::string& why) {
    ++counts_.dropped;
    ++refused_;
    const Ms now = now_();
    if (lastRefusalLine_ && now - *lastRefusalLine_ < std::chrono::minutes(1)) return;
    lastRefusalLine_ = now;
    log_("InfluxDB " + why + ": " + std::to_string(refused_) + " new points dropped");
    refused_ = 0;
}

const std::string* InfluxFeed::StartNext() {
    if (inFlight_) return nullptr;
    const std::size_t most = singles_ > 0 ? 1 : limits_.points;
    batch_.clear();
    batchPoints_ = 0;
    std::size_t i = 0;
    if (lane_) {
        const std::string* front = lane_->StartNext();
        if (!front) return nullptr;
        // The front is the oldest remembered point when the spool holds no
        // older ones (left from an earlier run, or forgotten for room).
        if (points_.size() != lane_->Count() || points_.front() != *front) {
            batch_ = *front;
            batchPoints_ = 1;
            inFlight_ = true;
            return &batch_;
        }
    }
    for (; i < points_.size() && batchPoints_ < most; ++i) {
        if (batchPoints_ > 0 && batch_.size() + points_[i].size() > limits_.bytes) break;
        batch_ += points_[i];
        ++batchPoints_;
    }
    if (batchPoints_ == 0) return nullptr;
    inFlight_ = true;
    return &batch_;
}

void InfluxFeed::Finish(UploadOutcome outcome) {
    if (!inFlight_) return;
    inFlight_ = false;
    if (outcome != UploadOutcome::Delivered) ++counts_.failed;
    // A batch refused as a whole may hold one bad point: its points go again
    // one by one, so that only the bad one is dropped.
    if (outcome == UploadOutcome::Permanent && batchPoints_ > 1) {
        singles_ = batchPoints_;
        if (lane_) lane_->Finish(UploadOutcome::Transient);
        return;
    }
    if (lane_)
        FinishOnDisk(outcome);
    else
        FinishInMemory(outcome);
}

void InfluxFeed::FinishOnDisk(UploadOutcome outcome) {
    if (outcome == UploadOutcome::Transient) return lane_->Finish(outcome);
    for (std::size_t i = 0; i < batchPoints_; ++i) {
        if (i > 0 && !lane_->StartNext()) break;
        const std::uint64_t before = lane_->Count();
        const bool remembered = points_.size() == before;
        lane_->Finish(outcome);
        if (lane_->Count() == before) break; // not acknowledged: the lane pauses and sends it again
        if (remembered) PopRemembered();
        ++(outcome == UploadOutcome::Delivered ? counts_.accepted : counts_.dropped);
        if (singles_ > 0) --singles_;
    }
}

void InfluxFeed::FinishInMemory(UploadOutcome outcome) {
    for (std::size_t i = 0; i < batchPoints_ && !points_.empty(); ++i) {
        PopRemembered();
        ++(outcome == UploadOutcome::Delivered ? counts_.accepted : counts_.dropped);
        if (singles_ > 0) --singles_;
    }
}

InfluxCounts InfluxFeed::Counts() const {
    InfluxCounts c = counts_;
    if (lane_) {
        c.queued = lane_->Count();
        c.queuedBytes = spool_->DiskBytes();
    } else {
        c.queued = points_.size();
        c.queuedBytes = pointsBytes_;
    }
    return c;
}

} // namespace tavrik
