#include "sky/SkyPredictor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tavrik {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180.0;
// WGS-84, the station's ellipsoid.
constexpr double kWgs84A = 6378.137;
constexpr double kWgs84F = 1 / 298.257223563;
constexpr double kWgs84E2 = kWgs84F * (2 - kWgs84F);
constexpr double kEarthRotation = 7.292115146706979e-5; // rad/s
constexpr double kLightKmS = 299792.458;
constexpr double kJ2000Ms = 946728000000.0; // 2000-01-01 12:00 UTC

// The pass search: steps near the horizon, the widest step the geometry allows,
// how far a pass in progress may reach back, and the roots' tolerance.
constexpr double kFineStepMs = 40000;
constexpr double kPassStepMs = 60000;
constexpr double kLongestPassMs = 4 * 3600000.0;
constexpr double kRootToleranceMs = 0.25;

// Greenwich mean sidereal time at a moment with its fraction of a millisecond.
double SiderealAt(double unixMs) {
    const double days = (unixMs - kJ2000Ms) / 86400000.0;
    const double t = days / 36525.0;
    const double seconds =
        67310.54841 + (876600.0 * 3600.0 + 8640184.812866) * t + (0.093104 - 6.2e-6 * t) * t * t;
    double theta = std::fmod(seconds * (2 * kPi / 86400.0), 2 * kPi);
    return theta < 0 ? theta + 2 * kPi : theta;
}

// Geodetic latitude, longitude (radians) and height (km) of an Earth-fixed point.
void Geodetic(const double r[3], double& lat, double& lon, double& height) {
    lon = std::atan2(r[1], r[0]);
    const double p = std::hypot(r[0], r[1]);
    lat = std::atan2(r[2], p * (1 - kWgs84E2));
    double n = kWgs84A;
    for (int i = 0; i < 3; ++i) { // each turn shrinks the error some 150 times
        const double s = std::sin(lat);
        n = kWgs84A / std::sqrt(1 - kWgs84E2 * s * s);
        const double h = p * std::cos(lat) + r[2] * s - kWgs84A * kWgs84A / n;
        lat = std::atan2(r[2], p * (1 - kWgs84E2 * n / (n + h)));
    }
    const double s = std::sin(lat);
    n = kWgs84A / std::sqrt(1 - kWgs84E2 * s * s);
    height = p * std::cos(lat) + r[2] * s - kWgs84A * kWgs84A / n;
}

double Degrees360(double rad) {
    double d = rad / kDeg;
    if (d < 0) d += 360;
    return d >= 360 ? d - 360 : d;
}

// The root of f in [a, b] (f(a), f(b) of opposite signs) by regula falsi with
// the Illinois step, to the tolerance; f may fail (the orbit decays).
template <typename F> bool Root(F&& f, double a, double fa, double b, double fb, double& root) {
    int side = 0;
    for (int i = 0; i < 60 && b - a > kRootToleranceMs; ++i) {
        double c = (a * fb - b * fa) / (fb - fa);
        // Keep the guess inside and off the ends, where the Illinois step crawls.
        const double w = b - a;
        c = std::clamp(c, a + 0.01 * w, b - 0.01 * w);
        double fc = 0;
        if (!f(c, fc)) return false;
        if ((fc < 0) == (fa < 0)) {
            a = c;
            fa = fc;
            if (side == -1) fb /= 2;
            side = -1;
        } else {
            b = c;
            fb = fc;
            if (side == 1) fa /= 2;
            side = 1;
        }
    }
    root = (a + b) / 2;
    return true;
}

} // namespace

struct SkyPredictor::Look {
    double height = 0;    // elevation minus the mask, degrees
    double rate = 0;      // d(elevation)/dt, degrees a second
    double clearance = 0; // central angle beyond the widest visible one, radians (> 0: unseen)
    double azimuth = 0;   // degrees
};

std::optional<SkyPredictor> SkyPredictor::Create(std::vector<Tle> sets, Observer observer,
                                                 double horizonDeg, std::string& why) {
    if (sets.empty()) {
        why = "no element set for the satellite";
        return std::nullopt;
    }
    if (!(std::fabs(observer.latitudeDeg) <= 90)) {
        why = "station latitude " + std::to_string(observer.latitudeDeg) + " is beyond ±90 degrees";
        return std::nullopt;
    }
    if (!(std::fabs(observer.longitudeDeg) <= 180)) {
        why = "station longitude " + std::to_string(observer.longitudeDeg) +
              " is beyond ±180 degrees";
        return std::nullopt;
    }
    if (!std::isfinite(observer.altitudeM) || std::fabs(observer.altitudeM) > 100000) {
        why = "station altitude " + std::to_string(observer.altitudeM) + " m is not on the Earth";
        return std::nullopt;
    }
    if (!(horizonDeg > -10 && horizonDeg < 90)) {
        why = "horizon mask " + std::to_string(horizonDeg) + " degrees is outside -10 to 90";
        return std::nullopt;
    }
    for (const Tle& t : sets)
        if (t.catalogue != sets.front().catalogue) {
            why = "element sets of more than one satellite (" +
                  std::to_string(sets.front().catalogue) + " and " + std::to_string(t.catalogue) +
                  ")";
            return std::nullopt;
        }
    SkyPredictor p;
    std::stable_sort(sets.begin(), sets.end(), [](const Tle& a, const Tle& b) {
        return a.epochMs != b.epochMs ? a.epochMs < b.epochMs
                                      : a.epochRemainderMs < b.epochRemainderMs;
    });
    for (const Tle& t : sets) {
        auto model = Sgp4::Create(t, why);
        if (!model) return std::nullopt;
        p.models_.push_back(*model);
    }
    p.sets_ = std::move(sets);
    p.observer_ = observer;
    p.horizonDeg_ = horizonDeg;
    const double lat = observer.latitudeDeg * kDeg, lon = observer.longitudeDeg * kDeg;
    p.sinLat_ = std::sin(lat);
    p.cosLat_ = std::cos(lat);
    p.sinLon_ = std::sin(lon);
    p.cosLon_ = std::cos(lon);
    const double n = kWgs84A / std::sqrt(1 - kWgs84E2 * p.sinLat_ * p.sinLat_);
    const double h = observer.altitudeM / 1000.0;
    p.stationEcef_[0] = (n + h) * p.cosLat_ * p.cosLon_;
    p.stationEcef_[1] = (n + h) * p.cosLat_ * p.sinLon_;
    p.stationEcef_[2] = (n * (1 - kWgs84E2) + h) * p.sinLat_;
    return p;
}

std::size_t SkyPredictor::IndexAt(std::int64_t timeMs) const {
    const auto later = std::upper_bound(sets_.begin(), sets_.end(), timeMs,
                                        [](std::int64_t t, const Tle& s) { return t < s.epochMs; });
    return later == sets_.begin() ? 0 : static_cast<std::size_t>(later - sets_.begin()) - 1;
}

const Tle& SkyPredictor::SetAt(std::int64_t timeMs) const {
    return sets_[IndexAt(timeMs)];
}

bool SkyPredictor::Earthfixed(double timeMs, double r[3], double v[3], std::string* why) const {
    const Sgp4& model = models_[IndexAt(static_cast<std::int64_t>(std::floor(timeMs)))];
    std::array<double, 3> rt, vt;
    std::string reason;
    if (!model.Propagate(model.MinutesSinceEpoch(timeMs), rt, vt, reason)) {
        if (why)
            *why =
                "element set " + SetAt(static_cast<std::int64_t>(timeMs)).Label() + ": " + reason;
        return false;
    }
    // TEME to Earth-fixed: a turn by the sidereal angle (UT1 taken as UTC, no polar motion).
    const double theta = SiderealAt(timeMs);
    const double c = std::cos(theta), s = std::sin(theta);
    r[0] = c * rt[0] + s * rt[1];
    r[1] = -s * rt[0] + c * rt[1];
    r[2] = rt[2];
    v[0] = c * vt[0] + s * vt[1] + kEarthRotation * r[1];
    v[1] = -s * vt[0] + c * vt[1] - kEarthRotation * r[0];
    v[2] = vt[2];
    return true;
}

std::optional<SkyPoint> SkyPredictor::At(std::int64_t timeMs, std::string* why) const {
    double r[3], v[3];
    if (!Earthfixed(static_cast<double>(timeMs), r, v, why)) return std::nullopt;
    const double d[3] = {r[0] - stationEcef_[0], r[1] - stationEcef_[1], r[2] - stationEcef_[2]};
    const double east = -sinLon_ * d[0] + cosLon_ * d[1];
    const double north = -sinLat_ * cosLon_ * d[0] - sinLat_ * sinLon_ * d[1] + cosLat_ * d[2];
    const double up = cosLat_ * cosLon_ * d[0] + cosLat_ * sinLon_ * d[1] + sinLat_ * d[2];
    SkyPoint p;
    p.timeMs = timeMs;
    p.rangeKm = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    p.rangeRateKmS = (d[0] * v[0] + d[1] * v[1] + d[2] * v[2]) / p.rangeKm;
    p.elevationDeg = std::atan2(up, std::hypot(east, north)) / kDeg;
    p.azimuthDeg = Degrees360(std::atan2(east, north));
    double lat = 0, lon = 0;
    Geodetic(r, lat, lon, p.altitudeKm);
    p.latitudeDeg = lat / kDeg;
    p.longitudeDeg = lon / kDeg;
    return p;
}

bool SkyPredictor::LookAt(double timeMs, Look& look, std::string* why) const {
    double r[3], v[3];
    if (!Earthfixed(timeMs, r, v, why)) return false;
    const double d[3] = {r[0] - stationEcef_[0], r[1] - stationEcef_[1], r[2] - stationEcef_[2]};
    const double east = -sinLon_ * d[0] + cosLon_ * d[1];
    const double north = -sinLat_ * cosLon_ * d[0] - sinLat_ * sinLon_ * d[1] + cosLat_ * d[2];
    const double up = cosLat_ * cosLon_ * d[0] + cosLat_ * sinLon_ * d[1] + sinLat_ * d[2];
    const double upRate = cosLat_ * cosLon_ * v[0] + cosLat_ * sinLon_ * v[1] + sinLat_ * v[2];
    const double range = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double rangeRate = (d[0] * v[0] + d[1] * v[1] + d[2] * v[2]) / range;
    const double horizontal = std::hypot(east, north);
    const double elevation = std::atan2(up, horizontal);
    look.height = elevation / kDeg - horizonDeg_;
    // d(sin el)/dt = (up' range - up range') / range^2, and d(el) = d(sin el) / cos el.
    look.rate = (upRate * range - up * rangeRate) / (range * range) / (horizontal / range) / kDeg;
    look.azimuth = Degrees360(std::atan2(east, north));
    // The central angle between station and satellite, against the widest one at
    // which the satellite can stand above the mask (a sphere through the station,
    // the mask lowered by a degree for the ellipsoid's vertical).
    const double rs =
        std::sqrt(stationEcef_[0] * stationEcef_[0] + stationEcef_[1] * stationEcef_[1] +
                  stationEcef_[2] * stationEcef_[2]);
    const double rr = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    const double cosGamma =
        (r[0] * stationEcef_[0] + r[1] * stationEcef_[1] + r[2] * stationEcef_[2]) / (rs * rr);
    const double gamma = std::acos(std::clamp(cosGamma, -1.0, 1.0));
    const double mask = (horizonDeg_ - 1) * kDeg;
    const double reach = rs * std::cos(mask) / rr;
    const double widest = reach >= 1 ? 0 : std::acos(reach) - mask;
    look.clearance = gamma - widest;
    return true;
}

bool SkyPredictor::Crossing(double a, double ha, double b, double hb, double& root,
                            std::string* why) const {
    // Newton's steps on the elevation with its exact rate, kept inside the
    // bracket (a bisection where a step would leave it): three or four looks.
    const bool rising = ha < 0;
    double t = a + (b - a) * ha / (ha - hb);
    for (int i = 0; i < 40 && b - a > kRootToleranceMs; ++i) {
        Look l;
        if (!LookAt(t, l, why)) return false;
        if ((l.height < 0) == rising)
            a = t;
        else
            b = t;
        const double step = l.rate != 0 ? -l.height / (l.rate / 1000.0) : 0;
        if (std::fabs(step) < kRootToleranceMs / 2 && l.rate != 0) {
            t += step;
            break;
        }
        t += step;
        if (!(t > a && t < b)) t = (a + b) / 2;
    }
    root = std::clamp(t, a, b);
    return true;
}

// The pass whose AOS lies at `aos`: steps on to the LOS, then finds TCA and LOS.
std::optional<Pass> SkyPredictor::PassFrom(double aos, double limit, std::string* why) const {
    Look start, prev, next;
    if (!LookAt(aos, start, why)) return std::nullopt;
    prev = start;
    double t = aos, turnLo = -1, turnHi = -1, rateLo = 0, rateHi = 0;
    for (;;) {
        const double tn = t + kPassStepMs;
        if (tn > limit) return std::nullopt;
        if (!LookAt(tn, next, why)) return std::nullopt;
        if (turnLo < 0 && prev.rate >= 0 && next.rate < 0) {
            turnLo = t, rateLo = prev.rate, turnHi = tn, rateHi = next.rate;
        }
        if (next.height < 0) break;
        t = tn;
        prev = next;
    }
    auto rate = [&](double at, double& value) {
        Look l;
        if (!LookAt(at, l, why)) return false;
        value = l.rate;
        return true;
    };
    // The culmination: where the elevation stops rising (a pass that never
    // turned between the steps peaks at its last step above the mask).
    double tca = t;
    if (turnLo >= 0 && rateLo > 0 && !Root(rate, turnLo, rateLo, turnHi, rateHi, tca))
        return std::nullopt;
    if (turnLo >= 0 && rateLo <= 0) tca = turnLo;
    Look top, end;
    if (!LookAt(tca, top, why)) return std::nullopt;
    // The LOS lies after both the culmination and the last step above the mask.
    const bool fromTop = tca >= t;
    double los = 0;
    if (!Crossing(fromTop ? tca : t, fromTop ? std::max(top.height, 0.0) : prev.height,
                  t + kPassStepMs, next.height, los, why) ||
        !LookAt(los, end, why))
        return std::nullopt;
    Pass pass;
    pass.aosMs = std::llround(aos);
    pass.tcaMs = std::llround(tca);
    pass.losMs = std::llround(los);
    pass.maxElevationDeg = top.height + horizonDeg_;
    pass.aosAzimuthDeg = start.azimuth;
    pass.losAzimuthDeg = end.azimuth;
    return pass;
}

std::vector<Pass> SkyPredictor::Passes(std::int64_t fromMs, std::int64_t untilMs,
                                       std::string* why) const {
    std::vector<Pass> passes;
    auto height = [&](double at, double& value) {
        Look l;
        if (!LookAt(at, l, why)) return false;
        value = l.height;
        return true;
    };
    auto rate = [&](double at, double& value) {
        Look l;
        if (!LookAt(at, l, why)) return false;
        value = l.rate;
        return true;
    };
    double t = static_cast<double>(fromMs);
    const double until = static_cast<double>(untilMs);
    Look here;
    if (!LookAt(t, here, why)) return passes;
    auto add = [&](double aos) {
        auto pass = PassFrom(aos, aos + kLongestPassMs, why);
        if (!pass) return false;
        // Where one element set gives way to the next, the elevation jumps: a
        // crossing found at such a jump is no pass (it never rises above the
        // mask, or it ends before the search or the pass before it). The
        // search goes on after it.
        if (pass->maxElevationDeg >= horizonDeg_ && pass->losMs > fromMs &&
            (passes.empty() || pass->aosMs > passes.back().losMs))
            passes.push_back(*pass);
        t = std::max(static_cast<double>(pass->losMs), aos) + 1000;
        return LookAt(t, here, why);
    };
    if (here.height >= 0) {
        // In a pass already: walk back to where it began (a satellite up the
        // whole time has its pass start where the walk gives up).
        double back = t;
        Look before = here, after = here;
        do {
            after = before;
            back -= kPassStepMs;
            if (!LookAt(back, before, why)) return passes;
        } while (before.height >= 0 && t - back < kLongestPassMs);
        double aos = back;
        if (before.height < 0 &&
            !Crossing(back, before.height, back + kPassStepMs, after.height, aos, why))
            return passes;
        if (aos >= until) return passes;
        if (!add(aos)) return passes;
    }
    while (t < until) {
        const double rateBound =
            models_[IndexAt(static_cast<std::int64_t>(t))].MaxAngularRate() / 60.0 +
            kEarthRotation; // rad/s
        const double skipMs = here.clearance / rateBound * 1000.0;
        if (skipMs > kFineStepMs) {
            t += skipMs;
            if (t >= until) break;
            if (!LookAt(t, here, why)) return passes;
            continue;
        }
        const double tn = t + kFineStepMs;
        Look next;
        if (!LookAt(tn, next, why)) return passes;
        double aos = -1;
        if (next.height >= 0) {
            if (!Crossing(t, here.height, tn, next.height, aos, why)) return passes;
        } else if (here.rate > 0 && next.rate < 0) {
            // A turn below the mask between the two: a short pass may hide in it.
            double peak = 0, peakHeight = 0;
            if (!Root(rate, t, here.rate, tn, next.rate, peak) || !height(peak, peakHeight))
                return passes;
            if (peakHeight >= 0 && !Crossing(t, here.height, peak, peakHeight, aos, why))
                return passes;
        }
        if (aos >= 0) {
            if (aos >= until) break;
            if (!add(aos)) return passes;
            continue;
        }
        t = tn;
        here = next;
    }
    return passes;
}

std::optional<Pass> SkyPredictor::PassAt(std::int64_t timeMs) const {
    Look here;
    if (!LookAt(static_cast<double>(timeMs), here, nullptr) || here.height < 0) return std::nullopt;
    const auto passes = Passes(timeMs, timeMs + 1);
    if (passes.empty() || passes.front().aosMs > timeMs || passes.front().losMs < timeMs)
        return std::nullopt;
    return passes.front();
}

double DopplerShiftHz(double frequencyHz, double rangeRateKmS) {
    return -frequencyHz * rangeRateKmS / kLightKmS;
}

double GreenwichSiderealTime(double jdUt1) {
    return SiderealAt((jdUt1 - 2440587.5) * 86400000.0);
}

} // namespace tavrik
