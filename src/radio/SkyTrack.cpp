#include "radio/SkyTrack.h"

namespace tavrik {

std::optional<SkyPoint> PredictorTrack::At(std::int64_t timeMs) const {
    return predictor_ ? predictor_->At(timeMs) : std::nullopt;
}

std::optional<Pass> PredictorTrack::PassFrom(std::int64_t timeMs) {
    if (!predictor_) return std::nullopt;
    // A clock that went back is searched afresh.
    if (searched_ && timeMs >= searchedAt_) {
        if (next_ && timeMs <= next_->losMs) return next_;
        if (!next_ && timeMs - searchedAt_ < kEmptyRecheckMs) return std::nullopt;
    }
    searched_ = true;
    searchedAt_ = timeMs;
    const std::vector<Pass> passes = predictor_->Passes(timeMs, timeMs + kLookAheadMs);
    next_ = passes.empty() ? std::nullopt : std::optional<Pass>(passes.front());
    return next_;
}

} // namespace tavrik
