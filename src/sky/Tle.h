#pragma once
// Two-line element sets as NORAD publishes them: two- and three-line sets,
// several to a file, several epochs of one satellite. Every line is checked
// (checksum, columns, element ranges) so that a bad set never reaches the
// propagator; each refusal names its line.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

struct Tle {
    std::string name;         // line 0 of a three-line set, trimmed ("" for a two-line set)
    int catalogue = 0;        // NORAD catalogue number
    std::int64_t epochMs = 0; // the set's epoch, UTC milliseconds since 1970
    std::string line1, line2; // as read
    int lineNumber = 0;       // 1-based line of line 1 in its file (for messages)

    // The elements as the model names them, in the model's units.
    double epochJd = 0; // epoch as a Julian date (UTC), whole and fraction together
    // The exact epoch minus epochMs (0 <= r < 1): the fraction of a day is given to
    // 0.864 ms, and a millisecond is 7 m of orbit.
    double epochRemainderMs = 0;
    double bstar = 0;   // drag term, 1/earth radii
    double ndot = 0;    // first derivative of mean motion / 2, rev/day^2 (not used by SGP4)
    double nddot = 0;   // second derivative of mean motion / 6, rev/day^3 (not used by SGP4)
    double inclo = 0;   // inclination, radians
    double nodeo = 0;   // right ascension of the ascending node, radians
    double ecco = 0;    // eccentricity
    double argpo = 0;   // argument of perigee, radians
    double mo = 0;      // mean anomaly, radians
    double noKozai = 0; // mean motion as published (Kozai), radians per minute
    int revolution = 0; // revolution number at epoch
    int elementSet = 0; // element set number
    char classification = 'U';
    std::string designator; // international designator, trimmed

    // "ISS (ZARYA)" or, for a two-line set, the catalogue number.
    std::string Label() const;
};

struct TleFile {
    std::vector<Tle> sets;
    std::vector<std::string> errors; // each names the line number and the reason
};

// Every set of a file's text; what cannot be read goes to `errors` and is skipped.
TleFile ParseTles(std::string_view text);

// The sets of one satellite: by catalogue number ("12345") or by name
// (case-insensitive); sorted by epoch.
std::vector<Tle> SetsFor(const std::vector<Tle>& sets, std::string_view satellite);

// UTC milliseconds since 1970 as a Julian date, and back.
double JulianDate(std::int64_t unixMs);
std::int64_t UnixMsFromJulian(double jd);

} // namespace tavrik
