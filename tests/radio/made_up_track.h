#pragma once
// A pass whose every value is known: AOS at kAos, LOS at kLos, the azimuth
// sweeping from 350° over north to 80°, the range rate from -6 to +6 km/s.
#include <cmath>
#include <numbers>

#include "radio/SkyTrack.h"

namespace tavrik::test {

class MadeUpTrack final : public SkyTrack {
  public:
    std::int64_t aos = 1'000'000, los = 1'600'000;
    double fromAz = 350, sweep = 90, maxEl = 70;
    std::optional<SkyPoint> At(std::int64_t t) const override {
        const double f = static_cast<double>(t - aos) / static_cast<double>(los - aos);
        SkyPoint p;
        p.timeMs = t;
        p.azimuthDeg = std::fmod(fromAz + sweep * f + 360.0, 360.0);
        p.elevationDeg = maxEl * std::sin(std::numbers::pi * f);
        p.rangeRateKmS = -6.0 + 12.0 * f;
        return p;
    }
    std::optional<Pass> PassFrom(std::int64_t t) override {
        if (t > los) return std::nullopt;
        return Pass{aos, (aos + los) / 2, los, maxEl, fromAz, std::fmod(fromAz + sweep, 360.0)};
    }
};

} // namespace tavrik::test
