#include "sky/Sgp4.h"

#include <cmath>
#include <numbers>

namespace tavrik {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// WGS-72, the constants element sets are fitted with (distances in earth radii,
// time in minutes inside the model).
constexpr double kEarthRadiusKm = 6378.135;
constexpr double kMu = 398600.8; // km^3/s^2
const double kXke = 60.0 / std::sqrt(kEarthRadiusKm * kEarthRadiusKm * kEarthRadiusKm / kMu);
constexpr double kJ2 = 0.001082616;
constexpr double kJ3 = -0.00000253881;
constexpr double kJ4 = -0.00000165597;
constexpr double kJ3OverJ2 = kJ3 / kJ2;
constexpr double kTwoThirds = 2.0 / 3.0;
constexpr double kDeepSpaceMinutes = 225.0;

} // namespace

std::optional<Sgp4> Sgp4::Create(const Tle& tle, std::string& why) {
    const std::string who =
        "element set " + tle.Label() + " (line " + std::to_string(tle.lineNumber) + ")";
    if (!(tle.ecco >= 0 && tle.ecco < 0.999)) {
        why = who + ": eccentricity " + std::to_string(tle.ecco) + " outside 0 to 0.999";
        return std::nullopt;
    }
    if (!(tle.noKozai > 0)) {
        why = who + ": mean motion <= 0";
        return std::nullopt;
    }
    Sgp4 m;
    m.epochJd_ = tle.epochJd;
    m.epochMs_ = tle.epochMs;
    m.epochRemainderMs_ = tle.epochRemainderMs;
    m.bstar_ = tle.bstar;
    m.ecco_ = tle.ecco;
    m.inclo_ = tle.inclo;
    m.nodeo_ = tle.nodeo;
    m.argpo_ = tle.argpo;
    m.mo_ = tle.mo;

    // Recover the Brouwer mean motion and semi-major axis from the Kozai mean motion.
    const double e = tle.ecco;
    const double theta = std::cos(tle.inclo);
    const double theta2 = theta * theta;
    const double beta2 = 1 - e * e; // beta0 squared
    const double beta = std::sqrt(beta2);
    const double a1 = std::pow(kXke / tle.noKozai, kTwoThirds);
    const double common = 0.75 * kJ2 * (3 * theta2 - 1) / (beta * beta2);
    const double del1 = common / (a1 * a1);
    const double a0 = a1 * (1 - del1 * (1.0 / 3.0 + del1 * (1 + 134.0 / 81.0 * del1)));
    const double del0 = common / (a0 * a0);
    const double n = tle.noKozai / (1 + del0);
    m.noUnkozai_ = n;
    // The 2006 revision takes the axis from the recovered mean motion.
    const double a = std::pow(kXke / n, kTwoThirds);
    m.ao_ = a;
    if (kTwoPi / n >= kDeepSpaceMinutes) {
        why = who + ": a deep-space orbit (period " + std::to_string(static_cast<int>(kTwoPi / n)) +
              " minutes, 225 or more), which this near-Earth model does not follow";
        return std::nullopt;
    }

    m.cosio_ = theta;
    m.sinio_ = std::sin(tle.inclo);
    m.x1mth2_ = 1 - theta2;
    m.x3thm1_ = 3 * theta2 - 1;
    m.x7thm1_ = 7 * theta2 - 1;
    m.con41_ = m.x3thm1_;

    // The density function's parameters: s and (q0 - s)^4, lowered for low perigees.
    const double perigeeKm = (a * (1 - e) - 1) * kEarthRadiusKm;
    double s = 78.0;
    if (perigeeKm < 156) s = perigeeKm < 98 ? 20.0 : perigeeKm - 78;
    const double q0ms4 = std::pow((120.0 - s) / kEarthRadiusKm, 4);
    s = s / kEarthRadiusKm + 1;
    m.simple_ = perigeeKm < 220;

    const double xi = 1 / (a - s);
    const double eta = a * e * xi;
    const double eta2 = eta * eta;
    const double eeta = e * eta;
    const double psi2 = std::fabs(1 - eta2);
    const double coef = q0ms4 * std::pow(xi, 4);
    const double coef1 = coef / std::pow(psi2, 3.5);
    m.eta_ = eta;

    const double c2 = coef1 * n *
                      (a * (1 + 1.5 * eta2 + eeta * (4 + eta2)) +
                       0.375 * kJ2 * xi / psi2 * m.con41_ * (8 + 3 * eta2 * (8 + eta2)));
    m.cc1_ = tle.bstar * c2;
    const double c3 = e > 1e-4 ? -2 * coef * xi * kJ3OverJ2 * n * m.sinio_ / e : 0.0;
    m.cc4_ = 2 * n * coef1 * a * beta2 *
             (eta * (2 + 0.5 * eta2) + e * (0.5 + 2 * eta2) -
              kJ2 * xi / (a * psi2) *
                  (-3 * m.con41_ * (1 - 2 * eeta + eta2 * (1.5 - 0.5 * eeta)) +
                   0.75 * m.x1mth2_ * (2 * eta2 - eeta * (1 + eta2)) * std::cos(2 * tle.argpo)));
    m.cc5_ = 2 * coef1 * a * beta2 * (1 + 2.75 * (eta2 + eeta) + eeta * eta2);

    // Secular rates of mean anomaly, perigee and node from J2 and J4.
    const double theta4 = theta2 * theta2;
    const double pinv2 = 1 / (a * a * beta2 * beta2);
    const double t1 = 1.5 * kJ2 * pinv2 * n;
    const double t2 = 0.5 * t1 * kJ2 * pinv2;
    const double t3 = -0.46875 * kJ4 * pinv2 * pinv2 * n;
    m.mdot_ =
        n + 0.5 * t1 * beta * m.con41_ + 0.0625 * t2 * beta * (13 - 78 * theta2 + 137 * theta4);
    m.argpdot_ = -0.5 * t1 * (1 - 5 * theta2) + 0.0625 * t2 * (7 - 114 * theta2 + 395 * theta4) +
                 t3 * (3 - 36 * theta2 + 49 * theta4);
    const double nodeRate1 = -t1 * theta;
    m.nodedot_ = nodeRate1 + (0.5 * t2 * (4 - 19 * theta2) + 2 * t3 * (3 - 7 * theta2)) * theta;
    m.nodecf_ = 3.5 * beta2 * nodeRate1 * m.cc1_;

    m.omgcof_ = tle.bstar * c3 * std::cos(tle.argpo);
    m.xmcof_ = e > 1e-4 ? -kTwoThirds * coef * tle.bstar / eeta : 0.0;
    m.t2cof_ = 1.5 * m.cc1_;
    // Long-period terms; the (1 + cos i) divisor is held off zero for retrograde
    // equatorial orbits.
    const double onePlusCos = std::fabs(1 + theta) > 1.5e-12 ? 1 + theta : 1.5e-12;
    m.xlcof_ = -0.25 * kJ3OverJ2 * m.sinio_ * (3 + 5 * theta) / onePlusCos;
    m.aycof_ = -0.5 * kJ3OverJ2 * m.sinio_;
    m.delmo_ = std::pow(1 + eta * std::cos(tle.mo), 3);
    m.sinmao_ = std::sin(tle.mo);

    if (!m.simple_) {
        const double c1sq = m.cc1_ * m.cc1_;
        m.d2_ = 4 * a * xi * c1sq;
        const double d3base = m.d2_ * xi * m.cc1_ / 3;
        m.d3_ = (17 * a + s) * d3base;
        m.d4_ = 0.5 * d3base * a * xi * (221 * a + 31 * s) * m.cc1_;
        m.t3cof_ = m.d2_ + 2 * c1sq;
        m.t4cof_ = 0.25 * (3 * m.d3_ + m.cc1_ * (12 * m.d2_ + 10 * c1sq));
        m.t5cof_ = 0.2 * (3 * m.d4_ + 12 * m.cc1_ * m.d3_ + 6 * m.d2_ * m.d2_ +
                          15 * c1sq * (2 * m.d2_ + c1sq));
    }
    // The model's state at epoch must itself be sound (a set already decayed is refused).
    std::array<double, 3> r, v;
    if (!m.Propagate(0, r, v, why)) {
        why = who + ": " + why;
        return std::nullopt;
    }
    return m;
}

double Sgp4::PeriodMinutes() const {
    return kTwoPi / noUnkozai_;
}

double Sgp4::MaxAngularRate() const {
    // At perigee the angular rate is n (1 + e)^2 / (1 - e^2)^1.5; drag and the
    // short-period terms add a little, hence the margin.
    const double e = ecco_ + 0.01;
    return 1.1 * noUnkozai_ * (1 + e) * (1 + e) / std::pow(1 - e * e, 1.5);
}

bool Sgp4::Propagate(double t, std::array<double, 3>& rKm, std::array<double, 3>& vKmS,
                     std::string& why) const {
    // Secular gravity and drag.
    const double mdf = mo_ + mdot_ * t;
    const double argpdf = argpo_ + argpdot_ * t;
    const double nodedf = nodeo_ + nodedot_ * t;
    const double t2 = t * t;
    double mp = mdf, argp = argpdf;
    const double node = nodedf + nodecf_ * t2;
    double tempa = 1 - cc1_ * t;
    double tempe = bstar_ * cc4_ * t;
    double templ = t2cof_ * t2;
    if (!simple_) {
        const double delomg = omgcof_ * t;
        const double delm = xmcof_ * (std::pow(1 + eta_ * std::cos(mdf), 3) - delmo_);
        mp = mdf + delomg + delm;
        argp = argpdf - delomg - delm;
        const double t3 = t2 * t, t4 = t3 * t;
        tempa -= d2_ * t2 + d3_ * t3 + d4_ * t4;
        tempe += bstar_ * cc5_ * (std::sin(mp) - sinmao_);
        templ += t3cof_ * t3 + t4 * (t4cof_ + t * t5cof_);
    }
    const double a = ao_ * tempa * tempa;
    const double n = kXke / std::pow(a, 1.5);
    double e = ecco_ - tempe;
    if (!(n > 0)) {
        why = "mean motion fell to zero " + std::to_string(t) +
              " minutes from the epoch: the orbit has decayed";
        return false;
    }
    if (e >= 1 || e < -0.001) {
        why = "eccentricity left 0-1 (" + std::to_string(e) + ") " + std::to_string(t) +
              " minutes from the epoch: the orbit has decayed";
        return false;
    }
    if (e < 1e-6) e = 1e-6;
    const double ml = mp + noUnkozai_ * templ;
    const double xl = std::fmod(ml + argp + node, kTwoPi);
    const double argpm = std::fmod(argp, kTwoPi);
    const double nodem = std::fmod(node, kTwoPi);

    // Long-period periodics.
    const double axn = e * std::cos(argpm);
    const double pInv = 1 / (a * (1 - e * e));
    const double ayn = e * std::sin(argpm) + pInv * aycof_;
    const double xlt = xl + pInv * xlcof_ * axn;

    // Kepler's equation for E + omega, Newton steps held to 0.95 radians.
    const double u = std::fmod(xlt - nodem, kTwoPi);
    double eo = u, sinEo = 0, cosEo = 1;
    for (int k = 0; k < 10; ++k) {
        sinEo = std::sin(eo);
        cosEo = std::cos(eo);
        double step = (u - ayn * cosEo + axn * sinEo - eo) / (1 - cosEo * axn - sinEo * ayn);
        if (std::fabs(step) >= 0.95) step = step > 0 ? 0.95 : -0.95;
        eo += step;
        if (std::fabs(step) < 1e-12) break;
    }
    sinEo = std::sin(eo);
    cosEo = std::cos(eo);

    // Short-period preliminaries.
    const double ecosE = axn * cosEo + ayn * sinEo;
    const double esinE = axn * sinEo - ayn * cosEo;
    const double el2 = axn * axn + ayn * ayn;
    const double pl = a * (1 - el2);
    if (pl < 0) {
        why = "semi-latus rectum below zero " + std::to_string(t) +
              " minutes from the epoch: the orbit has decayed";
        return false;
    }
    const double r = a * (1 - ecosE);
    const double rdot = kXke * std::sqrt(a) * esinE / r;
    const double rfdot = kXke * std::sqrt(pl) / r;
    const double betal = std::sqrt(1 - el2);
    const double k = esinE / (1 + betal);
    const double sinu = a / r * (sinEo - ayn - axn * k);
    const double cosu = a / r * (cosEo - axn + ayn * k);
    const double su = std::atan2(sinu, cosu);
    const double sin2u = 2 * sinu * cosu;
    const double cos2u = 1 - 2 * sinu * sinu;
    const double c1 = 0.5 * kJ2 / pl;
    const double c2 = c1 / pl;

    // Short-period periodics: the osculating quantities.
    const double rk = r * (1 - 1.5 * c2 * betal * con41_) + 0.5 * c1 * x1mth2_ * cos2u;
    const double uk = su - 0.25 * c2 * x7thm1_ * sin2u;
    const double nodek = nodem + 1.5 * c2 * cosio_ * sin2u;
    const double ik = inclo_ + 1.5 * c2 * cosio_ * sinio_ * cos2u;
    const double rdotk = rdot - n * c1 * x1mth2_ * sin2u;
    const double rfdotk = rfdot + n * c1 * (x1mth2_ * cos2u + 1.5 * con41_);
    if (rk < 1) {
        why = "the satellite is below the Earth's surface " + std::to_string(t) +
              " minutes from the epoch: the orbit has decayed";
        return false;
    }

    // Orientation vectors.
    const double sinuk = std::sin(uk), cosuk = std::cos(uk);
    const double sinik = std::sin(ik), cosik = std::cos(ik);
    const double sinnok = std::sin(nodek), cosnok = std::cos(nodek);
    const double mx = -sinnok * cosik, my = cosnok * cosik;
    const double ux = mx * sinuk + cosnok * cosuk;
    const double uy = my * sinuk + sinnok * cosuk;
    const double uz = sinik * sinuk;
    const double vx = mx * cosuk - cosnok * sinuk;
    const double vy = my * cosuk - sinnok * sinuk;
    const double vz = sinik * cosuk;
    const double vScale = kEarthRadiusKm / 60.0; // earth radii per minute to km/s
    rKm = {rk * ux * kEarthRadiusKm, rk * uy * kEarthRadiusKm, rk * uz * kEarthRadiusKm};
    vKmS = {(rdotk * ux + rfdotk * vx) * vScale, (rdotk * uy + rfdotk * vy) * vScale,
            (rdotk * uz + rfdotk * vz) * vScale};
    return true;
}

} // namespace tavrik
