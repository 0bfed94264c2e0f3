#pragma once
// Element sets made for a test: a near-circular orbit whose sub-satellite
// point crosses the station at a chosen moment (the set's epoch), so the pass
// around that moment is known without any outside data.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sky/SkyPredictor.h"
#include "sky/Tle.h"
#include "time/TimeArgument.h"

namespace tavrik::testing {

inline int TleChecksum(const std::string& line) {
    int sum = 0;
    for (const char c : line.substr(0, 68))
        sum += c == '-' ? 1 : (c >= '0' && c <= '9' ? c - '0' : 0);
    return sum % 10;
}

// A three-line set of catalogue 99999 whose orbit (inclination `incl`,
// `revPerDay`) passes over the station's zenith at `overheadMs`, its epoch.
inline std::string OverheadTle(double latDeg, double lonDeg, std::int64_t overheadMs,
                               double revPerDay = 15.2, double inclDeg = 97.6) {
    constexpr double kDeg = M_PI / 180.0;
    const double i = inclDeg * kDeg;
    // On the ascending half of the orbit, at the station's latitude...
    const double u = std::asin(std::sin(latDeg * kDeg) / std::sin(i));
    // ...and the node placed so that the satellite's right ascension is the station's.
    const double ra = GreenwichSiderealTime(JulianDate(overheadMs)) + lonDeg * kDeg;
    double raan = std::fmod(ra - std::atan2(std::cos(i) * std::sin(u), std::cos(u)), 2 * M_PI);
    if (raan < 0) raan += 2 * M_PI;
    double ma = std::fmod(u, 2 * M_PI);
    if (ma < 0) ma += 2 * M_PI;

    const DateTime t = UtcDateTime(overheadMs);
    const std::int64_t yearStart = UnixMilliseconds({t.year, 1, 1, 0, 0, 0, 0});
    const double day = 1.0 + static_cast<double>(overheadMs - yearStart) / 86'400'000.0;
    char l1[80], l2[80];
    std::snprintf(l1, sizeof l1,
                  "1 99999U 26001A   %02d%012.8f  .00000000  00000-0  00000-0 0  999",
                  t.year % 100, day);
    std::snprintf(l2, sizeof l2, "2 99999 %8.4f %8.4f 0001000   0.0000 %8.4f %11.8f    1",
                  inclDeg, raan / kDeg, ma / kDeg, revPerDay);
    std::string a(l1), b(l2);
    a += std::to_string(TleChecksum(a));
    b += std::to_string(TleChecksum(b));
    return "TAVRIK TEST\n" + a + "\n" + b + "\n";
}

} // namespace tavrik::testing
