#pragma once
// SGP4 for near-Earth orbits (period under 225 minutes) as published in
// Spacetrack Report No. 3 (1980) with the 2006 revisions (Vallado et al.,
// "Revisiting Spacetrack Report #3"), WGS-72 constants as the element sets
// are fitted with. Deep-space sets are refused, not approximated.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "sky/Tle.h"

namespace tavrik {

class Sgp4 {
  public:
    // Refuses (nullopt, `why` set) a deep-space set (period >= 225 min),
    // eccentricity >= 0.999, mean motion <= 0.
    static std::optional<Sgp4> Create(const Tle& tle, std::string& why);

    // TEME position (km) and velocity (km/s) at `minutes` since the epoch;
    // false with `why` when the orbit decays.
    bool Propagate(double minutes, std::array<double, 3>& rKm, std::array<double, 3>& vKmS,
                   std::string& why) const;

    double EpochJd() const { return epochJd_; }
    // Minutes from the set's exact epoch to a moment (UTC milliseconds since 1970).
    double MinutesSinceEpoch(std::int64_t unixMs) const {
        return (static_cast<double>(unixMs - epochMs_) - epochRemainderMs_) / 60000.0;
    }
    // The same for a moment with a fraction of a millisecond (the pass search's roots).
    double MinutesSinceEpoch(double unixMs) const {
        return (unixMs - static_cast<double>(epochMs_) - epochRemainderMs_) / 60000.0;
    }
    // The mean motion bounds the angular speed seen from the Earth's centre:
    // radians per minute, a little above the fastest the orbit reaches (perigee).
    double MaxAngularRate() const;
    // The period from the recovered (Brouwer) mean motion, minutes.
    double PeriodMinutes() const;

  private:
    Sgp4() = default;

    double epochJd_ = 0;
    std::int64_t epochMs_ = 0;
    double epochRemainderMs_ = 0;
    // Mean elements at epoch.
    double bstar_ = 0, ecco_ = 0, inclo_ = 0, nodeo_ = 0, argpo_ = 0, mo_ = 0;
    double noUnkozai_ = 0; // recovered mean motion, rad/min
    double ao_ = 0;        // recovered semi-major axis, earth radii
    // Quantities fixed at epoch.
    double cosio_ = 0, sinio_ = 0, x1mth2_ = 0, x3thm1_ = 0, x7thm1_ = 0;
    double con41_ = 0, eta_ = 0;
    double mdot_ = 0, argpdot_ = 0, nodedot_ = 0, nodecf_ = 0;
    double cc1_ = 0, cc4_ = 0, cc5_ = 0, t2cof_ = 0, t3cof_ = 0, t4cof_ = 0, t5cof_ = 0;
    double d2_ = 0, d3_ = 0, d4_ = 0, delmo_ = 0, sinmao_ = 0, omgcof_ = 0, xmcof_ = 0;
    double xlcof_ = 0, aycof_ = 0;
    bool simple_ = false; // perigee under 220 km: the truncated drag terms
};

} // namespace tavrik
