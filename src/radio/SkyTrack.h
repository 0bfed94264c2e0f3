#pragma once
// What the rig and rotator trackers ask of the sky: where the satellite is at
// a moment, and the pass in progress or the next one. Behind an interface so
// that the trackers can be driven by a made-up track as well as by the orbit.
#include <cstdint>
#include <memory>
#include <optional>

#include "sky/SkyPredictor.h"

namespace tavrik {

class SkyTrack {
  public:
    virtual ~SkyTrack() = default;
    virtual std::optional<SkyPoint> At(std::int64_t timeMs) const = 0;
    // The pass in progress at timeMs, else the next one to begin; none when
    // none begins within the look-ahead.
    virtual std::optional<Pass> PassFrom(std::int64_t timeMs) = 0;
};

// Over the station's predictor. The pass search costs milliseconds, so its
// answer is kept until that pass's LOS (no other pass can come before it), and
// an empty answer for a few minutes.
class PredictorTrack final : public SkyTrack {
  public:
    static constexpr std::int64_t kLookAheadMs = 24LL * 3600 * 1000;
    static constexpr std::int64_t kEmptyRecheckMs = 10LL * 60 * 1000;

    explicit PredictorTrack(std::shared_ptr<const SkyPredictor> predictor)
        : predictor_(std::move(predictor)) {}
    std::optional<SkyPoint> At(std::int64_t timeMs) const override;
    std::optional<Pass> PassFrom(std::int64_t timeMs) override;

  private:
    std::shared_ptr<const SkyPredictor> predictor_;
    std::optional<Pass> next_;
    bool searched_ = false;
    std::int64_t searchedAt_ = 0;
};

} // namespace tavrik
