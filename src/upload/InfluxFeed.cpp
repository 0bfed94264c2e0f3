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
        points_.push_back(line);
        pointsBytes_ += line.size();
        return;
    }
    // The spool directly: a point that cannot be kept is said to be dropped,
    // not sent once, since nothing else would send it.
    switch (spool_->Append(line)) {
    case UploadSpool::AddResult::Added:
        break;
    case UploadSpool::AddResult::Full:
        Refuse("queue full (" + std::to_string(spool_->DiskBytes() >> 20) + " MiB on disk)");
        break;
    case UploadSpool::AddResult::Failed:
        Refuse("queue cannot be written: " + spool_->LastError());
    }
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
    if (lane_) {
        if (!lane_->StartNext()) return nullptr;
        batchPoints_ = spool_->PeekFront(most, limits_.bytes, batch_);
    } else {
        for (const std::string& point : points_) {
            if (batchPoints_ == most ||
                (batchPoints_ > 0 && batch_.size() + point.size() > limits_.bytes))
                break;
            batch_ += point;
            ++batchPoints_;
        }
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
        lane_->Finish(outcome);
        if (lane_->Count() == before) break; // not acknowledged: the lane pauses and sends it again
        ++(outcome == UploadOutcome::Delivered ? counts_.accepted : counts_.dropped);
        if (singles_ > 0) --singles_;
    }
}

void InfluxFeed::FinishInMemory(UploadOutcome outcome) {
    for (std::size_t i = 0; i < batchPoints_ && !points_.empty(); ++i) {
        pointsBytes_ -= points_.front().size();
        points_.pop_front();
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
