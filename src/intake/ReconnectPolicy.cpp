#include "intake/ReconnectPolicy.h"

namespace tavrik {

std::int64_t ReconnectPolicy::Delay(int failed, std::int64_t downMs) {
    if (failed == 0) return kFirstDelayMs;
    return downMs < kFastPeriodMs ? kFastDelayMs : kSlowDelayMs;
}

std::int64_t ReconnectPolicy::Lost(std::int64_t nowMs) {
    if (waiting_) return nextAt_;
    waiting_ = true;
    downAt_ = nowMs;
    downAttempts_ = 0;
    const bool resume = everWaited_ && nowMs - upAt_ < kStableMs;
    everWaited_ = true;
    if (resume) return nextAt_ = nowMs + Delay(attempts_, nowMs - lostAt_);
    lostAt_ = loggedAt_ = nowMs;
    attempts_ = 0;
    nextAt_ = nowMs + Delay(0, 0);
    return nextAt_;
}

std::int64_t ReconnectPolicy::Failed(std::int64_t nowMs) {
    if (!waiting_) return Lost(nowMs);
    ++attempts_;
    ++downAttempts_;
    nextAt_ = nowMs + Delay(attempts_, nowMs - lostAt_);
    return nextAt_;
}

bool ReconnectPolicy::MayLog(std::int64_t nowMs) {
    if (!waiting_ || nowMs - loggedAt_ < kLogIntervalMs) return false;
    loggedAt_ = nowMs;
    return true;
}

std::int64_t ReconnectPolicy::Connected(std::int64_t nowMs) {
    const std::int64_t down = DownMs(nowMs);
    waiting_ = false;
    upAt_ = nowMs;
    ++attempts_; // the one that succeeded
    ++downAttempts_;
    return down;
}

} // namespace tavrik
