#pragma once
// The satellite seen from the station: look angles, range and range rate,
// the sub-satellite point, and passes over a horizon mask, from every epoch
// of one satellite's element sets. UT1 is taken equal to UTC, as element-set
// practice does.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sky/Sgp4.h"
#include "sky/Tle.h"

namespace tavrik {

struct Observer {
    double latitudeDeg = 0, longitudeDeg = 0, altitudeM = 0; // WGS-84 geodetic
};

struct SkyPoint {
    std::int64_t timeMs = 0;
    double azimuthDeg = 0, elevationDeg = 0, rangeKm = 0,
           rangeRateKmS = 0;                                  // range rate > 0: receding
    double latitudeDeg = 0, longitudeDeg = 0, altitudeKm = 0; // the sub-satellite point
};

struct Pass {
    std::int64_t aosMs = 0, tcaMs = 0, losMs = 0;
    double maxElevationDeg = 0, aosAzimuthDeg = 0, losAzimuthDeg = 0;
};

class SkyPredictor {
  public:
    // `sets`: every epoch of one satellite (from SetsFor). Refuses with `why`:
    // no set, a bad set, an observer out of range (|lat| > 90, |lon| > 180).
    static std::optional<SkyPredictor> Create(std::vector<Tle> sets, Observer observer,
                                              double horizonDeg, std::string& why);

    // The set used at `timeMs`: the latest epoch at or before it, else the earliest.
    const Tle& SetAt(std::int64_t timeMs) const;
    std::optional<SkyPoint> At(std::int64_t timeMs, std::string* why = nullptr) const;
    // Passes whose LOS is after fromMs and AOS before untilMs, in order; a pass
    // in progress at fromMs is reported from its true AOS. AOS/LOS/TCA found by
    // root-finding, to the millisecond.
    // With `why`, the reason the search stopped early (the orbit decayed).
    std::vector<Pass> Passes(std::int64_t fromMs, std::int64_t untilMs,
                             std::string* why = nullptr) const;
    // The pass that contains `timeMs` (AOS <= t <= LOS), if any. It costs a pass
    // search (some tens of looks); for many moments, take Passes over their span
    // once and look each moment up there.
    std::optional<Pass> PassAt(std::int64_t timeMs) const;
    double HorizonDeg() const { return horizonDeg_; }
    const Observer& Station() const { return observer_; }

  private:
    struct Look; // elevation above the mask and how it moves, for the pass search
    SkyPredictor() = default;
    std::size_t IndexAt(std::int64_t timeMs) const;
    bool Earthfixed(double timeMs, double r[3], double v[3], std::string* why) const;
    bool LookAt(double timeMs, Look& look, std::string* why) const;
    std::optional<Pass> PassFrom(double aos, double limit, std::string* why) const;
    // Where the elevation crosses the mask in [a, b] (heights ha, hb of opposite signs).
    bool Crossing(double a, double ha, double b, double hb, double& root, std::string* why) const;

    std::vector<Tle> sets_; // sorted by epoch
    std::vector<Sgp4> models_;
    Observer observer_;
    double horizonDeg_ = 0;
    // The station, Earth-fixed (km), and its local frame's sines and cosines.
    double stationEcef_[3] = {0, 0, 0};
    double sinLat_ = 0, cosLat_ = 1, sinLon_ = 0, cosLon_ = 1;
};

// The Doppler shift of a downlink seen at the station: positive while approaching.
double DopplerShiftHz(double frequencyHz, double rangeRateKmS);

// Greenwich mean sidereal time (radians, 0..2pi) of a UT1 Julian date (IAU 1982).
double GreenwichSiderealTime(double jdUt1);

} // namespace tavrik
