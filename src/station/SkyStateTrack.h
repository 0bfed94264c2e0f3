#pragma once
// The station's sky as the rig and rotator follow it: read afresh at every
// call, so a TLE read again (a new predictor) is followed at once, and no sky
// yet (no good sets) leaves them resting between passes.
#include "radio/SkyTrack.h"
#include "station/SkyState.h"

namespace tavrik {

class SkyStateTrack final : public SkyTrack {
  public:
    explicit SkyStateTrack(SkyState& sky) : sky_(sky) {}
    std::optional<SkyPoint> At(std::int64_t timeMs) const override { return sky_.At(timeMs); }
    std::optional<Pass> PassFrom(std::int64_t timeMs) override {
        if (!sky_.Ready()) return std::nullopt;
        // The first pass whose LOS is still to come: the one in progress, else the next.
        const std::vector<Pass> next = sky_.NextPasses(timeMs, 1);
        return next.empty() ? std::nullopt : std::optional<Pass>(next.front());
    }

  private:
    SkyState& sky_;
};

} // namespace tavrik
