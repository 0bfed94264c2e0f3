#include "upload/UploadLane.h"

#include <algorithm>

#include "time/Duration.h"
#include "upload/UploadStatus.h"

namespace tavrik {

UploadOutcome JudgeAnswer(int httpStatus) {
    if (IsSuccessStatus(httpStatus)) return UploadOutcome::Delivered;
    if (httpStatus == 408 || httpStatus == 429 || (httpStatus >= 500 && httpStatus <= 599))
        return UploadOutcome::Transient;
    return UploadOutcome::Permanent;
}

RetryBackoff::Ms RetryBackoff::Next() {
    Ms pause = first_;
    for (int i = 0; i < tries_ && pause < longest_; ++i)
        pause *= 2;
    ++tries_;
    return std::min(pause, longest_);
}

UploadLane::UploadLane(std::string server, std::unique_ptr<UploadSpool> spool, MonotonicNow now,
                       LaneLog log)
    : server_(std::move(server)), spool_(std::move(spool)), now_(std::move(now)),
      log_(std::move(log)) {}

void UploadLane::AnnounceLeftovers() {
    if (Count() == 0) return;
    growing_ = true;
    sentSinceGrowth_ = droppedSinceGrowth_ = 0;
    log_("Upload queue for " + server_ + ": " + std::to_string(Count()) +
         " uploads kept from an earlier run");
}

UploadSpool::AddResult UploadLane::Enqueue(std::string_view body) {
    const UploadSpool::AddResult result = spool_->Append(body);
    if (result == UploadSpool::AddResult::Full)
        LogRefusal("full (" + std::to_string(spool_->DiskBytes() >> 20) + " MiB on disk)",
                   "refused");
    else if (result == UploadSpool::AddResult::Failed)
        LogRefusal("cannot be written: " + spool_->LastError(), "sent once, without retry");
    return result;
}

// One line a minute at most, however fast the uploads come.
void UploadLane::LogRefusal(const std::string& why, const char* fate) {
    ++refused_;
    const Ms now = now_();
    if (lastRefusalLine_ && now - *lastRefusalLine_ < std::chrono::minutes(1)) return;
    lastRefusalLine_ = now;
    log_("Upload queue for " + server_ + " " + why + ": " + std::to_string(refused_) +
         " new uploads " + fate);
    refused_ = 0;
}

const std::string* UploadLane::StartNext() {
    if (inFlight_ || RetryIn().count() > 0) return nullptr;
    const std::string* body = spool_->Front();
    if (body) inFlight_ = true;
    return body;
}

void UploadLane::Finish(UploadOutcome outcome) {
    if (!inFlight_) return;
    inFlight_ = false;
    if (outcome == UploadOutcome::Transient || !spool_->PopFront()) {
        const Ms pause = backoff_.Next();
        retryAt_ = now_() + pause;
        const Ms now = now_();
        if (!growing_) {
            growing_ = true;
            sentSinceGrowth_ = droppedSinceGrowth_ = 0;
            lastGrowthLine_ = now;
            log_("Upload queue for " + server_ + " growing: " + std::to_string(Count()) +
                 " waiting, next try in " + DurationText(pause.count(), DurationStyle::SecondsUp));
        } else if (now - lastGrowthLine_ >= std::chrono::minutes(1)) {
            lastGrowthLine_ = now; // how far behind, once a minute at most
            log_("Upload queue for " + server_ + ": " + std::to_string(Count()) +
                 " waiting, next try in " + DurationText(pause.count(), DurationStyle::SecondsUp));
        }
        return;
    }
    backoff_.Reset();
    retryAt_ = Ms{0};
    if (!growing_) return;
    ++(outcome == UploadOutcome::Permanent ? droppedSinceGrowth_ : sentSinceGrowth_);
    if (Count() > 0) return;
    growing_ = false;
    std::string line = "Upload queue for " + server_ +
                       " drained: " + std::to_string(sentSinceGrowth_) + " queued uploads sent";
    // Uploads the server refused for good are not counted as sent.
    if (droppedSinceGrowth_ > 0)
        line += ", " + std::to_string(droppedSinceGrowth_) + " refused by the server and dropped";
    log_(line);
}

UploadLane::Ms UploadLane::RetryIn() const {
    if (retryAt_.count() == 0) return Ms{0};
    return std::max(Ms{0}, retryAt_ - now_());
}

} // namespace tavrik
